// The free-space wipe on a real volume of its own (a 32 MiB tmpfs mapped as a drive, made anew for
// every case by tests/VolumeScenario.sh): the volume filled and given back, its files untouched,
// every pass written and flushed, a cancel half-way, the refusals (a full volume, a volume that
// says it is read-only, a network drive or path), a filler that cannot be written, what a crashed
// wipe left, the bound of the file records, and the shred jobs' lock. The engine's seam is
// fastened to the test volume: a call naming anything else fails and is counted.
#include "RegistryKeys.h"
#include "TestFiles.h"
#include "TestSettings.h"
#include "TestVolume.h"
#include "VolumeRun.h"
#include "WaitUntil.h"
#include "WipeOs.h"
#include "common/TextConversion.h"
#include "core/ShredThread.h"
#include "engine/PassSequences.h"
#include "engine/WipeReport.h"
#include "engine/WipeTarget.h"
#include "jobs/WipeThread.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint64_t MiB = 1ull << 20;

std::string FolderOf(const TestVolume& volume)
{
    return volume.Root + WipeFolderName;
}

std::string Flattened(const std::string& text)
{
    std::string flat = text;
    for (char& c : flat)
        if (c == '\n')
            c = ' ';
    return flat;
}

class FreeSpaceWipeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(RequireMountedTestVolume(volume));
        os = std::make_unique<WipeOs>(*volume);
        // Small fillers, so that a volume of 32 MiB takes several; a small reserve for records.
        options.Settings = QuickSettings();
        options.FillerFileSize = 4 * MiB;
        options.RecordReserve = 2 * MiB;
        Measure();
    }

    // The volume as the wipe will find it, once the case has made its own files.
    void Measure()
    {
        freeBefore = FreeBytesOf(*volume);
        before = SnapshotTree(Widen(volume->Drive));
    }

    void TearDown() override
    {
        if (os) {
            EXPECT_EQ(os->Calls.Count("outside"), 0u)
                << "the wipe named something outside the test volume";
        }
    }

    WipeResult Wipe() { return WipeTestVolume(*volume, *os, options, progress); }

    // The fillers the wipe wrote, by path, with the length each reached.
    std::map<std::string, uint64_t> Fillers()
    {
        std::map<std::string, uint64_t> fillers;
        for (const auto& [path, length] : os->WrittenLengths())
            if (path.find("\\Filler-") != std::string::npos)
                fillers[path] = length;
        return fillers;
    }

    // No wipe folder, and the free space the volume had before, and `more`.
    void ExpectNothingLeft(uint64_t more = 0)
    {
        EXPECT_FALSE(Exists(FolderOf(*volume)));
        EXPECT_EQ(FreeBytesOf(*volume), freeBefore + more)
            << "the volume did not get its space back";
    }

    void ExpectRefusedUntouched(const WipeResult& result, const std::string& refusal)
    {
        EXPECT_EQ(result.Outcome, WipeOutcome::Refused);
        EXPECT_EQ(result.Refusal, refusal);
        EXPECT_EQ(os->Calls.Count("mkdir"), 0u);
        EXPECT_EQ(os->Calls.Count("create"), 0u);
    }

    std::optional<TestVolume> volume;
    std::unique_ptr<WipeOs> os;
    WipeOptions options;
    WipeProgress progress;
    uint64_t freeBefore = 0;
    TreeSnapshot before;
};

