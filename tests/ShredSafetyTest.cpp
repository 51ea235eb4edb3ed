// What the engine refuses or keeps so that it never destroys less, or more, than the file it was
// given: files past 2 GiB, overwrites that fell short, names too long or holding wildcards,
// unexpected open errors, and files whose attributes would stop the overwrite.
#include "TestPaths.h"
#include "FakeShredOs.h"
#include "HugeFileOs.h"
#include "MessageBoxAnswerer.h"
#include "RecordingWindow.h"
#include "TestFiles.h"
#include "TestSettings.h"
#include "WorkerJob.h"
#include "common/TextConversion.h"
#include "core/ShredThread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>

namespace {

using Bytes = std::vector<unsigned char>;

class ShredSafetyTest : public ::testing::Test
{
protected:
    ShredSafetyTest() { Fresh(); }

    // A new seam and a worker on it, with nothing recorded yet.
    FakeShredOs& Fresh()
    {
        worker.reset();
        os = std::make_unique<FakeShredOs>();
        os->RecordMessages = true;
        worker = std::make_unique<SeamedWorker>(*os);
        worker->ItemIndex = 2;
        return *os;
    }

    std::string MakeFile(const std::string& name, size_t size, unsigned char value = 0xC3)
    {
        const std::string path = folder / name;
        WriteBytes(path, Bytes(size, value));
        return path;
    }

    // A path the name rules refuse goes the only way it can: as an item, which reports it.
    void Shred(const std::string& path, const ShredSettings& settings,
               const std::string& streamSuffix = "")
    {
        worker->SetSettings(settings);
        if (const std::optional<ShreddablePath> shreddable = NameRules::FromNarrow(path))
            worker->ShredFile(*shreddable, 512, false, streamSuffix);
        else
            worker->ShredItem(path);
    }

    // The calls that named a file, in order.
    std::vector<std::string> NamedCalls() const
    {
        return os->Calls.Of({"check", "attributes", "find", "open", "rename", "remove"});
    }

    // The sent commands other than progress steps, as their ids.
    std::vector<int> Statuses()
    {
        std::vector<int> statuses;
        for (const Notification& n : os->Recorded()) {
            if (n.Message == WM_COMMAND && !n.Posted && n.Id != ID_SHRED_STEP)
                statuses.push_back(n.Id);
        }
        return statuses;
    }

    TempFolder folder;
    std::unique_ptr<FakeShredOs> os;
    std::unique_ptr<SeamedWorker> worker;
    MessageBoxAnswerer boxes;
};

TEST(HugeFileTest, FilesOfTwoGibibytesAndMoreAreOverwrittenOverTheirWholeLength)
{
    struct Case
    {
        int64_t Length;
        int Passes;
        bool Tails;
        int64_t StepsPerPass;
        // (overwrite length / 1024 + 1) * passes is past the 16 bits the range travels in: the
        // range and the steps are that divided by the least whole number that brings it within.
        WORD Range;
    };
    const Case cases[] = {
        // 2^31 + 4097 bytes are 2^21 + 5 blocks, with or without the 513-byte tail:
        // 4,194,314 steps in 65s, and 2,097,157 in 33s.
        {(int64_t{1} << 31) + 4097, 2, true, (1 << 21) + 5, 64527},
        {(int64_t{1} << 31) + 4097, 1, false, (1 << 21) + 5, 63550},
        // 2^32 + 1 would be a single byte in 32 bits: 4,194,305 steps in 65s.
        {(int64_t{1} << 32) + 1, 1, false, (1 << 22) + 1, 64527},
    };
    TempFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Length << " bytes, tails " << c.Tails);
        HugeFileOs os(c.Length);
        os.OverwriteLength = c.Length + (c.Tails ? 513 : 0);
        SeamedWorker worker(os, SettingsOf(MethodRandomData, c.Passes, c.Tails, false));
        worker.ItemIndex = 9;
        // A real name to open; its length and writes are the seam's.
        const std::string path = folder / "huge.bin";
        WriteText(path, "");

        worker.ShredFile(Shreddable(path), 512, false, "");

        ASSERT_EQ(os.Passes.size(), static_cast<size_t>(c.Passes));
        for (size_t i = 0; i < os.Passes.size(); ++i) {
            const HugeFileOs::Pass& pass = os.Passes[i];
            EXPECT_EQ(pass.Bytes, os.OverwriteLength);
            // The pass that grows the file writes its old end apart from the tail.
            EXPECT_EQ(pass.Writes, c.StepsPerPass + (i == 0 && c.Tails ? 1 : 0));
            EXPECT_EQ(pass.Misplaced, 0);
        }
        // The bar runs from empty to full, in the steps it was told.
        EXPECT_EQ(os.Steps, c.Range);
        const Notifications recorded = os.Recorded();
        ASSERT_FALSE(recorded.empty());
        EXPECT_EQ(recorded.front().Message, WM_SHRED_FILE);
        EXPECT_EQ(recorded.front().Id, c.Range);
        EXPECT_EQ(recorded.front().ItemIndex, 9);
        EXPECT_EQ(CountStatus(recorded, StatusShredded), 1u);
        EXPECT_EQ(os.Calls.Details("remove"), std::vector<std::string>{path});
    }
}

