// The pass writers over real files: block sizes, pattern alignment, the fixed sequences of the
// DoD and Gutmann methods, fresh random data per block, how a pass ends when the file or the
// random source fails, and the provider context a job keeps open around its blocks' own.
#include "TestPaths.h"
#include "FakeShredOs.h"
#include "TestFiles.h"
#include "TestSettings.h"
#include "WorkerJob.h"
#include "engine/ShredOs.h"
#include "core/ShredThread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <ostream>
#include <sys/stat.h>

void PrintTo(const ProviderCall& call, std::ostream* out)
{
    static const char* const kinds[] = {"acquire", "draw", "release"};
    *out << kinds[call.What] << " " << std::hex << call.Context;
}

namespace {

using Bytes = std::vector<BYTE>;

// What one pass did to the file: the writes between one seek and the next.
struct PassRecord
{
    std::vector<unsigned> WriteSizes; // as asked
    Bytes Data;                       // as written, in order
    bool Contiguous = true;           // every write started where the last one ended
};

// The default provider of PROV_RSA_FULL, which an acquire loads and the last release unloads.
constexpr char ProviderModule[] = "rsaenh.dll";

// Real file calls, with every pass recorded. The fake logs, shortens and fails the calls.
class PassRecordingOs : public FakeShredOs
{
public:
    std::vector<PassRecord> Passes;
    // Size of each file when it was removed.
    std::vector<int64_t> RemovedSizes;
    // Whether the provider's module was loaded at each write.
    std::vector<bool> LoadedAtWrite;

    int64_t Seek(int descriptor, int64_t offset, int origin) override
    {
        position = FakeShredOs::Seek(descriptor, offset, origin);
        Passes.emplace_back();
        return position;
    }

    int Write(int descriptor, const void* data, unsigned count) override
    {
        LoadedAtWrite.push_back(::GetModuleHandleA(ProviderModule) != nullptr);
        const int result = FakeShredOs::Write(descriptor, data, count);
        // Every pass starts with a seek to the start; a write before one is a pass of its own.
        if (Passes.empty()) {
            ADD_FAILURE() << "a write before the first seek";
            Passes.emplace_back();
        }
        PassRecord& pass = Passes.back();
        pass.WriteSizes.push_back(count);
        pass.Contiguous = pass.Contiguous && position == static_cast<int64_t>(pass.Data.size());
        if (result > 0) {
            const auto* bytes = static_cast<const BYTE*>(data);
            pass.Data.insert(pass.Data.end(), bytes, bytes + result);
            position += result;
        }
        return result;
    }

    int Remove(const char* name) override
    {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (::GetFileAttributesExA(name, GetFileExInfoStandard, &data))
            RemovedSizes.push_back((int64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow);
        return FakeShredOs::Remove(name);
    }

private:
    int64_t position = 0;
};

// One worker with its recording seam, calling the pass writers on this thread.
struct Rig
{
    Rig()
    {
        os.RecordMessages = true;
        worker.ItemIndex = 5;
    }

    size_t Steps() { return CountCommand(os.Recorded(), ID_SHRED_STEP); }

    // A pass of random data, or of the pattern.
    int64_t Pass(bool random, int64_t length, const BYTE* pattern, int patternSize)
    {
        return random ? worker.WriteRandomPass(file.Get(), length)
                      : worker.WritePatternPass(file.Get(), length, pattern, patternSize);
    }

    PassRecordingOs os;
    SeamedWorker worker{os};
    std::string path;
    UniqueDescriptor file;
};

bool AllEqualTo(const Bytes& bytes, BYTE value)
{
    return std::all_of(bytes.begin(), bytes.end(), [&](BYTE b) { return b == value; });
}

bool Uniform(const Bytes& bytes)
{
    return !bytes.empty() && AllEqualTo(bytes, bytes.front());
}

Bytes Repeated(const Bytes& pattern, size_t length)
{
    Bytes bytes(length);
    for (size_t k = 0; k < length; ++k)
        bytes[k] = pattern[k % pattern.size()];
    return bytes;
}

Bytes Slice(const Bytes& bytes, size_t from, size_t count)
{
    return Bytes(bytes.begin() + from, bytes.begin() + std::min(bytes.size(), from + count));
}

class PassWriterTest : public ::testing::Test
{
protected:
    // A file of `size` bytes of 0xEE.
    std::string MakeFile(const std::string& name, size_t size)
    {
        const std::string path = folder / name;
        WriteBytes(path, Bytes(size, 0xEE));
        return path;
    }