TEST_F(FreeSpaceWipeTest, WipedVolumeHasItsFreeSpaceBackAndItsFilesAsTheyWere)
{
    MakeFolder(volume->Root + "Data");
    MakeFolder(volume->Root + "Data\\inner");
    WriteBytes(volume->Root + "Data\\report.bin", Pattern(300000, 1));
    WriteBytes(volume->Root + "Data\\inner\\notes.txt", Pattern(700, 2));
    WriteBytes(volume->Root + "photo.bin", Pattern(2 * MiB + 17, 3));
    WriteBytes(volume->Root + "deleted.bin", Pattern(MiB, 4));
    ASSERT_TRUE(::DeleteFileA((volume->Root + "deleted.bin").c_str()));
    Measure();

    const WipeResult result = Wipe();

    ASSERT_EQ(result.Outcome, WipeOutcome::Wiped) << Flattened(WipeResultLine(result));
    EXPECT_TRUE(result.Failures.empty());
    EXPECT_EQ(result.Volume, volume->Drive);
    // The fill took the whole free space (the volume's pages), and no more than it reported.
    EXPECT_LE(result.BytesWiped, freeBefore);
    EXPECT_GE(result.BytesWiped, freeBefore - 64 * 1024);
    const std::map<std::string, uint64_t> fillers = Fillers();
    EXPECT_GE(fillers.size(), freeBefore / options.FillerFileSize);
    for (const auto& [path, length] : fillers)
        EXPECT_LE(length, options.FillerFileSize) << path;
    EXPECT_GT(result.Records, 0u);
    EXPECT_EQ(progress.Records, result.Records);
    EXPECT_EQ(progress.BytesDone, result.BytesWiped);
    EXPECT_EQ(progress.BytesTotal, progress.BytesDone);
    EXPECT_EQ(progress.CurrentPhase(), WipePhase::Finished);

    ExpectNothingLeft();
    EXPECT_EQ(SnapshotTree(Widen(volume->Drive)), before) << "a file of the volume changed";
}

TEST_F(FreeSpaceWipeTest, DoDPassesCoverEveryFillerInTheirOrderEachFlushed)
{
    options.Settings = SettingsOf(MethodDoD, 1);

    const WipeResult result = Wipe();

    ASSERT_EQ(result.Outcome, WipeOutcome::Wiped) << Flattened(WipeResultLine(result));
    EXPECT_EQ(progress.BytesDone, 7 * result.BytesWiped);
    const auto starts = os->PassStarts();
    size_t fillers = 0;
    for (const auto& [path, passes] : starts) {
        if (path.find("\\Filler-") == std::string::npos || Fillers().at(path) == 0)
            continue;
        ++fillers;
        SCOPED_TRACE(path);
        ASSERT_EQ(passes.size(), 7u);
        // b1, its complement, random, b2, b3, b3's complement, random.
        const BYTE b1 = passes[0][0];
        const BYTE b3 = passes[4][0];
        for (size_t pass : {0, 1, 3, 4, 5})
            for (BYTE byte : passes[pass])
                EXPECT_EQ(byte, passes[pass][0]) << "pass " << pass + 1 << " is not one byte";
        EXPECT_EQ(passes[1][0], static_cast<BYTE>(~b1));
        EXPECT_EQ(passes[5][0], static_cast<BYTE>(~b3));
        EXPECT_NE(passes[2], passes[6]) << "the two random passes wrote the same bytes";
    }
    EXPECT_GT(fillers, 1u);
    // Each pass of each filler was flushed before the next began.
    EXPECT_GE(os->Calls.Count("flush"), 7 * fillers);
    ExpectNothingLeft();
}

TEST_F(FreeSpaceWipeTest, GutmannPatternsAreWrittenInTheirPublishedOrder)
{
    options.Settings = SettingsOf(MethodGutmann, 1);
    options.FillerFileSize = 16 * MiB;

    const WipeResult result = Wipe();

    ASSERT_EQ(result.Outcome, WipeOutcome::Wiped) << Flattened(WipeResultLine(result));
    EXPECT_EQ(progress.BytesDone, 35 * result.BytesWiped);
    const auto starts = os->PassStarts();
    const std::string first = FolderOf(*volume) + "\\Filler-000000.tmp";
    ASSERT_EQ(starts.count(first), 1u);
    const std::vector<std::vector<BYTE>>& passes = starts.at(first);
    ASSERT_EQ(passes.size(), 35u);
    for (int i = 0; i < GutmannPatternCount; ++i) {
        const std::vector<BYTE> expected = {GutmannPatterns[i][0], GutmannPatterns[i][1],
                                            GutmannPatterns[i][2], GutmannPatterns[i][0],
                                            GutmannPatterns[i][1], GutmannPatterns[i][2]};
        EXPECT_EQ(passes[4 + i], expected) << "pass " << 5 + i;
    }
    ExpectNothingLeft();
}