TEST(HugeFileTest, APatternPassPastTwoGibibytesStaysAlignedToTheEnd)
{
    const int64_t length = (int64_t{1} << 31) + 4097;
    HugeFileOs os(length);
    os.OverwriteLength = length;
    os.Pattern = {0x92, 0x49, 0x24};
    SeamedWorker worker(os);

    EXPECT_EQ(worker.WritePatternPass(4242, length, os.Pattern.data(), 3), length);

    ASSERT_EQ(os.Passes.size(), 1u);
    // 1023-byte blocks: 2,099,206 whole ones and a last one of 7 bytes.
    EXPECT_EQ(os.Passes[0].Writes, 2099207);
    EXPECT_EQ(os.Passes[0].Bytes, length);
    EXPECT_EQ(os.Passes[0].Misplaced, 0);
    EXPECT_EQ(os.Passes[0].Misaligned, 0);
    EXPECT_EQ(os.Steps, 2099207);
}

TEST_F(ShredSafetyTest, AFileNotOverwrittenOverItsWholeLengthIsKeptUnderItsOwnName)
{
    struct Case
    {
        const char* Fault;
        int Method;
        int64_t DiskFullAt;
        bool CommitFails;
        int CommitFailsInPass;
    };
    const Case cases[] = {
        {"a write fails at half the file", MethodRandomData, 2048, false, 0},
        {"a write fails one byte before the old end", MethodRandomData, 4095, false, 0},
        {"every flush fails", MethodRandomData, -1, true, 0},
        {"the flush of the second pass fails", MethodRandomData, -1, false, 2},
        {"the flush of DoD pass 5 fails", MethodDoD, -1, false, 5},
        {"a write fails at half the file under Gutmann", MethodGutmann, 2048, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Fault);
        FakeShredOs& faulty = Fresh();
        faulty.DiskFullAt = c.DiskFullAt;
        if (c.CommitFails)
            faulty.Script.FailAll(Call::Commit, EIO);
        if (c.CommitFailsInPass != 0)
            faulty.Script.FailInPass(Call::Commit, c.CommitFailsInPass, EIO);
        const std::string path = MakeFile("kept.bin", 4096);

        // Tails, mangling and streams on: none of them may hide the failure.
        worker->SetSettings(SettingsOf(c.Method, 2, true, true));
        worker->ShredFile(Shreddable(path), 512, true, "");

        EXPECT_EQ(Statuses(), std::vector<int>{ShredStatusCommand(StatusOverwriteFailed)});
        EXPECT_EQ(ShredStatusCommand(StatusOverwriteFailed), 1043);
        EXPECT_EQ(ListFolder(folder.Path()), std::vector<std::string>{"kept.bin"});
        EXPECT_EQ(faulty.Calls.Count("rename"), 0u);
        EXPECT_EQ(faulty.Calls.Count("remove"), 0u);
        EXPECT_TRUE(boxes.Texts().empty());
        RemoveTree(path);
    }
}

TEST_F(ShredSafetyTest, AFailureOnlyPastTheOldEndStillShredsTheFile)
{
    // 1500 bytes and a 513-byte tail: the second write of each pass crosses the old end and
    // stops there, the next one fails.
    os->DiskFullAt = 1500;
    const std::string path = MakeFile("tail.bin", 1500);

    Shred(path, SettingsOf(MethodRandomData, 2, true, true));

    EXPECT_EQ(Statuses(), std::vector<int>{ShredStatusCommand(StatusShredded)});
    EXPECT_EQ(os->Calls.Count("rename"), 1u);
    EXPECT_TRUE(ListFolder(folder.Path()).empty());
}

TEST(ShredSafetyWorkerTest, TheProgressWindowHearsOfTheFileThatWasKept)
{
    TempFolder folder;
    const std::string path = folder / "kept.bin";
    WriteBytes(path, Bytes(3000, 0x77));
    FakeShredOs os;
    os.DiskFullAt = 1000;
    RecordingWindow window;
    const Notifications received =
        RunJob(window, SettingsOf(MethodRandomData, 1, false, true), os, {{path, 6, false}});
    EXPECT_EQ(CountStatus(received, StatusOverwriteFailed), 1u);
    EXPECT_EQ(CountStatus(received, StatusShredded), 0u);
    ASSERT_FALSE(received.empty());
    EXPECT_TRUE(received.back().IsStatus(StatusFinished));
    for (const Notification& n : received)
        EXPECT_EQ(n.ItemIndex, 6);
    EXPECT_TRUE(Exists(path));
}

