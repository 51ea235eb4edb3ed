// The volume facts a worker gathers before it touches its item: network paths refused, the tail
// length from the sector size, and whether the volume is NTFS.
#include "FakeShredOs.h"
#include "RecordingWindow.h"
#include "TestFiles.h"
#include "WorkerJob.h"
#include "core/ShredThread.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

// Every file call that named a path.
std::vector<std::string> Touched(const FakeShredOs& os)
{
    return os.Calls.Of({"attributes", "remove", "find", "check", "open"});
}

struct Probe
{
    bool Accepted;
    int TailLength;
    bool Ntfs;
};

class VolumeProbeTest : public ::testing::Test
{
protected:
    VolumeProbeTest() { os.RecordMessages = true; }

    // Probes twice, the out-parameters starting once at each NTFS answer, so that a value the
    // probe leaves alone shows; the roots asked are those of the second probe.
    Probe Run(const std::string& path, const std::string& itemPath)
    {
        SeamedWorker worker(os);
        worker.ItemPath = itemPath;
        Probe first{false, -7, true};
        first.Accepted = worker.ProbeVolume(path, first.TailLength, first.Ntfs);
        os.Calls.Clear();
        Probe second{false, -7, false};
        second.Accepted = worker.ProbeVolume(path, second.TailLength, second.Ntfs);
        EXPECT_EQ(first.Accepted, second.Accepted);
        EXPECT_EQ(first.TailLength, second.TailLength);
        if (first.Accepted) {
            EXPECT_EQ(first.Ntfs, second.Ntfs) << "the NTFS flag was left as it was";
        } else {
            EXPECT_EQ(first.TailLength, -7) << "a refusal writes nothing";
            EXPECT_TRUE(first.Ntfs && !second.Ntfs) << "a refusal writes nothing";
        }
        return first;
    }
    Probe Run(const std::string& path) { return Run(path, path); }

    FakeShredOs os;
};

TEST_F(VolumeProbeTest, ALocalPathGivesTheSectorSizeAndTheFileSystem)
{
    os.BytesPerSector = 4096;
    const Probe probe = Run("C:\\data\\report.doc");
    EXPECT_TRUE(probe.Accepted);
    EXPECT_EQ(probe.TailLength, 4096);
    EXPECT_TRUE(probe.Ntfs);
    EXPECT_EQ(os.Calls.Details("diskspace"), std::vector<std::string>{"C:\\"});
    EXPECT_EQ(os.Calls.Details("volume"), std::vector<std::string>{"\\\\.\\c:\\"});
}

TEST_F(VolumeProbeTest, ANetworkPathIsRefusedWithoutAQuery)
{
    SeamedWorker worker(os);
    worker.ItemPath = "\\\\server\\share\\file.txt";
    int tailLength = -7;
    bool ntfs = true;
    EXPECT_FALSE(worker.ProbeVolume(worker.ItemPath, tailLength, ntfs));
    EXPECT_EQ(tailLength, -7);
    EXPECT_TRUE(ntfs);
    EXPECT_EQ(worker.ShredItem(worker.ItemPath), 2);
    EXPECT_EQ(os.Calls.Count("diskspace"), 0u);
    EXPECT_EQ(os.Calls.Count("volume"), 0u);
    EXPECT_TRUE(Touched(os).empty());
    EXPECT_TRUE(os.Recorded().empty());
}

TEST(NetworkWorkerTest, ReportsNetworkAbortedThenFinishedAndTouchesNothing)
{
    RecordingWindow window;
    FakeShredOs os;
    const Notifications received =
        RunJob(window, ShredSettings(), os, {{"\\\\server\\share\\file.txt", 4, false}});
    EXPECT_EQ(Describe(received), (std::vector<std::string>{"S:1040", "S:1041"}));
    for (const Notification& n : received)
        EXPECT_EQ(n.ItemIndex, 4);
    EXPECT_TRUE(Touched(os).empty());
    EXPECT_EQ(os.Calls.Count("diskspace"), 0u);
}

struct FileSystemCase
{
    const char* Name;
    DWORD Flags;
    // Named streams searched for, and the volume writes elsewhere.
    bool Ntfs;
    bool WritesElsewhere;
};

void PrintTo(const FileSystemCase& c, std::ostream* out)
{
    *out << '"' << c.Name << "\" " << std::hex << c.Flags;
}

class FileSystemNameTest : public VolumeProbeTest,
                           public ::testing::WithParamInterface<FileSystemCase>
{};

