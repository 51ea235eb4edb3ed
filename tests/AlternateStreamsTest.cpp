// Listing a file's named data streams through the backup interface, and shredding each of them
// after the file itself on NTFS.
#include "TestPaths.h"
#include "FakeShredOs.h"
#include "MessageBoxAnswerer.h"
#include "TestFiles.h"
#include "TestSettings.h"
#include "WorkerJob.h"
#include "core/ShredThread.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <map>
#include <optional>

namespace {

BackupRecord Record(DWORD id, const std::wstring& name, int64_t size)
{
    BackupRecord record;
    record.StreamId = id;
    record.Name = name;
    record.Size = size;
    return record;
}

BackupRecord Stream(const std::wstring& name, int64_t size = 10)
{
    return Record(BACKUP_ALTERNATE_DATA, name, size);
}

using Names = std::vector<std::string>;

// The listed names in order, those listed only to be refused marked so; "unreadable" alone when
// the streams could not all be read.
Names Listed(const std::optional<StreamNameList>& list)
{
    if (!list)
        return {"unreadable"};
    Names names;
    for (const StreamName& stream : *list)
        names.push_back(stream.Usable ? stream.Suffix : "refused " + stream.Suffix);
    return names;
}

class AlternateStreamsTest : public ::testing::Test
{
protected:
    AlternateStreamsTest()
    {
        WriteText(path, "host");
        os.UseBackupRecords = true;
        os.RecordMessages = true;
    }

    Names Enumerate(const std::string& file)
    {
        SeamedWorker worker(os);
        return Listed(worker.EnumAlternateStreams(file));
    }