TEST_F(ShredSafetyTest, FullNamesOfMaxPathCharactersOrMoreAreRefusedBeforeAnyOpen)
{
    const size_t room = MAX_PATH - 1 - (folder.Path().size() + 1);
    const std::string longest = MakeFile(std::string(room, 'n'), 100);
    ASSERT_EQ(longest.size(), 259u);
    const std::string tooLong = folder / (std::string(room, 'n') + "x");
    // Past the narrow calls' limit: made with the wide ones.
    ASSERT_NO_THROW(WriteWide(Widen(tooLong), Bytes(100, 0x3C)));
    // A stream suffix of 10 characters brings this one to 259.
    const std::string base = MakeFile(std::string(room - 10, 's'), 100);

    struct Case
    {
        std::string Path;
        std::string Suffix;
    };
    const Case refused[] = {
        {tooLong, ""},
        {longest + std::string(300, 'x'), ""},
        {base, ":abcd:$DATA"},
        {base, ":stream:$DATA"},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(testing::Message() << (c.Path + c.Suffix).size() << " characters");
        Fresh();
        Shred(c.Path, SettingsOf(MethodRandomData, 1, false, true), c.Suffix);
        EXPECT_EQ(Statuses(), std::vector<int>{ShredStatusCommand(StatusInvalidArguments)});
        EXPECT_TRUE(NamedCalls().empty());
    }
    Fresh();
    EXPECT_EQ(worker->ShredItem(tooLong), 1);
    EXPECT_EQ(Statuses(), std::vector<int>{ShredStatusCommand(StatusInvalidArguments)});
    EXPECT_TRUE(NamedCalls().empty());
    EXPECT_EQ(ReadWide(Widen(tooLong)), Bytes(100, 0x3C));
    EXPECT_TRUE(::DeleteFileW(LongPath(tooLong).c_str()));

    // 259 characters are still a name: the stream is looked for, the file shredded.
    Fresh();
    Shred(base, SettingsOf(MethodRandomData, 1, false, false), ":abc:$DATA");
    EXPECT_EQ(os->Calls.Count("check", base + ":abc:$DATA"), 1u);
    Fresh();
    Shred(longest, SettingsOf(MethodRandomData, 1, false, true));
    EXPECT_EQ(Statuses(), std::vector<int>{ShredStatusCommand(StatusShredded)});
    EXPECT_EQ(os->Calls.Count("open", longest), 1u);
    EXPECT_FALSE(Exists(longest));
    EXPECT_EQ(ListFolder(folder.Path()), std::vector<std::string>{std::string(room - 10, 's')});
}

TEST_F(ShredSafetyTest, EveryOpenFailureEndsTheCallBeforeAnythingIsWritten)
{
    const std::pair<DWORD, ShredStatus> cases[] = {
        {ERROR_ACCESS_DENIED, StatusAccessViolation},
        {ERROR_FILE_EXISTS, StatusFileExists},
        {ERROR_INVALID_NAME, StatusInvalidArguments},
        {ERROR_TOO_MANY_OPEN_FILES, StatusNoHandles},
        {ERROR_FILE_NOT_FOUND, StatusFileNotFound},
        {ERROR_PATH_NOT_FOUND, StatusFileNotFound},
        {ERROR_SHARING_VIOLATION, StatusAccessViolation},
        {ERROR_DISK_FULL, StatusAccessViolation},
    };
    const std::string path = MakeFile("closed.bin", 2000);
    for (const auto& [error, status] : cases) {
        SCOPED_TRACE(testing::Message() << "error " << error);
        FakeShredOs& faulty = Fresh();
        faulty.Script.FailAll(Call::CreateFileForWriting, static_cast<int>(error));

        Shred(path, SettingsOf(MethodDoD, 1, true, true));

        // At most the file named with no range (the window lists the failure under the name it
        // heard last), then its status: no pass marker, nothing written.
        std::vector<std::string> lines = Describe(faulty.Recorded());
        lines.erase(std::remove(lines.begin(), lines.end(), "F:0:" + path), lines.end());
        EXPECT_EQ(lines,
                  std::vector<std::string>{"S:" + std::to_string(ShredStatusCommand(status))});
        EXPECT_EQ(faulty.Calls.Count("write"), 0u);
        EXPECT_EQ(faulty.Calls.Count("remove"), 0u);
        EXPECT_EQ(faulty.Calls.Count("rename"), 0u);
        EXPECT_EQ(ReadBytes(path), Bytes(2000, 0xC3));
    }

    // The same from the platform: a file someone holds open without sharing, and no file.
    UniqueHandle held = HoldUnshared(path);
    ASSERT_TRUE(held);
    Fresh();
    Shred(path, SettingsOf(MethodRandomData, 1, false, true));
    held.Reset();
    EXPECT_EQ(Statuses(), std::vector<int>{ShredStatusCommand(StatusAccessViolation)});
    EXPECT_EQ(os->Calls.Count("write"), 0u);
    EXPECT_EQ(ReadBytes(path), Bytes(2000, 0xC3));
    Fresh();
    Shred(folder / "missing.bin", SettingsOf(MethodRandomData, 1, false, true));
    EXPECT_EQ(Statuses(), std::vector<int>{ShredStatusCommand(StatusFileNotFound)});
}

