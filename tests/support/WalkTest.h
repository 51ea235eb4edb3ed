// The fixture of the walk's tests: a folder of the test's own, the walk's view of the system, a
// recording window, and quick settings a test may change before it shreds.
#pragma once

#include "RecordingWindow.h"
#include "TestFiles.h"
#include "TestSettings.h"
#include "WalkOs.h"
#include "WorkerJob.h"

#include <gtest/gtest.h>

class WalkTest : public ::testing::Test
{
protected:
    Notifications Shred(const std::vector<WorkerItem>& items)
    {
        return RunJob(window, settings, os, items);
    }

    TempFolder folder;
    WalkOs os;
    RecordingWindow window;
    ShredSettings settings = QuickSettings();
};
