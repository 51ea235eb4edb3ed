// A volume mounted read-only (an 8 MiB tmpfs holding a file, made for every case by
// tests/VolumeScenario.sh): the wipe, in this program and from rundll32's command line, reports
// that it cannot write to the volume's root and leaves the volume exactly as it was. Under Wine
// such a volume says it is read-only neither in its flags nor in the error of a refused write
// ("access denied"); one that says so in its flags is refused as read-only before anything is
// tried (FreeSpaceWipeTest, through the seam).
#include "TestFiles.h"
#include "TestVolume.h"
#include "VolumeRun.h"
#include "WipeOs.h"
#include "common/TextConversion.h"
#include "core/WipeJob.h"
#include "engine/WipeReport.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

class WipeReadOnlyVolumeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(RequireMountedTestVolume(volume));
        before = SnapshotTree(Widen(volume->Drive));
        // The volume's token is there to read, and nothing can be added.
        ASSERT_FALSE(before.empty());
        ASSERT_FALSE(::CreateDirectoryA((volume->Root + "probe").c_str(), nullptr));
    }

    std::string Failure() const
    {
        return "no access to the root (the folder for the filler files could not be made): " +
               SystemErrorText(ERROR_ACCESS_DENIED);
    }

    std::optional<TestVolume> volume;
    TreeSnapshot before;
};

} // namespace

TEST_F(WipeReadOnlyVolumeTest, WipeReportsNoAccessToTheRootAndLeavesTheVolumeAsItWas)
{
    WipeOs os(*volume);
    WipeOptions options;
    WipeProgress progress;

    const WipeResult result = WipeTestVolume(*volume, os, options, progress);

    EXPECT_EQ(result.Outcome, WipeOutcome::Failed);
    ASSERT_EQ(result.Failures.size(), 1u);
    EXPECT_EQ(result.Failures[0].What, volume->Root);
    EXPECT_EQ(result.Failures[0].Why, Failure());
    EXPECT_EQ(result.BytesWiped, 0u);
    EXPECT_EQ(os.Calls.Count("create"), 0u);
    EXPECT_EQ(os.Calls.Count("outside"), 0u);
    EXPECT_EQ(SnapshotTree(Widen(volume->Drive)), before);
}

TEST_F(WipeReadOnlyVolumeTest, CommandLineEndsWithTheFailuresStatusAndLine)
{
    const RundllWipe command(ORLENWICK_DLL_PATH);
    ASSERT_TRUE(command.Copied());

    const ProgramRun run = command.Run(volume->Drive + " /quiet", 60000);

    EXPECT_EQ(run.ExitCode, WipeExitFailed) << run.Output;
    EXPECT_EQ(run.Output, "Free space on " + volume->Drive +
                              " not wiped completely: 0 bytes, 0 file records; 1 error: " +
                              volume->Root + ": " + Failure() + "\r\n");
    EXPECT_EQ(SnapshotTree(Widen(volume->Drive)), before);
}