TEST_F(FreeSpaceWipeTest, CancelHalfWayStopsWithinASecondAndLeavesNothing)
{
    // Slow enough that half-way is seconds away: 35 passes of 1 MiB writes, 3 ms each.
    options.Settings = SettingsOf(MethodGutmann, 1);
    os->WriteDelayMs = 3;
    Clock::time_point cancelled{};
    uint64_t doneAtCancel = 0;
    std::thread canceller([&] {
        const auto halfWay = [&] {
            return progress.BytesTotal != 0 && progress.BytesDone * 2 >= progress.BytesTotal;
        };
        WaitUntil([&] { return halfWay() || progress.CurrentPhase() == WipePhase::Finished; },
                  60000, 5);
        if (!halfWay())
            return;
        doneAtCancel = progress.BytesDone;
        cancelled = Clock::now();
        progress.CancelRequested = true;
    });

    const WipeResult result = Wipe();
    const Clock::time_point ended = Clock::now();
    canceller.join();

    ASSERT_NE(doneAtCancel, 0u) << "the wipe ended before it was half-way";
    EXPECT_EQ(result.Outcome, WipeOutcome::Cancelled);
    EXPECT_TRUE(result.Failures.empty());
    EXPECT_LT(doneAtCancel, progress.BytesTotal);
    const auto stopped =
        std::chrono::duration_cast<std::chrono::milliseconds>(ended - cancelled).count();
    EXPECT_LT(stopped, 1000) << "the wipe took " << stopped << " ms to stop and clean up";
    std::printf("cancelled at %.0f%%, stopped and cleaned up %lld ms later\n",
                100.0 * doneAtCancel / progress.BytesTotal, static_cast<long long>(stopped));
    EXPECT_EQ(result.Records, 0u);
    // Given back, fillers and all: the volume is not left full.
    ExpectNothingLeft();
    EXPECT_NE(WipeResultLine(result).find("cancelled"), std::string::npos);
}