    // Opens `path` (made as MakeFile does unless `size` is negative) for the rig's passes.
    bool Open(Rig& rig, const std::string& name, int64_t size, const std::string& path = "")
    {
        rig.path = size < 0 ? path : MakeFile(name, static_cast<size_t>(size));
        rig.file = OwnDescriptor(
            rig.os, ::_open(rig.path.c_str(), _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE));
        return rig.file.IsValid();
    }

    TempFolder folder;
};

TEST_F(PassWriterTest, PatternPassesWriteWholeBlocksOfThePatternThenTheRest)
{
    struct Case
    {
        Bytes Pattern;
        int Length;
        std::vector<unsigned> Writes;
    };
    const Case cases[] = {
        {{0x5A}, 1025, {1024, 1}},    {{0x92, 0x49, 0x24}, 2047, {1023, 1023, 1}},
        {{0x5A}, 1024, {1024}},       {{0x92, 0x49, 0x24}, 1024, {1023, 1}},
        {{0x92, 0x49, 0x24}, 2, {2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Pattern.size() << "-byte pattern, " << c.Length);
        Rig rig;
        ASSERT_TRUE(Open(rig, "pattern.bin", c.Length));

        EXPECT_EQ(rig.worker.WritePatternPass(rig.file.Get(), c.Length, c.Pattern.data(),
                                              static_cast<int>(c.Pattern.size())),
                  c.Length);
        rig.file.Reset();

        ASSERT_EQ(rig.os.Passes.size(), 1u);
        EXPECT_EQ(rig.os.Passes[0].WriteSizes, c.Writes);
        EXPECT_EQ(rig.Steps(), c.Writes.size());
        for (const Notification& n : rig.os.Recorded())
            EXPECT_EQ(n.ItemIndex, 5);
        EXPECT_EQ(rig.os.Calls.Count("flush"), 1);
        EXPECT_EQ(ReadBytes(rig.path), Repeated(c.Pattern, c.Length));
    }
}

TEST_F(PassWriterTest, APassThatGrowsTheFileOverwritesAndFlushesItsOldLengthFirst)
{
    // Data small enough for the file's own record would move to new clusters when the file
    // grows, and leave its old bytes behind in the record: they are overwritten there first.
    const BYTE pattern[] = {0x92, 0x49, 0x24};
    for (bool random : {false, true}) {
        SCOPED_TRACE(random ? "random pass" : "pattern pass");
        Rig rig;
        ASSERT_TRUE(Open(rig, "small.bin", 300));

        const int64_t covered = rig.Pass(random, 813, pattern, 3);
        // A second pass over the grown file writes it in one go.
        const int64_t again = rig.worker.WritePatternPass(rig.file.Get(), 813, pattern, 3);
        rig.file.Reset();

        EXPECT_EQ(covered, 813);
        EXPECT_EQ(again, 813);
        EXPECT_EQ(rig.os.Calls.Of({"write", "flush"}),
                  (std::vector<std::string>{"write:300", "flush", "write:513", "flush", "write:813",
                                            "flush"}));
        EXPECT_EQ(rig.Steps(), 3u);
        EXPECT_EQ(ReadBytes(rig.path), Repeated(Bytes(pattern, pattern + 3), 813));
    }
}

TEST_F(PassWriterTest, ALengthOfZeroWritesNothingButStillFlushes)
{
    const BYTE pattern[] = {0x11, 0x22, 0x33};
    for (bool random : {false, true}) {
        SCOPED_TRACE(random ? "random pass" : "pattern pass");
        Rig rig;
        ASSERT_TRUE(Open(rig, "zero.bin", 10));

        const int64_t written = rig.Pass(random, 0, pattern, 3);
        rig.file.Reset();

        EXPECT_EQ(written, 0);
        EXPECT_EQ(rig.os.Calls.Count("write"), 0u);
        EXPECT_EQ(rig.Steps(), 0u);
        EXPECT_EQ(rig.os.Calls.Count("draw"), 0u);
        EXPECT_EQ(rig.os.Calls.Count("seek"), 1u);
        EXPECT_EQ(rig.os.Calls.Count("flush"), 1);
        EXPECT_EQ(ReadBytes(rig.path), Bytes(10, 0xEE));
    }
}

TEST_F(PassWriterTest, RandomPassesDrawFreshDataForEveryBlock)
{
    Rig rig;
    ASSERT_TRUE(Open(rig, "random.bin", 2500));

    EXPECT_EQ(rig.worker.WriteRandomPass(rig.file.Get(), 2500), 2500);
    EXPECT_EQ(rig.worker.WriteRandomPass(rig.file.Get(), 2500), 2500);
    rig.file.Reset();

    // The last, shorter write is refilled too: one draw per write.
    ASSERT_EQ(rig.os.Passes.size(), 2u);
    EXPECT_EQ(rig.os.Passes[0].WriteSizes, (std::vector<unsigned>{1024, 1024, 452}));
    EXPECT_EQ(rig.os.Calls.Count("draw"), 6u);
    EXPECT_EQ(rig.Steps(), 6u);
    const Bytes& first = rig.os.Passes[0].Data;
    const Bytes& second = rig.os.Passes[1].Data;
    EXPECT_NE(Slice(first, 0, 1024), Slice(first, 1024, 1024));
    EXPECT_NE(Slice(first, 1024, 452), Slice(first, 2048, 452));
    EXPECT_NE(first, second);
    EXPECT_FALSE(Uniform(second));
    EXPECT_EQ(ReadBytes(rig.path), second);
}

TEST_F(PassWriterTest, DoDWritesAByteItsComplementRandomDataThenTwoMoreBytes)
{
    Rig rig;
    rig.os.FixedTime = true;
    rig.os.TimeValue = 1700000000;
    ASSERT_TRUE(Open(rig, "dod.bin", 3000));

    EXPECT_EQ(rig.worker.WriteDoDPasses(rig.file.Get(), 3000), 3000);
    rig.file.Reset();

    std::srand(static_cast<unsigned>(rig.os.TimeValue));
    const auto b1 = static_cast<BYTE>(std::rand());
    const auto b2 = static_cast<BYTE>(std::rand());
    const auto b3 = static_cast<BYTE>(std::rand());
    const auto& passes = rig.os.Passes;
    ASSERT_EQ(passes.size(), 7u);
    for (const PassRecord& pass : passes) {
        EXPECT_TRUE(pass.Contiguous);
        EXPECT_EQ(pass.Data.size(), 3000u);
    }
    EXPECT_TRUE(AllEqualTo(passes[0].Data, b1));
    EXPECT_TRUE(AllEqualTo(passes[1].Data, static_cast<BYTE>(~b1)));
    EXPECT_TRUE(AllEqualTo(passes[3].Data, b2));
    EXPECT_TRUE(AllEqualTo(passes[4].Data, b3));
    EXPECT_TRUE(AllEqualTo(passes[5].Data, static_cast<BYTE>(~b3)));
    EXPECT_FALSE(Uniform(passes[2].Data));
    EXPECT_FALSE(Uniform(passes[6].Data));
    EXPECT_NE(passes[2].Data, passes[6].Data);
    EXPECT_EQ(rig.Steps(), 7u * 3);
    EXPECT_EQ(ReadBytes(rig.path), passes[6].Data);
}

TEST_F(PassWriterTest, DoDWithinTheSameSecondReusesItsThreeBytes)
{
    Rig rig;
    rig.os.FixedTime = true;
    rig.os.TimeValue = 1700000000;
    rig.worker.SetSettings(SettingsOf(MethodDoD, 1, false));

    // Shreds one file and returns the first byte of each of its seven passes.
    auto shred = [&](const std::string& name) {
        const size_t before = rig.os.Passes.size();
        rig.worker.ShredFile(Shreddable(MakeFile(name, 700)), 512, false, "");
        Bytes firstBytes;
        for (size_t i = before; i < rig.os.Passes.size(); ++i)
            firstBytes.push_back(rig.os.Passes[i].Data.at(0));
        return firstBytes;
    };
    const Bytes first = shred("first.bin");
    // Whatever else used the thread's generator in between, each file reseeds it.
    std::srand(4242);
    std::rand();
    const Bytes second = shred("second.bin");
    rig.os.TimeValue += 1;
    const Bytes nextSecond = shred("third.bin");

    ASSERT_EQ(first.size(), 7u);
    ASSERT_EQ(second.size(), 7u);
    ASSERT_EQ(nextSecond.size(), 7u);
    for (int pass : {0, 1, 3, 4, 5})
        EXPECT_EQ(first[pass], second[pass]) << "pass " << pass + 1;
    std::srand(static_cast<unsigned>(rig.os.TimeValue));
    const auto b1 = static_cast<BYTE>(std::rand());
    const auto b2 = static_cast<BYTE>(std::rand());
    const auto b3 = static_cast<BYTE>(std::rand());
    EXPECT_EQ(nextSecond[0], b1);
    EXPECT_EQ(nextSecond[3], b2);
    EXPECT_EQ(nextSecond[4], b3);
    EXPECT_EQ(CountStatus(rig.os.Recorded(), StatusShredded), 3u);
}

TEST_F(PassWriterTest, GutmannWritesTheTableBetweenFourRandomPassesOnEachSide)
{
    const Bytes table[] = {
        {0x55, 0x55, 0x55}, {0xAA, 0xAA, 0xAA}, {0x92, 0x49, 0x24}, {0x49, 0x24, 0x92},
        {0x24, 0x92, 0x49}, {0x00, 0x00, 0x00}, {0x11, 0x11, 0x11}, {0x22, 0x22, 0x22},
        {0x33, 0x33, 0x33}, {0x44, 0x44, 0x44}, {0x55, 0x55, 0x55}, {0x66, 0x66, 0x66},
        {0x77, 0x77, 0x77}, {0x88, 0x88, 0x88}, {0x99, 0x99, 0x99}, {0xAA, 0xAA, 0xAA},
        {0xBB, 0xBB, 0xBB}, {0xCC, 0xCC, 0xCC}, {0xDD, 0xDD, 0xDD}, {0xEE, 0xEE, 0xEE},
        {0xFF, 0xFF, 0xFF}, {0x92, 0x49, 0x24}, {0x49, 0x24, 0x92}, {0x24, 0x92, 0x49},
        {0x6D, 0xB6, 0xDB}, {0xB6, 0xDB, 0x6D}, {0xDB, 0x6D, 0xB6},
    };
    Rig rig;
    ASSERT_TRUE(Open(rig, "gutmann.bin", 9));

    EXPECT_EQ(rig.worker.WriteGutmannPasses(rig.file.Get(), 9), 9);
    rig.file.Reset();

    const auto& passes = rig.os.Passes;
    ASSERT_EQ(passes.size(), 35u);
    for (size_t i = 0; i < 27; ++i)
        EXPECT_EQ(passes[4 + i].Data, Repeated(table[i], 9)) << "fixed pass " << i + 1;
    std::vector<Bytes> randomPasses;
    for (size_t i : {0, 1, 2, 3, 31, 32, 33, 34}) {
        ASSERT_EQ(passes[i].Data.size(), 9u);
        for (const Bytes& pattern : table)
            EXPECT_NE(passes[i].Data, Repeated(pattern, 9)) << "pass " << i + 1;
        for (const Bytes& earlier : randomPasses)
            EXPECT_NE(passes[i].Data, earlier) << "pass " << i + 1;
        randomPasses.push_back(passes[i].Data);
    }
    EXPECT_EQ(rig.Steps(), 35u);
    EXPECT_EQ(ReadBytes(rig.path), passes[34].Data);
}

TEST_F(PassWriterTest, OverwritingTailsCarriesEveryPassOneSectorAndAByteOnFromAnEmptyFile)
{
    struct Case
    {
        int Method;
        size_t Passes;
    };
    for (const Case c : {Case{MethodRandomData, 3}, Case{MethodDoD, 7}, Case{MethodGutmann, 35}}) {
        SCOPED_TRACE(testing::Message() << "method " << c.Method);
        Rig rig;
        rig.worker.SetSettings(SettingsOf(c.Method, 3, true));
        const std::string path = MakeFile("empty.bin", 0);

        rig.worker.ShredFile(Shreddable(path), 512, false, "");

        ASSERT_EQ(rig.os.Passes.size(), c.Passes);
        for (const PassRecord& pass : rig.os.Passes) {
            EXPECT_EQ(pass.Data.size(), 513u);
            EXPECT_TRUE(pass.Contiguous);
        }
        EXPECT_EQ(rig.os.RemovedSizes, std::vector<int64_t>{513});
        EXPECT_EQ(CountStatus(rig.os.Recorded(), StatusShredded), 1u);
        EXPECT_FALSE(Exists(path));
    }
}

TEST_F(PassWriterTest, AFlushThatKeepsFailingIsTriedThreeTimesAndFailsThePass)
{
    const BYTE pattern[] = {0x33};
    for (int failures : {2, 100}) {
        for (bool random : {false, true}) {
            SCOPED_TRACE(testing::Message() << failures << " failures, random " << random);
            Rig rig;
            for (int flush = 1; flush <= failures; ++flush)
                rig.os.Script.Fail(Call::Commit, flush, EIO);
            ASSERT_TRUE(Open(rig, "flush.bin", 1500));

            const int64_t covered = rig.Pass(random, 1500, pattern, 1);

            EXPECT_EQ(rig.os.Calls.Count("flush"), 3);
            EXPECT_EQ(covered, failures < 3 ? 1500 : 0);
        }
    }
}

TEST_F(PassWriterTest, OneUnflushedPassFailsTheWholeSequence)
{
    for (int failingPass : {1, 5, 7}) {
        SCOPED_TRACE(testing::Message() << "pass " << failingPass);
        Rig rig;
        rig.os.Script.FailInPass(Call::Commit, failingPass, EIO);
        ASSERT_TRUE(Open(rig, "sequence.bin", 100));

        EXPECT_LT(rig.worker.WriteDoDPasses(rig.file.Get(), 100), 100);
        // The sequence still runs to its end.
        EXPECT_EQ(rig.os.Passes.size(), 7u);
    }
    Rig rig;
    rig.os.Script.FailInPass(Call::Commit, 33, EIO);
    ASSERT_TRUE(Open(rig, "gutmann.bin", 100));
    EXPECT_LT(rig.worker.WriteGutmannPasses(rig.file.Get(), 100), 100);
}

TEST_F(PassWriterTest, AWriteThatFailsOrWritesNothingEndsThePass)
{
    const BYTE pattern[] = {0x92, 0x49, 0x24};
    // Pattern blocks are 1023 bytes, random blocks 1024.
    struct Case
    {
        int FailingCall;
        int Result;
        int64_t PatternCovered;
        int64_t RandomCovered;
    };
    for (const Case c :
         {Case{1, -1, 0, 0}, Case{1, 0, 0, 0}, Case{3, -1, 2046, 2048}, Case{2, 0, 1023, 1024}}) {
        for (bool random : {false, true}) {
            SCOPED_TRACE(testing::Message() << "write " << c.FailingCall << " gives " << c.Result
                                            << ", random " << random);
            Rig rig;
            if (c.Result < 0)
                rig.os.Script.Fail(Call::Write, c.FailingCall, ENOSPC);
            else
                rig.os.Script.Shorten(Call::Write, c.FailingCall, 0);
            ASSERT_TRUE(Open(rig, "failing.bin", 4000));

            const int64_t covered = rig.Pass(random, 4000, pattern, 3);

            EXPECT_EQ(rig.os.Calls.Count("write"), static_cast<size_t>(c.FailingCall));
            EXPECT_EQ(covered, random ? c.RandomCovered : c.PatternCovered);
        }
    }
}

TEST_F(PassWriterTest, AShortWriteAdvancesByWhatItWroteAndThePatternRunsOn)
{
    const Bytes pattern = {0x6D, 0xB6, 0xDB};
    Rig rig;
    rig.os.Script.Shorten(Call::Write, 1, 1000);
    rig.os.Script.Shorten(Call::Write, 2, 1);
    rig.os.Script.Shorten(Call::Write, 3, 512);
    ASSERT_TRUE(Open(rig, "short.bin", 2047));

    EXPECT_EQ(rig.worker.WritePatternPass(rig.file.Get(), 2047, pattern.data(), 3), 2047);
    rig.file.Reset();

    ASSERT_EQ(rig.os.Passes.size(), 1u);
    EXPECT_TRUE(rig.os.Passes[0].Contiguous);
    EXPECT_EQ(rig.os.Passes[0].Data, Repeated(pattern, 2047));
    EXPECT_EQ(ReadBytes(rig.path), Repeated(pattern, 2047));
}

TEST_F(PassWriterTest, AFailingRandomSourceStillGivesFreshNonZeroBlocks)
{
    auto checkBlocks = [](const Bytes& data) {
        for (size_t from = 0; from < data.size(); from += 1024) {
            const Bytes block = Slice(data, from, 1024);
            // Neither zeros nor any other constant fill.
            EXPECT_FALSE(Uniform(block)) << "block at " << from;
            if (from > 0) {
                EXPECT_NE(block, Slice(data, from - 1024, 1024)) << "block at " << from;
            }
        }
    };

    // Failing from the first draw of a new worker.
    Rig rig;
    rig.os.Script.FailAll(Call::RandomDraw, NTE_FAIL);
    ASSERT_TRUE(Open(rig, "failing.bin", 4096));
    EXPECT_EQ(rig.worker.WriteRandomPass(rig.file.Get(), 4096), 4096);
    EXPECT_EQ(rig.worker.WriteRandomPass(rig.file.Get(), 4096), 4096);
    rig.file.Reset();
    EXPECT_EQ(rig.os.Calls.Count("draw"), 8u);
    ASSERT_EQ(rig.os.Passes.size(), 2u);
    checkBlocks(rig.os.Passes[0].Data);
    checkBlocks(rig.os.Passes[1].Data);
    EXPECT_NE(rig.os.Passes[0].Data, rig.os.Passes[1].Data);
    EXPECT_EQ(ReadBytes(rig.path), rig.os.Passes[1].Data);

    // Another worker does not repeat the first one's fallback data.
    Rig other;
    other.os.Script.FailAll(Call::RandomDraw, NTE_FAIL);
    ASSERT_TRUE(Open(other, "", -1, rig.path));
    EXPECT_EQ(other.worker.WriteRandomPass(other.file.Get(), 1024), 1024);
    ASSERT_EQ(other.os.Passes.size(), 1u);
    EXPECT_NE(other.os.Passes[0].Data, Slice(rig.os.Passes[0].Data, 0, 1024));

    // Failing in the middle of a pass: the last good block is not written again.
    Rig midway;
    // A block is drawn before it is written: the second draw comes after the first write.
    midway.os.Script.FailFrom(Call::RandomDraw, 2, NTE_FAIL);
    ASSERT_TRUE(Open(midway, "", -1, rig.path));
    EXPECT_EQ(midway.worker.WriteRandomPass(midway.file.Get(), 3072), 3072);
    ASSERT_EQ(midway.os.Passes.size(), 1u);
    checkBlocks(midway.os.Passes[0].Data);
}

// The random source as a job uses it, seen through the seam.
class ProviderKeepAliveTest : public PassWriterTest
{
protected:
    // Runs one item as the launcher would and waits for its worker to end.
    void RunJob(PassRecordingOs& os, const ShredSettings& settings,
                const std::vector<std::string>& paths)
    {
        os.RecordMessages = true;
        WorkerJob job(nullptr, settings, &os);
        job.Start(paths);
        ASSERT_TRUE(job.Join());
    }
};

// Expects a job's calls of the random source: the context that keeps the provider loaded is
// acquired first and released last and never drawn from; each draw in between comes from a
// context acquired just before it and released just after it. Returns the number of draws.
size_t ExpectOneKeptContextAroundAFreshOnePerDraw(const std::vector<ProviderCall>& calls)
{
    using Call = ProviderCall;
    if (calls.size() < 5 || (calls.size() - 2) % 3 != 0) {
        ADD_FAILURE() << calls.size() << " calls of the random source";
        return 0;
    }
    const HCRYPTPROV kept = calls.front().Context;
    EXPECT_EQ(calls.front(), (Call{Call::Acquire, kept}));
    EXPECT_NE(kept, 0u);
    EXPECT_EQ(calls.back(), (Call{Call::Release, kept}));
    for (size_t i = 1; i + 1 < calls.size(); i += 3) {
        const HCRYPTPROV block = calls[i].Context;
        SCOPED_TRACE(testing::Message() << "call " << i);
        EXPECT_EQ(calls[i], (Call{Call::Acquire, block}));
        EXPECT_NE(block, 0u);
        EXPECT_EQ(calls[i + 1], (Call{Call::Draw, block}));
        EXPECT_EQ(calls[i + 2], (Call{Call::Release, block}));
    }
    return (calls.size() - 2) / 3;
}

TEST_F(ProviderKeepAliveTest, AJobKeepsOneContextOpenAroundAFreshContextForEveryBlock)
{
    struct Case
    {
        int Method;
        bool Mangle;
        size_t Draws; // of a 2500-byte file: three blocks per random pass
    };
    // The scrambled name's seed is drawn like a block, from a context of its own.
    for (const Case c : {Case{MethodRandomData, false, 6}, Case{MethodRandomData, true, 7},
                         Case{MethodDoD, false, 6}, Case{MethodGutmann, false, 24}}) {
        SCOPED_TRACE(testing::Message() << "method " << c.Method << ", mangle " << c.Mangle);
        PassRecordingOs os;
        ShredSettings settings = SettingsOf(c.Method, 2, false);
        settings.MangleDateAndTime = c.Mangle;
        const std::string path = MakeFile("job.bin", 2500);

        RunJob(os, settings, {path});

        EXPECT_EQ(ExpectOneKeptContextAroundAFreshOnePerDraw(os.ProviderCalls()), c.Draws);
        EXPECT_EQ(os.Calls.Count("acquire"), c.Draws + 1);
        EXPECT_EQ(os.Calls.Count("release"), c.Draws + 1);
        EXPECT_EQ(os.Calls.Count("draw"), c.Draws);
        EXPECT_EQ(os.Calls.Count("unpaired"), 0u);
        EXPECT_EQ(os.OpenProviderContexts(), 0u);
        EXPECT_EQ(CountStatus(os.Recorded(), StatusShredded), 1u);
        EXPECT_FALSE(Exists(path));
    }
}

TEST_F(ProviderKeepAliveTest, EachWorkerKeepsItsOwnContextForItsOwnItemOnly)
{
    PassRecordingOs os;
    RunJob(os, SettingsOf(MethodRandomData, 1, false),
           {MakeFile("one.bin", 2500), MakeFile("two.bin", 2500)});

    // The items are shredded one at a time, and the first worker's kept context is released
    // before the second worker acquires anything.
    const std::vector<ProviderCall> calls = os.ProviderCalls();
    ASSERT_FALSE(calls.empty());
    const auto firstEnd = std::find(calls.begin(), calls.end(),
                                    ProviderCall{ProviderCall::Release, calls.front().Context});
    ASSERT_NE(firstEnd, calls.end());
    EXPECT_EQ(ExpectOneKeptContextAroundAFreshOnePerDraw({calls.begin(), firstEnd + 1}), 3u);
    EXPECT_EQ(ExpectOneKeptContextAroundAFreshOnePerDraw({firstEnd + 1, calls.end()}), 3u);
    EXPECT_EQ(os.Calls.Count("unpaired"), 0u);
    EXPECT_EQ(os.OpenProviderContexts(), 0u);
}

TEST_F(ProviderKeepAliveTest, AJobThatWritesNoRandomBlockAcquiresNothing)
{
    // An empty file (no cluster tails), a missing one, and one on a network path.
    for (const std::string& path : {MakeFile("empty.bin", 0), folder / "missing.bin",
                                    std::string("\\\\server\\share\\file.bin")}) {
        SCOPED_TRACE(path);
        PassRecordingOs os;
        RunJob(os, SettingsOf(MethodGutmann, 1, false), {path});
        EXPECT_EQ(os.Calls.Count("acquire"), 0u);
        EXPECT_EQ(CountStatus(os.Recorded(), StatusFinished), 1u);
    }
}

TEST_F(ProviderKeepAliveTest, WithoutAKeptContextThePassRunsAsItWouldAnyway)
{
    // The first acquire is the one that would keep the provider loaded. It is not tried again,
    // and every block still draws from a context of its own.
    PassRecordingOs os;
    os.Script.Fail(Call::ProviderAcquire, 1, NTE_PROV_DLL_NOT_FOUND);
    RunJob(os, SettingsOf(MethodRandomData, 1, false), {MakeFile("unkept.bin", 2500)});

    using Call = ProviderCall;
    const std::vector<Call> calls = os.ProviderCalls();
    ASSERT_EQ(calls.size(), 10u);
    EXPECT_EQ(calls[0], (Call{Call::Acquire, 0}));
    std::vector<HCRYPTPROV> blockContexts;
    for (size_t i = 1; i < calls.size(); i += 3) {
        EXPECT_EQ(calls[i].What, Call::Acquire);
        EXPECT_NE(calls[i].Context, HCRYPTPROV{0});
        EXPECT_EQ(std::count(blockContexts.begin(), blockContexts.end(), calls[i].Context), 0)
            << "a block drew from an earlier block's context";
        blockContexts.push_back(calls[i].Context);
        EXPECT_EQ(calls[i + 1], (Call{Call::Draw, calls[i].Context}));
        EXPECT_EQ(calls[i + 2], (Call{Call::Release, calls[i].Context}));
    }
    EXPECT_EQ(os.Calls.Count("unpaired"), 0u);
    ASSERT_EQ(os.Passes.size(), 1u);
    const Bytes& data = os.Passes[0].Data;
    EXPECT_NE(Slice(data, 0, 1024), Slice(data, 1024, 1024));
    EXPECT_FALSE(Uniform(Slice(data, 2048, 452)));
    EXPECT_EQ(CountStatus(os.Recorded(), StatusShredded), 1u);

    // A block whose own acquire fails is filled all the same, and the kept context still goes.
    PassRecordingOs failingBlock;
    failingBlock.Script.Fail(::Call::ProviderAcquire, 3, NTE_PROV_DLL_NOT_FOUND);
    RunJob(failingBlock, SettingsOf(MethodRandomData, 1, false), {MakeFile("gap.bin", 2500)});
    EXPECT_EQ(failingBlock.Calls.Count("acquire"), 4u);
    EXPECT_EQ(failingBlock.Calls.Count("release"), 3u);
    EXPECT_EQ(failingBlock.Calls.Count("draw"), 2u);
    EXPECT_EQ(failingBlock.OpenProviderContexts(), 0u);
    ASSERT_EQ(failingBlock.Passes.size(), 1u);
    EXPECT_FALSE(Uniform(Slice(failingBlock.Passes[0].Data, 1024, 1024)));
    EXPECT_EQ(CountStatus(failingBlock.Recorded(), StatusShredded), 1u);
}

TEST_F(PassWriterTest, OutsideAJobNoContextIsKept)
{
    // Whoever calls the pass writers directly may change the worker's seam between calls: a
    // context kept through the old one could not be given back.
    Rig rig;
    ASSERT_TRUE(Open(rig, "direct.bin", 2500));
    EXPECT_EQ(rig.worker.WriteRandomPass(rig.file.Get(), 2500), 2500);

    EXPECT_EQ(rig.os.Calls.Count("acquire"), 3u);
    EXPECT_EQ(rig.os.Calls.Count("release"), 3u);
    EXPECT_EQ(rig.os.OpenProviderContexts(), 0u);
    EXPECT_EQ(rig.os.Calls.Count("unpaired"), 0u);
}

TEST_F(ProviderKeepAliveTest, TheRealProviderStaysLoadedBetweenBlocksUntilTheJobEnds)
{
    ASSERT_EQ(::GetModuleHandleA(ProviderModule), nullptr);
    PassRecordingOs os;
    os.RealProviderContexts = true;
    RunJob(os, SettingsOf(MethodRandomData, 2, false), {MakeFile("real.bin", 2500)});

    // Each write follows the release of its block's own context.
    EXPECT_EQ(os.LoadedAtWrite, std::vector<bool>(6, true));
    EXPECT_EQ(::GetModuleHandleA(ProviderModule), nullptr);
    EXPECT_EQ(os.Calls.Count("acquire"), 7u);
    EXPECT_EQ(os.Calls.Count("release"), 7u);
    EXPECT_EQ(os.Calls.Count("unpaired"), 0u);
    EXPECT_EQ(CountStatus(os.Recorded(), StatusShredded), 1u);
}

} // namespace