    TempFolder folder;
    const std::string path = folder / "host.txt";
    FakeShredOs os;
};

TEST_F(AlternateStreamsTest, ListsNamedDataStreamsInDeliveryOrderAndSkipsEveryOtherRecord)
{
    os.Records = {Record(BACKUP_SECURITY_DATA, L"", 40), Record(BACKUP_DATA, L"", 100),
                  Stream(L":a:$DATA", 10), Record(BACKUP_EA_DATA, L":ea:$DATA", 8),
                  Stream(L":b:$DATA", 7)};
    EXPECT_EQ(Enumerate(path), (Names{":a:$DATA", ":b:$DATA"}));
    EXPECT_EQ(os.Calls.Count("backupseek"), 5u);
    EXPECT_EQ(os.Calls.Details("backupopen"), std::vector<std::string>{path});
}

TEST_F(AlternateStreamsTest, AFileWithoutNamedStreamsGivesAnEmptyList)
{
    os.Records = {Record(BACKUP_SECURITY_DATA, L"", 40), Record(BACKUP_DATA, L"", 4)};
    EXPECT_TRUE(Enumerate(path).empty());
    EXPECT_EQ(os.Calls.Count("backupseek"), 2u);
}

TEST_F(AlternateStreamsTest, AZeroLengthStreamIsListedWithoutASeek)
{
    os.Records = {Stream(L":empty:$DATA", 0), Stream(L":next:$DATA", 0)};
    EXPECT_EQ(Enumerate(path), (Names{":empty:$DATA", ":next:$DATA"}));
    EXPECT_EQ(os.Calls.Count("backupseek"), 0u);
}

TEST_F(AlternateStreamsTest, ReadsWithTheSharedContextAndReleasesItAtTheEnd)
{
    os.Records = {Record(BACKUP_DATA, L"", 4), Stream(L":a:$DATA", 3)};
    Enumerate(path);

    // Header, header, name, header at the end, release.
    EXPECT_EQ(os.Calls.Details("backupread"),
              (Names{"20 security", "20 security", "16 security", "20 security", "0 abort"}));
}

TEST_F(AlternateStreamsTest, AFileThatCannotBeOpenedHasNoListNotAnEmptyOne)
{
    os.Records = {Stream(L":a:$DATA")};
    EXPECT_EQ(Enumerate(folder / "missing.txt"), Names{"unreadable"});

    // Held open for writing elsewhere: an open that shares only reading is refused.
    {
        const UniqueHandle writer(::CreateFileA(path.c_str(), GENERIC_WRITE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(writer);
        EXPECT_EQ(Enumerate(path), Names{"unreadable"});
    }
    EXPECT_EQ(os.Calls.Count("backupopen"), 0u);
    EXPECT_EQ(os.Calls.Count("backupread"), 0u);
}

TEST(RealBackupTest, UnderWineNoFileHasAListOfStreams)
{
    // Wine's backup interface fails: a list that cannot be read is none, never an empty one.
    TempFolder folder;
    WriteText(folder / "plain.txt", "plain");
    CShredThread worker;
    EXPECT_EQ(Listed(worker.EnumAlternateStreams(folder / "plain.txt")), Names{"unreadable"});
}

TEST_F(AlternateStreamsTest, AFoldersStreamsAreListedToo)
{
    os.Records = {Stream(L":tag:$DATA")};
    MakeFolder(folder / "sub");
    EXPECT_EQ(Enumerate(folder / "sub"), Names{":tag:$DATA"});
}

TEST_F(AlternateStreamsTest, ANameThatFillsTheBufferExactlyIsListed)
{
    // 20 header bytes and 2038 UTF-16 units fill the 4096-byte buffer.
    const std::wstring name = L":" + std::wstring(2031, L'n') + L":$DATA";
    ASSERT_EQ(name.size() * 2, 4076u);
    os.Records = {Stream(name), Stream(L":z:$DATA")};
    const Names names = Enumerate(path);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0].size(), 2038u);
    EXPECT_EQ(names[1], ":z:$DATA");
}

TEST_F(AlternateStreamsTest, ANameLongerThanTheBufferMakesTheListUnreadableWithoutReadingIt)
{
    BackupRecord tooLong = Stream(L":long:$DATA");
    tooLong.NameSizeOverride = 4078;
    os.Records = {Stream(L":a:$DATA"), tooLong, Stream(L":c:$DATA")};
    EXPECT_EQ(Enumerate(path), Names{"unreadable"});
    for (const std::string& read : os.Calls.Details("backupread"))
        EXPECT_LE(std::stoul(read), 4076u) << read;
}

TEST(BrokenBackupTest, AShortOrFailedReadMakesTheListUnreadable)
{
    // Reads: 1 header a, 2 name a, 3 header b, 4 name b, 5 header c, 6 name c.
    struct Case
    {
        const char* What;
        int Read;
        int Error;
    };
    for (const Case& c :
         {Case{"short header", 3, FaultScript::ShortResult},
          Case{"short name", 4, FaultScript::ShortResult},
          Case{"failed header", 3, ERROR_IO_DEVICE}, Case{"failed name", 4, ERROR_IO_DEVICE}}) {
        TempFolder folder;
        WriteText(folder / "f.txt", "f");
        FakeShredOs os;
        os.UseBackupRecords = true;
        os.Records = {Stream(L":a:$DATA", 0), Stream(L":b:$DATA", 0), Stream(L":c:$DATA", 0)};
        os.Script.Fail(Call::BackupRead, c.Read, c.Error);
        SeamedWorker worker(os);
        EXPECT_EQ(Listed(worker.EnumAlternateStreams(folder / "f.txt")), Names{"unreadable"})
            << c.What;
        const Names reads = os.Calls.Details("backupread");
        ASSERT_FALSE(reads.empty());
        EXPECT_EQ(reads.back(), "0 abort") << c.What << ": the context is still released";
    }
}

TEST_F(AlternateStreamsTest, NamesTheCodePageLacksAreRefusedNotTurnedIntoLookAlikes)
{
    // Best-fit mapping would turn U+0100 into "A", naming a stream ":A:$DATA" that may exist.
    os.Records = {Stream(L":\x4E2D:$DATA"), Stream(L":\x0100:$DATA"), Stream(L":caf\x00E9:$DATA")};
    EXPECT_EQ(Enumerate(path), (Names{"refused :?:$DATA", "refused :?:$DATA", ":caf\xE9:$DATA"}));
}

// Settings for one random pass, tails off; the file itself keeps its name unless mangle.
void Configure(CShredThread& worker, bool mangle)
{
    worker.ItemIndex = 0;
    worker.Settings = SettingsOf(MethodRandomData, 1, false, mangle);
}

TEST_F(AlternateStreamsTest, AStreamWhoseNameLostACharacterIsRefusedAndKeepsItsFile)
{
    os.Records = {Stream(L":\x4E2D:$DATA")};
    SeamedWorker worker(os);
    Configure(worker, false);
    EXPECT_EQ(worker.ShredFile(Shreddable(path), 512, true, ""), StatusInvalidArguments);

    // The refused stream and then the file it keeps are each named before their status.
    EXPECT_EQ(
        Describe(os.Recorded()),
        (std::vector<std::string>{"F:1:" + path, "P:1125", "S:1044", "F:0:" + path + ":?:$DATA",
                                  "S:1035", "F:0:" + path, "S:1035"}));
    EXPECT_TRUE(Exists(path));
}

TEST_F(AlternateStreamsTest, NoStreamSearchOffNtfs)
{
    os.Records = {Stream(L":a:$DATA")};
    SeamedWorker worker(os);
    Configure(worker, false);
    worker.ShredFile(Shreddable(path), 512, false, "");

    EXPECT_EQ(os.Calls.Count("backupopen"), 0u);
    EXPECT_EQ(Describe(os.Recorded()),
              (std::vector<std::string>{"F:1:" + path, "P:1125", "S:1044", "S:1038"}));
    EXPECT_FALSE(Exists(path));
}

// Addresses "file:stream:$DATA" as NTFS would, each stream being a scratch file of its own. The
// calls are logged under the stream's name.
class StreamFilesOs : public FakeShredOs
{
public:
    std::map<std::string, std::string> StreamFiles; // suffix -> scratch file