TEST_F(ShredSafetyTest, WildcardsAreRefusedBeforeTheNameIsLookedUp)
{
    const std::string secret = MakeFile("secret.txt", 3000, 0x42);
    const std::string other = MakeFile("other.doc", 1000, 0x24);
    MakeFolder(folder / "inner");
    const std::string inner = folder / "inner\\deep.txt";
    WriteBytes(inner, Bytes(500, 0x99));
    ASSERT_TRUE(::SetFileAttributesA(secret.c_str(), FILE_ATTRIBUTE_READONLY));
    const DWORD secretAttributes = ::GetFileAttributesA(secret.c_str());
    ASSERT_TRUE(secretAttributes & FILE_ATTRIBUTE_READONLY);
    const std::vector<std::string> before = ListFolder(folder.Path());

    worker->SetSettings(SettingsOf(MethodRandomData, 1, true, true));
    for (const std::string& pattern :
         {folder / "secr?t.txt", folder / "*.txt", folder / "*", folder / "?????????.doc",
          folder.Path() + "\\*\\deep.txt", folder.Path() + "\\inn?r"}) {
        SCOPED_TRACE(pattern);
        Fresh();
        EXPECT_EQ(worker->ShredItem(pattern), 1);
        // Nothing but the item's refusal can come of it: no file can be shredded by it.
        EXPECT_FALSE(NameRules::FromNarrow(pattern));
        EXPECT_EQ(Statuses(), std::vector<int>{ShredStatusCommand(StatusInvalidArguments)});
        EXPECT_TRUE(NamedCalls().empty());
    }
    // A wildcard in the stream name alone is refused too, and the file is not touched.
    for (const std::string& suffix : {std::string(":*:$DATA"), std::string(":s?:$DATA")}) {
        SCOPED_TRACE(suffix);
        Fresh();
        worker->ShredFile(Shreddable(secret), 512, true, suffix);
        EXPECT_EQ(Statuses(), std::vector<int>{ShredStatusCommand(StatusInvalidArguments)});
        EXPECT_TRUE(NamedCalls().empty());
    }

    EXPECT_EQ(ListFolder(folder.Path()), before);
    EXPECT_EQ(ReadBytes(secret), Bytes(3000, 0x42));
    EXPECT_EQ(ReadBytes(other), Bytes(1000, 0x24));
    EXPECT_EQ(ReadBytes(inner), Bytes(500, 0x99));
    EXPECT_EQ(::GetFileAttributesA(secret.c_str()), secretAttributes);
    ::SetFileAttributesA(secret.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(ShredSafetyTest, ReadOnlyHiddenAndSystemFilesAreShreddedAfterTheirAttributesAreReset)
{
    const DWORD attributeSets[] = {
        FILE_ATTRIBUTE_READONLY,
        FILE_ATTRIBUTE_HIDDEN,
        FILE_ATTRIBUTE_SYSTEM,
        FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
    };
    for (DWORD attributes : attributeSets) {
        for (bool mangle : {false, true}) {
            SCOPED_TRACE(testing::Message()
                         << "attributes " << attributes << ", mangle " << mangle);
            Fresh();
            const std::string path = MakeFile("guarded.bin", 1500);
            ASSERT_TRUE(::SetFileAttributesA(path.c_str(), attributes));
            ASSERT_EQ(::GetFileAttributesA(path.c_str()) & attributes, attributes);

            Shred(path, SettingsOf(MethodRandomData, 2, true, mangle));

            EXPECT_EQ(Statuses(), std::vector<int>{ShredStatusCommand(StatusShredded)});
            EXPECT_TRUE(ListFolder(folder.Path()).empty());
            // Looked at without following a link, then reset, then opened for writing.
            const std::vector<std::string> calls = NamedCalls();
            ASSERT_GE(calls.size(), 3u);
            EXPECT_EQ(calls[0], "check:" + path);
            EXPECT_EQ(calls[1], "attributes:" + path);
            EXPECT_EQ(calls[2], "open:" + path);
            RemoveTree(path);
        }
    }
}

} // namespace