TEST_P(FileSystemNameTest, OnlyAVolumeThatReportsNamedStreamsIsSearchedForThem)
{
    os.FileSystemName = GetParam().Name;
    os.FileSystemFlags = GetParam().Flags;
    EXPECT_EQ(Run("C:\\data\\report.doc").Ntfs, GetParam().Ntfs);

    TempFolder folder;
    const std::string path = folder / "item.txt";
    WriteText(path, "item");
    os.UseBackupRecords = true;
    os.Records = {BackupRecord{BACKUP_ALTERNATE_DATA, L":a:$DATA", 4}};
    SeamedWorker worker(os);
    worker.ItemPath = path;
    worker.Settings.Passes = 1;
    worker.Settings.MangleDateAndTime = false;
    os.RecordMessages = true;
    EXPECT_EQ(worker.ShredItem(path), 1);
    EXPECT_EQ(os.Calls.Details("backupopen"),
              GetParam().Ntfs ? std::vector<std::string>{path} : std::vector<std::string>{});
    // The listed stream cannot be opened here (Wine has none), so with named streams it keeps
    // the file.
    EXPECT_EQ(Exists(path), GetParam().Ntfs);
    // Without them, the file goes, reported as shredded only where writes stay in place.
    if (!GetParam().Ntfs) {
        EXPECT_EQ(CountStatus(os.Recorded(), GetParam().WritesElsewhere ? StatusCopiesRemainVolume
                                                                        : StatusShredded),
                  1u);
    }
}

constexpr DWORD NamedStreams = FILE_CASE_PRESERVED_NAMES | FILE_NAMED_STREAMS;
// What Wine reports for every drive, NTFS or not.
constexpr DWORD WineFlags = FILE_CASE_SENSITIVE_SEARCH | FILE_CASE_PRESERVED_NAMES;

INSTANTIATE_TEST_SUITE_P(Volumes, FileSystemNameTest,
                         ::testing::Values(FileSystemCase{"NTFS", NamedStreams, true, false},
                                           FileSystemCase{"ntfs", NamedStreams, true, false},
                                           FileSystemCase{"ReFS", NamedStreams, true, true},
                                           FileSystemCase{"NTFS", WineFlags, false, false},
                                           FileSystemCase{"ReFS", WineFlags, false, true},
                                           FileSystemCase{"FAT32", WineFlags, false, false},
                                           FileSystemCase{"exFAT", 0, false, false}),
                         [](const ::testing::TestParamInfo<FileSystemCase>& info) {
                             return std::string(info.param.Name) +
                                    (info.param.Ntfs ? "WithStreams" : "Without");
                         });

TEST_F(VolumeProbeTest, AFailingVolumeQueryMeansNotNtfs)
{
    os.Script.FailAll(Call::VolumeInformation, ERROR_NOT_READY);
    const Probe probe = Run("C:\\data\\report.doc");
    EXPECT_TRUE(probe.Accepted);
    EXPECT_FALSE(probe.Ntfs);
    EXPECT_EQ(probe.TailLength, 512);
}

TEST_F(VolumeProbeTest, AFailingSectorQueryGivesTailLengthZeroAndOneByteTails)
{
    os.Script.FailAll(Call::DiskFreeSpace, ERROR_NOT_READY);
    const Probe probe = Run("C:\\data\\report.doc");
    EXPECT_TRUE(probe.Accepted);
    EXPECT_EQ(probe.TailLength, 0);
    EXPECT_TRUE(probe.Ntfs);

    TempFolder folder;
    const std::string path = folder / "tail.bin";
    WriteBytes(path, std::vector<unsigned char>(100, 0x5A));
    os.Script.FailAll(Call::Remove, EACCES);
    SeamedWorker worker(os);
    worker.ItemPath = path;
    worker.Settings.ShreddingMethod = MethodRandomData;
    worker.Settings.Passes = 3;
    worker.Settings.OverwriteTails = true;
    worker.Settings.MangleDateAndTime = false;
    EXPECT_EQ(worker.ShredItem(path), 1);
    // The first pass overwrites the old bytes, flushes them, and only then grows the file.
    EXPECT_EQ(os.Calls.Details("write"), (std::vector<std::string>{"100", "1", "101", "101"}));
    EXPECT_EQ(ReadBytes(path).size(), 101u);
}

TEST_F(VolumeProbeTest, TheProbedPathDecidesWhateverTheWorkersItemPath)
{
    // A Recycle Bin worker has no ItemPath of its own.
    Probe probe = Run("C:\\x\\y.txt", "");
    EXPECT_TRUE(probe.Accepted);
    EXPECT_TRUE(probe.Ntfs);
    EXPECT_EQ(os.Calls.Details("volume"), std::vector<std::string>{"\\\\.\\c:\\"});
    EXPECT_FALSE(Run("\\\\server\\share\\f", "").Accepted);

    // Nor does another item's path lend its drive or its refusal.
    probe = Run("D:\\entry.txt", "\\\\server\\share\\item");
    EXPECT_TRUE(probe.Accepted);
    EXPECT_EQ(os.Calls.Details("diskspace"), std::vector<std::string>{"D:\\"});
    EXPECT_EQ(os.Calls.Details("volume"), std::vector<std::string>{"\\\\.\\d:\\"});
    EXPECT_FALSE(Run("\\\\server\\share\\f", "C:\\item.txt").Accepted);
}

} // namespace