    HANDLE CreateFileA(const char* name, DWORD access, DWORD share, DWORD disposition,
                       DWORD flags) override
    {
        LogCall(access & GENERIC_WRITE ? "open" : "check", name);
        const Unlogged logged;
        return FakeShredOs::CreateFileA(Redirect(name).c_str(), access, share, disposition, flags);
    }
    int Remove(const char* name) override
    {
        LogCall("remove", name);
        const Unlogged logged;
        return FakeShredOs::Remove(Redirect(name).c_str());
    }

private:
    std::string Redirect(const std::string& name) const
    {
        const size_t colon = name.find(':', 2);
        if (colon == std::string::npos)
            return name;
        const auto it = StreamFiles.find(name.substr(colon));
        return it == StreamFiles.end() ? name : it->second;
    }
};

// A host file "host.txt" on NTFS, shredded through a seam that lists the streams a test gives.
class StreamHost
{
public:
    StreamHost() { WriteText(path, "host"); }

    // One random pass, the name mangled when asked; the status the host ends with.
    std::optional<ShredStatus> ShredHost(FakeShredOs& os, std::vector<BackupRecord> records,
                                         bool mangle)
    {
        os.RecordMessages = true;
        os.UseBackupRecords = true;
        os.Records = std::move(records);
        SeamedWorker worker(os);
        Configure(worker, mangle);
        return worker.ShredFile(Shreddable(path), 512, true, "");
    }