TEST_F(FreeSpaceWipeTest, FullVolumeIsReportedAndLeftAsItWas)
{
    // Filled by a file of the user's own, to the last byte the volume takes.
    const std::string path = volume->Root + "everything.bin";
    {
        const UniqueHandle file(
            ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        ASSERT_TRUE(file);
        const std::vector<unsigned char> block = Pattern(MiB, 9);
        for (DWORD piece = MiB; piece > 0;) {
            DWORD written = 0;
            if (!::WriteFile(file.Get(), block.data(), piece, &written, nullptr) || written == 0)
                piece /= 2;
        }
    }
    Measure();
    ASSERT_EQ(freeBefore, 0u);

    const WipeResult result = Wipe();

    ExpectRefusedUntouched(result, volume->Drive + " is full: there is no free space to wipe.");
    EXPECT_EQ(SnapshotTree(Widen(volume->Drive)), before);
}

TEST_F(FreeSpaceWipeTest, VolumeThatSaysItIsReadOnlyIsRefusedUntouched)
{
    os->ExtraVolumeFlags = FILE_READ_ONLY_VOLUME;

    const WipeResult result = Wipe();

    ExpectRefusedUntouched(result, volume->Drive + " is read-only: nothing can be written to "
                                                   "it, so its free space cannot be wiped.");
    EXPECT_EQ(WipeResultLine(result),
              "Free space on " + volume->Drive + " not wiped: " + result.Refusal);
}

TEST_F(FreeSpaceWipeTest, NetworkDriveAndNetworkPathAreRefusedUntouched)
{
    os->DriveType = DRIVE_REMOTE;

    const WipeResult result = Wipe();

    ExpectRefusedUntouched(result, volume->Drive + " is a network drive: its free space can "
                                                   "only be wiped on the computer that holds it.");
    // A path of a share is refused for what it is, before anything asks the network.
    EXPECT_EQ(WipeRefusal(*os, "\\\\server\\share\\"),
              std::optional<std::string>("\\\\server\\share is a network path: its free space "
                                         "can only be wiped on the computer that holds it."));
    EXPECT_EQ(os->Calls.Count("outside"), 0u);
}

TEST_F(FreeSpaceWipeTest, FillerThatCannotBeWrittenIsReportedAndNothingIsLeft)
{
    os->FailingWritesOf = "\\Filler-000002.tmp";
    os->WriteError = ERROR_ACCESS_DENIED;

    const WipeResult result = Wipe();

    EXPECT_EQ(result.Outcome, WipeOutcome::Failed);
    ASSERT_EQ(result.Failures.size(), 1u);
    EXPECT_EQ(result.Failures[0].What, FolderOf(*volume) + "\\Filler-000002.tmp");
    EXPECT_EQ(result.Failures[0].Why.rfind("could not be written: ", 0), 0u)
        << result.Failures[0].Why;
    EXPECT_NE(result.Failures[0].Why.find("(error 5)"), std::string::npos);
    // Two whole fillers were written before it; the records were never taken.
    EXPECT_EQ(result.BytesWiped, 2 * options.FillerFileSize);
    EXPECT_EQ(result.Records, 0u);
    ExpectNothingLeft();
    const std::string box = WipeResultBox(result);
    EXPECT_EQ(box.rfind("Error(s) occurred while wiping the free space of " + volume->Drive +
                            " \n\n" + result.Failures[0].What + ": \n" + result.Failures[0].Why +
                            "\n\n",
                        0),
              0u)
        << box;
}

TEST_F(FreeSpaceWipeTest, WhatACrashedWipeLeftIsRemovedBeforeTheNextFills)
{
    const std::string folder = FolderOf(*volume);
    MakeFolder(folder);
    MakeFolder(folder + "\\records");
    WriteBytes(folder + "\\Filler-000000.tmp", Pattern(3 * MiB, 5));
    WriteBytes(folder + "\\records\\QWERTYUI", Pattern(512, 6));
    Measure();

    const WipeResult result = Wipe();

    ASSERT_EQ(result.Outcome, WipeOutcome::Wiped) << Flattened(WipeResultLine(result));
    // The leftover's space was free again before the fill began, and the fill took it.
    EXPECT_GE(result.BytesWiped, freeBefore + 3 * MiB - 64 * 1024);
    ExpectNothingLeft(3 * MiB + 4096);
}

TEST_F(FreeSpaceWipeTest, FolderOfThatNameHoldingAnotherFileIsLeftAlone)
{
    const std::string folder = FolderOf(*volume);
    MakeFolder(folder);
    WriteBytes(folder + "\\Filler-000000.tmp", Pattern(MiB, 5));
    WriteText(folder + "\\notes.txt", "the user's own\n");
    Measure();

    const WipeResult result = Wipe();

    EXPECT_EQ(result.Outcome, WipeOutcome::Failed);
    ASSERT_EQ(result.Failures.size(), 1u);
    EXPECT_EQ(result.Failures[0].What, folder + "\\notes.txt");
    EXPECT_EQ(os->Calls.Count("create"), 0u);
    EXPECT_EQ(SnapshotTree(Widen(volume->Drive)), before);
}

TEST_F(FreeSpaceWipeTest, FileRecordsStopAtTheirBound)
{
    options.RecordBound = 25;

    const WipeResult result = Wipe();

    ASSERT_EQ(result.Outcome, WipeOutcome::Wiped) << Flattened(WipeResultLine(result));
    EXPECT_EQ(result.Records, 25u);
    ExpectNothingLeft();
}

TEST_F(FreeSpaceWipeTest, WipeWaitsForAShredAndCanBeCancelledMeanwhile)
{
    const Seam<ShredOs>::Substitute inPlace(*os);
    {
        // A shred holds the lock: the wipe waits, touching nothing, and a cancel ends it.
        CSingleLock shredding(&CShredThread::ShredLock, TRUE);
        WipeJob job;
        job.Root = volume->Root;
        job.Options = options;
        std::thread worker([&] { RunWipeJob(job, *os); });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(job.Progress.CurrentPhase(), WipePhase::Waiting);
        EXPECT_FALSE(job.Result());
        const Clock::time_point cancelled = Clock::now();
        job.Progress.CancelRequested = true;
        worker.join();
        EXPECT_LT(Clock::now() - cancelled, std::chrono::seconds(1));
        ASSERT_TRUE(job.Result());
        EXPECT_EQ(job.Result()->Outcome, WipeOutcome::Cancelled);
        EXPECT_EQ(os->Calls.Count("mkdir"), 0u);
    }
    {
        // Once the shred lets go, the wipe runs.
        CSingleLock shredding(&CShredThread::ShredLock, TRUE);
        WipeJob job;
        job.Root = volume->Root;
        job.Options = options;
        std::thread worker([&] { RunWipeJob(job, *os); });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(job.Progress.CurrentPhase(), WipePhase::Waiting);
        shredding.Unlock();
        worker.join();
        ASSERT_TRUE(job.Result());
        EXPECT_EQ(job.Result()->Outcome, WipeOutcome::Wiped);
    }
    ExpectNothingLeft();
}

} // namespace
