// Storage an overwrite in place does not reach (NTFS compression, the system's file compression,
// deduplication, cloud files, a volume that writes elsewhere): such a file is overwritten where
// it lies, or not opened at all when its data is not on this disk, and deleted, and never
// reported shredded. A sparse file is overwritten over its allocated ranges, not its holes. What
// the platform cannot make here (the attributes, tags and ranges) comes through the seam.
#include "TestPaths.h"
#include "HugeFileOs.h"
#include "WalkTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

namespace {

constexpr DWORD RecallOnDataAccess = 0x00400000;

struct Kind
{
    const char* Name;
    DWORD Attributes;
    DWORD Tag;
    ShredStatus Status;
    // Whether the file is opened for writing at all.
    bool Written;
};

class StorageKindsTest : public WalkTest
{};

TEST_F(StorageKindsTest, EachKindIsOverwrittenWhereItLiesDeletedAndSaysWhatMayRemain)
{
    const Kind kinds[] = {
        {"compressed.doc", FILE_ATTRIBUTE_COMPRESSED, 0, StatusCopiesRemainCompressed, true},
        {"system-compressed.exe", 0, IO_REPARSE_TAG_WOF, StatusCopiesRemainSystemCompressed, true},
        {"deduplicated.vhd", 0, IO_REPARSE_TAG_DEDUP, StatusCopiesRemainDeduplicated, true},
        {"synced.xlsx", 0, IO_REPARSE_TAG_CLOUD_3, StatusCopiesRemainCloud, true},
        {"placeholder.pptx", RecallOnDataAccess, IO_REPARSE_TAG_CLOUD,
         StatusCloudPlaceholderDeleted, false},
        {"offline.pst", FILE_ATTRIBUTE_OFFLINE, 0, StatusCloudPlaceholderDeleted, false},
        // Only ciphertext is on the disk: overwritten in place as any file.
        {"encrypted.key", FILE_ATTRIBUTE_ENCRYPTED, 0, StatusShredded, true},
        {"plain.txt", 0, 0, StatusShredded, true},
    };
    std::vector<std::string> paths;
    for (const Kind& kind : kinds) {
        const std::string path = folder / kind.Name;
        WriteBytes(path, Pattern(3000, 7));
        if (kind.Attributes)
            os.ExtraAttributes[path] = kind.Attributes;
        if (kind.Tag)
            os.ReparseTags[path] = kind.Tag;
        paths.push_back(path);
    }

    const Notifications received = Shred(paths);

    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.Name);
        const std::string path = folder / kind.Name;
        EXPECT_FALSE(Exists(path));
        EXPECT_EQ(os.Calls.Count("open", path), kind.Written ? 1u : 0u);
        // Each status as often as the kinds that end in it.
        const auto sharing =
            std::count_if(std::begin(kinds), std::end(kinds),
                          [&](const Kind& other) { return other.Status == kind.Status; });
        EXPECT_EQ(CountStatus(received, kind.Status), static_cast<size_t>(sharing));
    }
}

TEST_F(StorageKindsTest, OnAVolumeThatWritesElsewhereNoFileIsReportedShredded)
{
    os.FileSystemName = "ReFS";
    MakeFolder(folder / "dev");
    WriteBytes(folder / "dev\\main.cpp", Pattern(900, 1));
    WriteBytes(folder / "dev\\notes.md", Pattern(100, 2));

    const Notifications received = Shred({folder / "dev"});

    EXPECT_EQ(CountStatus(received, StatusCopiesRemainVolume), 2u);
    EXPECT_EQ(CountStatus(received, StatusShredded), 0u);
    EXPECT_FALSE(Exists(folder / "dev"));
}

