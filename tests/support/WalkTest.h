// The fixture of the walk's tests: a folder of the test's own, the walk's view of the system, a
// recording window, and quick settings a test may change before it shreds.
#pragma once

#include "RecordingWindow.h"
#include "TestFiles.h"
#include "TestSettings.h"
#include "WalkOs.h"
#include "WorkerJob.h"

#include <gtest/gtest.h>

#include <algorithm>

using Bytes = std::vector<unsigned char>;

// Paths sorted, to compare what a listing delivers in the file system's order.
inline std::vector<std::string> Sorted(std::vector<std::string> paths)
{
    std::sort(paths.begin(), paths.end());
    return paths;
}

class WalkTest : public ::testing::Test
{
protected:
    // Shreds the paths as the items of one job, numbered from `first`; every notification must
    // come under the index of one of them.
    Notifications Shred(const std::vector<std::string>& paths, int first = 0)
    {
        std::vector<WorkerItem> items;
        for (const std::string& path : paths)
            items.push_back({path, static_cast<int32_t>(first + items.size()), false});
        const Notifications received = RunJob(window, settings, os, items);
        for (const Notification& n : received)
            EXPECT_TRUE(n.ItemIndex >= first &&
                        n.ItemIndex < first + static_cast<int>(items.size()))
                << n.ItemIndex;
        return received;
    }

    TempFolder folder;
    WalkOs os;
    RecordingWindow window;
    ShredSettings settings = QuickSettings();
};