    TempFolder folder;
    const std::string path = folder / "host.txt";
};

class StreamShreddingTest : public ::testing::Test, protected StreamHost
{};

TEST_F(StreamShreddingTest, StreamsAreShreddedAfterTheFileUnderItsNewName)
{
    WriteText(folder / "stream-a", "ten bytes!");
    WriteBytes(folder / "stream-b", {});
    StreamFilesOs os;
    os.StreamFiles = {{":a:$DATA", folder / "stream-a"}, {":b:$DATA", folder / "stream-b"}};

    ShredHost(os, {Record(BACKUP_DATA, L"", 4), Stream(L":a:$DATA", 10), Stream(L":b:$DATA", 0)},
              true);

    ASSERT_EQ(os.Renames().size(), 1u) << "only the file itself is renamed";
    const std::string newName = os.Renames()[0].second;
    EXPECT_EQ(os.Calls.Details("backupopen"), std::vector<std::string>{newName});
    const std::string a = newName + ":a:$DATA";
    const std::string b = newName + ":b:$DATA";
    EXPECT_EQ(os.Calls.Details("open"), (std::vector<std::string>{path, a, b}));
    EXPECT_EQ(os.Calls.Details("remove"), (std::vector<std::string>{a, b, newName}));
    EXPECT_EQ(Describe(os.Recorded()),
              (std::vector<std::string>{"F:1:" + path, "P:1125", "S:1044",        //
                                        "F:1:" + a, "P:1125", "S:1044", "S:1038", //
                                        "F:1:" + b, "P:1125", "S:1038",           //
                                        "S:1038"}));
    EXPECT_TRUE(ListFolder(folder.Path()).empty());
}

TEST_F(StreamShreddingTest, AStreamThatCannotBeOpenedIsReportedAndKeepsItsFile)
{
    // The listed streams exist only in the backup records (and Wine has no named streams at
    // all), so the platform's own open of "file:a:$DATA" finds nothing.
    FakeShredOs os;
    ShredHost(os, {Stream(L":a:$DATA", 10), Stream(L":b:$DATA", 0)}, true);

    ASSERT_EQ(os.Renames().size(), 1u);
    // Each stream reports its failed open (1037, file not found) under the file's name before
    // its renaming; the file, overwritten and renamed, is kept, since deleting it would delete
    // streams nobody overwrote.
    EXPECT_EQ(Describe(os.Recorded()),
              (std::vector<std::string>{"F:1:" + path, "P:1125", "S:1044",    //
                                        "F:0:" + path + ":a:$DATA", "S:1037", //
                                        "F:0:" + path + ":b:$DATA", "S:1037", //
                                        "F:0:" + path, "S:1037"}));
    EXPECT_EQ(ListFolder(folder.Path()),
              std::vector<std::string>{os.Renames()[0].second.substr(folder.Path().size() + 1)});
}

// Streams named so that no stream is addressed by them: empty, a name that converts to nothing,
// a separator or a wildcard inside, a missing type.
TEST(StreamNamingTest, AStreamThatNamesNoStreamIsReportedOnceAndNeverShredsItsFileAgain)
{
    struct Case
    {
        const char* What;
        BackupRecord Record;
    };
    BackupRecord lone = Stream(L"x");
    lone.NameSizeOverride = 1; // half a character: converts to nothing at all
    BackupRecord nul = Stream(std::wstring(1, L'\0'));
    for (const Case& c :
         {Case{"half a unit", lone}, Case{"a NUL", nul}, Case{"empty name", Stream(L"::$DATA")},
          Case{"no type", Stream(L":a:")}, Case{"backslash", Stream(L":a\\b:$DATA")},
          Case{"slash", Stream(L":../b:$DATA")}, Case{"colon", Stream(L":a:b:c")},
          Case{"wildcard", Stream(L":*:$DATA")},
          Case{"lost character", Stream(L":\x4E2D:$DATA")}}) {
        StreamHost host;
        const std::string& path = host.path;
        FakeShredOs os;
        EXPECT_EQ(host.ShredHost(os, {c.Record}, false), StatusInvalidArguments) << c.What;

        // The file's own passes, the stream's one status, then the file's, which keeps it; no
        // stream is ever announced for passes, and the file's status comes under its own name.
        std::vector<std::string> statuses;
        std::vector<std::string> passAnnouncements;
        std::string lastAnnounced;
        for (const std::string& line : Describe(os.Recorded())) {
            if (line.rfind("S:", 0) == 0)
                statuses.push_back(line);
            else if (line.rfind("F:", 0) == 0)
                lastAnnounced = line.substr(line.find(':', 2) + 1);
            if (line.rfind("F:1:", 0) == 0)
                passAnnouncements.push_back(line);
        }
        EXPECT_EQ(statuses, (std::vector<std::string>{"S:1044", "S:1035", "S:1035"})) << c.What;
        EXPECT_EQ(passAnnouncements, std::vector<std::string>{"F:1:" + path}) << c.What;
        EXPECT_EQ(lastAnnounced, path) << c.What;
        EXPECT_EQ(os.Calls.Details("backupopen"), std::vector<std::string>{path}) << c.What;
        EXPECT_TRUE(Exists(path)) << c.What;
    }
}

TEST_F(StreamShreddingTest, AStreamNotOverwrittenKeepsItsFileWhichSaysSoLast)
{
    WriteText(folder / "stream-a", "ten bytes!");
    WriteText(folder / "stream-b", "other");
    // The disk is full under the first stream.
    StreamFilesOs os;
    os.StreamFiles = {{":a:$DATA", folder / "stream-a"}, {":b:$DATA", folder / "stream-b"}};
    os.Script.FailOn(Call::Write, folder / "stream-a", ENOSPC);

    EXPECT_EQ(ShredHost(os, {Stream(L":a:$DATA", 10), Stream(L":b:$DATA", 5)}, true),
              StatusOverwriteFailed);

    ASSERT_EQ(os.Renames().size(), 1u);
    const std::string newName = os.Renames()[0].second;
    const std::string b = newName + ":b:$DATA";
    // Stream a fails (1043), named as the user knew it; stream b is shredded; the file,
    // overwritten, keeps its new name and its status comes last, under its old one.
    EXPECT_EQ(Describe(os.Recorded()),
              (std::vector<std::string>{"F:1:" + path, "P:1125", "S:1044",        //
                                        "F:1:" + newName + ":a:$DATA", "P:1125",  //
                                        "F:0:" + path + ":a:$DATA", "S:1043",     //
                                        "F:1:" + b, "P:1125", "S:1044", "S:1038", //
                                        "F:0:" + path, "S:1043"}));
    EXPECT_EQ(os.Calls.Details("remove"), std::vector<std::string>{b});
    EXPECT_EQ(ReadBytes(folder / "stream-a"),
              (std::vector<unsigned char>{'t', 'e', 'n', ' ', 'b', 'y', 't', 'e', 's', '!'}));
    EXPECT_TRUE(Exists(newName));
}

TEST_F(StreamShreddingTest, AFoldersStreamsGoBeforeItAndAListThatCannotBeReadKeepsIt)
{
    const std::string album = folder / "album";
    for (const bool readable : {true, false}) {
        SCOPED_TRACE(readable ? "readable" : "unreadable");
        MakeFolder(album);
        WriteText(folder / "stream-tag", "folder tag");
        StreamFilesOs os;
        os.StreamFiles = {{":tag:$DATA", folder / "stream-tag"}};
        os.UseBackupRecords = readable;
        os.Records = {Stream(L":tag:$DATA", 10)};
        os.RecordMessages = true;
        SeamedWorker worker(os);
        Configure(worker, false);
        worker.ItemPath = album;
        worker.ShredItem(album);

        if (readable) {
            EXPECT_EQ(os.Calls.Details("remove"), std::vector<std::string>{album + ":tag:$DATA"});
            EXPECT_EQ(Describe(os.Recorded()),
                      (std::vector<std::string>{"F:1:" + album + ":tag:$DATA", "P:1125", "S:1044",
                                                "S:1038"}));
            EXPECT_FALSE(Exists(album));
            EXPECT_FALSE(Exists(folder / "stream-tag"));
        } else {
            EXPECT_TRUE(os.Calls.Details("remove").empty());
            EXPECT_EQ(Describe(os.Recorded()), std::vector<std::string>{"S:1055"});
            EXPECT_TRUE(Exists(album));
            EXPECT_EQ(ReadBytes(folder / "stream-tag").size(), 10u);
        }
        RemoveTree(album);
    }
}

TEST_F(StreamShreddingTest, ARenameFailureStillShredsTheStreamsAndTheWindowHearsOfTheFile)
{
    WriteText(folder / "stream-a", "ten bytes!");
    StreamFilesOs os;
    os.StreamFiles = {{":a:$DATA", folder / "stream-a"}};
    os.Script.FailAll(Call::Rename, EACCES);
    MessageBoxAnswerer boxes;

    EXPECT_EQ(ShredHost(os, {Stream(L":a:$DATA", 10)}, true), StatusNameNotScrambled);

    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Access violation"});
    const std::string a = path + ":a:$DATA";
    EXPECT_EQ(os.Calls.Details("remove"), std::vector<std::string>{a});
    EXPECT_EQ(Describe(os.Recorded()),
              (std::vector<std::string>{"F:1:" + path, "P:1125", "S:1044",        //
                                        "F:1:" + a, "P:1125", "S:1044", "S:1038", //
                                        "F:0:" + path, "S:1058"}));
    EXPECT_FALSE(Exists(folder / "stream-a"));
    EXPECT_TRUE(Exists(path));
}

} // namespace