// A sparse file of `length` bytes whose data lies in `allocated`, shredded with one random pass
// and cluster tails; what each pass wrote.
class SparseFileTest : public ::testing::Test
{
protected:
    HugeFileOs& Shred(int64_t length, std::vector<ByteRange> allocated)
    {
        os = std::make_unique<HugeFileOs>(length);
        os->Allocated = std::move(allocated);
        os->OverwriteLength = length + 513;
        const std::string path = folder / "sparse.vhdx";
        WriteText(path, "");
        SeamedWorker worker(*os, SettingsOf(MethodRandomData, 2, true, false));
        status = worker.ShredFile(Shreddable(path), 512, false, "");
        return *os;
    }

    TempFolder folder;
    std::unique_ptr<HugeFileOs> os;
    ShredStatus status = StatusFinished;
};

TEST_F(SparseFileTest, OnlyTheAllocatedRangesAreWrittenAndTheTailOnlyAfterAnAllocatedEnd)
{
    constexpr int64_t GiB = int64_t{1} << 30;
    const int64_t length = 10 * GiB;
    const std::vector<ByteRange> allocated{
        {0, 64 * 1024}, {5 * GiB, 128 * 1024}, {length - 4096, 4096}};

    HugeFileOs& done = Shred(length, allocated);

    EXPECT_EQ(status, StatusShredded);
    ASSERT_EQ(done.Passes.size(), 2u);
    for (const HugeFileOs::Pass& pass : done.Passes) {
        ASSERT_EQ(pass.Written.size(), 3u);
        EXPECT_EQ(pass.Written[0].Offset, 0);
        EXPECT_EQ(pass.Written[0].Length, 64 * 1024);
        EXPECT_EQ(pass.Written[1].Offset, 5 * GiB);
        EXPECT_EQ(pass.Written[1].Length, 128 * 1024);
        // The last range reaches the end: its cluster's slack follows it.
        EXPECT_EQ(pass.Written[2].Offset, length - 4096);
        EXPECT_EQ(pass.Written[2].Length, 4096 + 513);
        EXPECT_EQ(pass.Misplaced, 0);
    }
    // The bar counts what is written: (201,217 / 1024 + 1) * 2 steps.
    const Notifications recorded = done.Recorded();
    ASSERT_FALSE(recorded.empty());
    EXPECT_EQ(recorded.front().Id, (201217 / 1024 + 1) * 2);
    EXPECT_EQ(done.Calls.Count("remove"), 1u);

    // A file that ends in a hole has no slack to overwrite; a wholly empty one nothing at all.
    const HugeFileOs& endsInHole = Shred(GiB, {{4096, 8192}});
    EXPECT_EQ(status, StatusShredded);
    ASSERT_EQ(endsInHole.Passes.size(), 2u);
    EXPECT_EQ(endsInHole.Passes[0].Written.size(), 1u);
    EXPECT_EQ(endsInHole.Passes[0].Written[0].Offset, 4096);
    EXPECT_EQ(endsInHole.Passes[0].Written[0].Length, 8192);
    const HugeFileOs& holeOnly = Shred(GiB, {});
    EXPECT_EQ(status, StatusShredded);
    for (const HugeFileOs::Pass& pass : holeOnly.Passes)
        EXPECT_TRUE(pass.Written.empty());
}

TEST_F(SparseFileTest, RangesPastOneAnswerAreAskedForAgain)
{
    // More ranges than one answer of the volume holds.
    std::vector<ByteRange> allocated;
    for (int i = 0; i < 150; ++i)
        allocated.push_back({int64_t{i} * 1024 * 1024, 4096});

    const HugeFileOs& done = Shred(int64_t{200} << 20, allocated);

    EXPECT_EQ(status, StatusShredded);
    ASSERT_EQ(done.Passes.size(), 2u);
    ASSERT_EQ(done.Passes[1].Written.size(), allocated.size());
    EXPECT_EQ(done.Passes[1].Written.back().Offset, allocated.back().Offset);
    EXPECT_EQ(done.Passes[1].Bytes, 150 * 4096);
}

} // namespace
