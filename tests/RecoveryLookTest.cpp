// After shredding on a real NTFS volume, a recovery look at the raw disk finds nothing of what was
// reported shredded, and what could not be destroyed was reported. Each case is one choice of
// settings, run by tests/VolumeScenario.sh in two phases. The shred phase makes, on a new volume,
// one item of each kind (a file resident in its file record, one moved out of it by the tails,
// one grown by the tails past whole clusters, a large one, folders two deep, files and a folder
// carrying named streams) and shreds each through the shell road, the registered DLL under the
// shell stand-in, one selection at a time so that each final box belongs to one item. Wine's
// volumes do not report the named streams ntfs-3g gives them, and Wine cannot list a file's
// streams: an item with streams is shredded by a worker in this process, the volume's named
// streams told through the engine's seam, and its stream list either given through the seam too
// or left to Wine, which cannot read it (the product must then keep and report the file). A file
// never selected and one deleted without shredding show what the look finds of data nobody
// destroyed. The
// examine phase searches the unmounted image for every content's markers and every name, reads
// ntfsundelete's listing of it, prints what it found, and holds each item to what was reported.
#include "FakeShredOs.h"
#include "InstalledShellRoad.h"
#include "RecoveryLook.h"
#include "RecordingWindow.h"
#include "TestFiles.h"
#include "TestSettings.h"
#include "VolumeRun.h"
#include "WorkerJob.h"
#include "common/TextConversion.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

// "Annexé", for the streams' names.
const std::wstring Annex = L"Annex\x00E9";

enum class Road
{
    Shell,       // selected alone and shredded through the shell road
    Seam,        // shredded by a worker in this process, its stream list given through the seam
    WineStreams, // the same, its stream list left to Wine, which cannot read it
    Kept,        // never selected
    PlainDelete, // deleted with DeleteFile, as without a shredder
};

enum class NameOf
{
    File,
    Folder,
    Stream,
};

struct Name
{
    std::wstring Text;
    NameOf Of;
};

struct Item
{
    std::string Key;
    std::string What;
    Road How;
    std::wstring Selected;               // relative to the volume's root
    std::vector<std::wstring> Folders;   // to make before the contents, whose own folders are made
    std::vector<MarkedContent> Contents; // files before their streams
    std::vector<Name> Names;
    // What the report of an item that cannot be destroyed must say.
    std::string MustReport = "";
};

std::vector<Item> Items()
{
    const std::wstring items = L"Items\\";
    const std::wstring outer = items + Named(L"outer");
    const std::wstring inner = outer + L"\\" + Named(L"inner");
    // A file whose tag is its key.
    auto file = [&](const std::string& key, const std::string& what, const std::wstring& name,
                    size_t size, Road how = Road::Shell, const std::wstring& folder = L"Items\\") {
        return Item{key,
                    what,
                    how,
                    folder + name,
                    {},
                    {{folder + name, key, size}},
                    {{name, NameOf::File}}};
    };
    auto streamed = [&](const std::string& key, const std::string& what, Road how,
                        const std::wstring& name, const std::wstring& stream,
                        const std::string& streamTag) {
        return Item{key,
                    what,
                    how,
                    items + name,
                    {},
                    {{items + name, key, 4096}, {items + name + L":" + stream, streamTag, 20480}},
                    {{name, NameOf::File}, {stream, NameOf::Stream}}};
    };
    Item unreadable =
        streamed("unreadable", "4 KB file with a 20 KB named stream Wine cannot list",
                 Road::WineStreams, Named(L"unreadable.txt"), Annex + L"-un", "annexone");
    unreadable.MustReport = "Streams Could Not Be Listed (Not Deleted)";
    return {
        file("resident", "100-byte file in its file record, which holds it grown by the tails too",
             Named(L"resident.txt"), 100),
        file("outgrown", "300-byte file in its file record, moved out of it by the tails",
             Named(L"outgrown.txt"), 300),
        file("clusters", "8 KB file filling two clusters, grown into a third by the tails",
             Named(L"clusters.bin"), 8192),
        file("large", "200 KB file", Named(L"large.bin"), 204800),
        unreadable,
        Item{"folders",
             "folders two deep holding a 300-byte and a 50 KB file",
             Road::Shell,
             outer,
             {},
             {{outer + L"\\" + Named(L"leaf1.txt"), "leafone", 300},
              {inner + L"\\" + Named(L"leaf2.bin"), "leaftwo", 51200}},
             {{Named(L"outer"), NameOf::Folder},
              {Named(L"inner"), NameOf::Folder},
              {Named(L"leaf1.txt"), NameOf::File},
              {Named(L"leaf2.bin"), NameOf::File}}},
        streamed("listed", "4 KB file with a 20 KB named stream, listed through the seam",
                 Road::Seam, Named(L"listed.txt"), Annex + L"-deux", "annextwo"),
        Item{"tagged",
             "empty folder with a 20 KB named stream, listed through the seam",
             Road::Seam,
             items + Named(L"tagged"),
             {items + Named(L"tagged")},
             {{items + Named(L"tagged") + L":" + Annex + L"-trois", "annexthree", 20480}},
             {{Named(L"tagged"), NameOf::Folder}, {Annex + L"-trois", NameOf::Stream}}},
        file("kept", "4 KB file never selected", Named(L"kept.txt"), 4096, Road::Kept, L"Kept\\"),
        file("plain", "4 KB file deleted without shredding", Named(L"plain.txt"), 4096,
             Road::PlainDelete),
    };
}

// What the product promises of a name on the disk: a file or folder renamed before deletion is
// listed by a recovery tool under its new name only. Streams keep their names to the end. The
// old name may stay elsewhere on the disk (the slack of the file record and of the folder's index
// blocks), which no rename reaches: that is measured and printed, not promised.
bool RenamedBeforeDeletion(const Name& name, const ShredSettings& settings)
{
    return settings.MangleDateAndTime && name.Of != NameOf::Stream;
}

// " (file record, index block)": what holds the places found, or nothing when none was.
std::string Where(const RawImage& image, const std::vector<size_t>& places)
{
    return places.empty() ? "" : " (" + image.Regions(places) + ")";
}

std::string Describe(const ShredSettings& settings)
{
    const char* const methods[] = {"random data", "DoD 7 passes", "Gutmann 35 passes"};
    std::string text = methods[settings.ShreddingMethod];
    if (settings.ShreddingMethod == MethodRandomData)
        text += " (" + std::to_string(settings.Passes) + " pass" +
                (settings.Passes == 1 ? "" : "es") + ")";
    text += settings.MangleDateAndTime ? ", names mangled" : ", names kept";
    text += settings.OverwriteTails ? ", cluster tails on" : ", cluster tails off";
    return text;
}

// What the shred phase hands the examine phase: the reports of each item (final box texts, or
// the failure statuses a worker sent) joined by " / ", empty when there were none; written one
// line per item: key, tab, reports.
using Reports = std::map<std::string, std::string>;
constexpr char ReportsFile[] = "reports.txt";

std::string Joined(const std::vector<std::string>& texts)
{
    std::string line;
    for (std::string text : texts) {
        for (char& c : text)
            if (c == '\n' || c == '\r' || c == '\t')
                c = ' ';
        line += (line.empty() ? "" : " / ") + text;
    }
    return line;
}

std::string WriteReports(const Reports& reports)
{
    std::string text;
    for (const auto& [key, line] : reports)
        text += key + "\t" + line + "\n";
    return text;
}

Reports ReadReports(const std::string& text)
{
    Reports reports;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t tab = line.find('\t');
        if (tab != std::string::npos)
            reports[line.substr(0, tab)] = line.substr(tab + 1);
    }
    return reports;
}

// The volume's own stream listing is out of reach under Wine (BackupRead fails, and the volume
// does not report named streams), and so is a stream's type suffix ("file:stream:$DATA" fails
// where "file:stream" opens the stream). This seam lists the item's streams with the flags of a
// Windows NTFS volume and opens and removes a stream named with its type by its name alone: the
// stream's data, and everything else, is the volume's own.
class VolumeStreamsOs : public FakeShredOs
{
public:
    explicit VolumeStreamsOs(const std::vector<BackupRecord>& streams)
    {
        UseBackupRecords = true;
        Records = streams;
    }

    HANDLE CreateFileA(const char* name, DWORD access, DWORD share, DWORD disposition,
                       DWORD flags) override
    {
        return FakeShredOs::CreateFileA(WithoutDataType(name).c_str(), access, share, disposition,
                                        flags);
    }
    int Remove(const char* name) override { return ShredOs::Remove(WithoutDataType(name).c_str()); }
    BOOL GetDiskFreeSpaceA(const char* root, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                           DWORD* freeClusters, DWORD* totalClusters) override
    {
        return ShredOs::GetDiskFreeSpaceA(root, sectorsPerCluster, bytesPerSector, freeClusters,
                                          totalClusters);
    }
    BOOL GetVolumeInformationA(const char* root, char* volumeName, DWORD volumeNameSize,
                               DWORD* serialNumber, DWORD* maximumComponentLength,
                               DWORD* fileSystemFlags, char* fileSystemName,
                               DWORD fileSystemNameSize) override
    {
        const BOOL answered = ShredOs::GetVolumeInformationA(
            root, volumeName, volumeNameSize, serialNumber, maximumComponentLength, fileSystemFlags,
            fileSystemName, fileSystemNameSize);
        if (answered)
            *fileSystemFlags |= FILE_NAMED_STREAMS;
        return answered;
    }

private:
    static std::string WithoutDataType(std::string name)
    {
        constexpr char DataType[] = ":$DATA";
        const size_t length = sizeof DataType - 1;
        if (name.size() > length && name.compare(name.size() - length, length, DataType) == 0 &&
            name.find(':', 2) < name.size() - length)
            name.resize(name.size() - length);
        return name;
    }
};

std::vector<BackupRecord> StreamRecords(const Item& item)
{
    std::vector<BackupRecord> records;
    for (const MarkedContent& content : item.Contents) {
        const size_t colon = content.Path.find(L':');
        BackupRecord record;
        if (colon == std::wstring::npos) {
            record.StreamId = BACKUP_DATA;
        } else {
            record.StreamId = BACKUP_ALTERNATE_DATA;
            record.Name = content.Path.substr(colon) + L":$DATA";
        }
        record.Size = static_cast<int64_t>(content.Size);
        records.push_back(record);
    }
    return records;
}

void Make(const std::wstring& root, const Item& item)
{
    for (const std::wstring& folder : item.Folders)
        MakeWideFolder(root + folder);
    for (const MarkedContent& content : item.Contents)
        ASSERT_TRUE(WriteMarked(root, content)) << Utf8(content.Path);
    // A stream read back is real on this volume, the file's own, not a file beside it.
    for (const Name& name : item.Names) {
        if (name.Of != NameOf::Stream)
            continue;
        for (const std::wstring& entry : ListWideFolder(root + L"Items"))
            ASSERT_EQ(entry.find(name.Text), std::wstring::npos) << Utf8(entry);
    }
}

// The failures the worker reported, as the progress window would list them.
std::vector<std::string> ShredInProcess(const ShredSettings& settings, const Item& item,
                                        const std::string& path)
{
    VolumeStreamsOs os(StreamRecords(item));
    os.UseBackupRecords = item.How == Road::Seam;
    RecordingWindow window;
    const Notifications received = RunJob(window, settings, os, {{path, 0, false}});
    EXPECT_EQ(CountStatus(received, StatusFinished), 1u);
    std::vector<std::string> failures;
    std::string announced;
    for (const Notification& n : received) {
        if (n.Message == WM_SHRED_FILE)
            announced = Utf8(Widen(n.Path));
        for (int status = StatusAccessViolation; status <= LastShredStatus; ++status)
            if (n.IsStatus(static_cast<ShredStatus>(status)) && ShredStatusText(status))
                failures.push_back(ShredStatusText(status) + (": " + announced));
    }
    // The product asked for the item's streams once: the list came through the seam.
    if (item.How == Road::Seam) {
        EXPECT_EQ(os.Calls.Count("backupopen"), 1u);
    }
    return failures;
}

void Shred(const ShredSettings& settings, const VolumeRun& volume)
{
    ASSERT_FALSE(volume.Drive.empty()) << "no volume drive named";
    const std::wstring root = Widen(volume.Drive) + L"\\";
    const std::vector<Item> items = Items();
    MakeWideFolder(root + L"Items");
    for (const Item& item : items)
        ASSERT_NO_FATAL_FAILURE(Make(root, item));

    ASSERT_TRUE(StoreSettings(settings));
    InstalledShellRoad road;
    ASSERT_NO_FATAL_FAILURE(road.Install(ORLENWICK_DLL_PATH, ORLENWICK_STANDIN_PATH));
    Reports reports;
    for (const Item& item : items) {
        SCOPED_TRACE(item.Key);
        const std::string selected = *NarrowExactly(root + item.Selected);
        switch (item.How) {
        case Road::Shell: {
            const ProgramRun run = road.RunStandIn({"--confirm", selected}, *NarrowExactly(root));
            SCOPED_TRACE(run.Output);
            ExpectCompleteRun(run, "OK");
            reports[item.Key] = Joined(AnsweredBoxes(run.Output));
            break;
        }
        case Road::Seam:
        case Road::WineStreams:
            reports[item.Key] = Joined(ShredInProcess(settings, item, selected));
            break;
        case Road::PlainDelete:
            EXPECT_TRUE(::DeleteFileA(selected.c_str()));
            reports[item.Key] = "";
            break;
        case Road::Kept:
            EXPECT_EQ(ReadWide(root + item.Contents[0].Path).size(), item.Contents[0].Size);
            break;
        }
        // An item of which nothing was reported is gone from the volume.
        if (item.How != Road::Kept && reports[item.Key].empty()) {
            EXPECT_FALSE(ExistsWide(root + item.Selected));
        }
    }
    ::RegDeleteTreeA(HKEY_CURRENT_USER, ShredSettingsKey);
    ASSERT_TRUE(WriteUnixFile(volume.CaseFile(ReportsFile), WriteReports(reports)))
        << volume.CaseFile(ReportsFile);
}

void ExpectContent(const Item& item, bool reported, const MarkedContent& content, size_t found,
                   size_t total)
{
    // Data nobody destroyed is found whole: the look sees what it is meant to see.
    if (item.How == Road::Kept || item.How == Road::PlainDelete) {
        EXPECT_EQ(found, total) << "the search misses markers of " << Utf8(content.Path)
                                << ", which nothing overwrote";
        return;
    }
    if (reported)
        return;
    EXPECT_EQ(found, 0u) << found << " of " << total << " markers of " << Utf8(content.Path)
                         << " are still on the disk, and nothing was reported";
}

void ExpectName(const Item& item, const ShredSettings& settings, const Name& name,
                size_t utf16Places, size_t rowsNamingIt)
{
    if (item.How == Road::Kept) {
        EXPECT_GE(utf16Places, 1u) << "the search misses the name of a file nobody touched";
        return;
    }
    if (item.How == Road::PlainDelete) {
        EXPECT_EQ(rowsNamingIt, 1u) << "ntfsundelete does not list a plainly deleted file";
        return;
    }
    if (!RenamedBeforeDeletion(name, settings))
        return;
    EXPECT_EQ(rowsNamingIt, 0u) << "ntfsundelete lists " << Utf8(name.Text)
                                << " by the name it had before it was renamed";
}

void Examine(const ShredSettings& settings, const VolumeRun& volume)
{
    std::optional<ExaminedImage> look;
    ASSERT_NO_FATAL_FAILURE(ReadExaminedImage(volume, ReportsFile, look));
    const Reports reports = ReadReports(look->Handed);
    ASSERT_FALSE(look->Rows.empty()) << "ntfsundelete listed nothing";

    std::string findings = "Recovery look after " + Describe(settings) + "\n";
    for (const Item& item : Items()) {
        SCOPED_TRACE(item.Key + ": " + item.What);
        const auto report = reports.find(item.Key);
        if (item.How != Road::Kept) {
            ASSERT_NE(report, reports.end()) << "the shred phase never reached this item";
        }
        const bool reported = item.How != Road::Kept && !report->second.empty();
        if (!item.MustReport.empty()) {
            EXPECT_NE(report->second.find(item.MustReport), std::string::npos)
                << "reported: " << report->second;
        }
        findings += "\n" + item.Key + ": " + item.What + "\n";
        if (item.How != Road::Kept)
            findings += "  reported:     " + (reported ? report->second : "nothing") + "\n";
        for (const MarkedContent& content : item.Contents) {
            const MarkerFinds finds = look->Found(content.Tag);
            const size_t total = MarkerCount(content.Tag, content.Size);
            findings += "  content:      " + Utf8(LastPart(content.Path)) + " " +
                        std::to_string(finds.Numbers.size()) + " of " + std::to_string(total) +
                        " markers" + Where(look->Image, finds.Offsets) + "\n";
            ExpectContent(item, reported, content, finds.Numbers.size(), total);
        }
        size_t rowsNaming = 0;
        for (const Name& name : item.Names) {
            const std::vector<size_t> utf16 = look->Image.Places(Utf16Form(name.Text));
            const std::optional<std::string> codePage = NarrowExactly(name.Text, 1252);
            const size_t narrow = codePage ? look->Image.Places(*codePage).size() : 0;
            const size_t listed = look->RowsNaming(name.Text);
            rowsNaming += listed;
            findings += "  name:         " + Utf8(name.Text) + " " + std::to_string(utf16.size()) +
                        " in UTF-16" + Where(look->Image, utf16) + ", " + std::to_string(narrow) +
                        " in the code page\n";
            ExpectName(item, settings, name, utf16.size(), listed);
        }
        findings += "  ntfsundelete: " + std::to_string(rowsNaming) + " row(s) naming it\n";
    }
    std::string namedRows;
    for (const UndeleteRow& row : look->Rows)
        if (row.Name != "<none>")
            namedRows += "  " + row.Flags + " " + row.Recoverable + " " + row.Name + "\n";
    findings += "\nntfsundelete lists " + std::to_string(look->NamedRows()) +
                " deleted files and folders by name (flags: F file, D folder, R data in\n"
                "the file record, N in clusters; the share it could recover):\n" +
                namedRows;
    KeepFindings(volume, findings);
}

// Runs this case's phase with these settings: the script that mounts the volume runs each in turn.
void RunPhase(int method, bool mangle, bool tails)
{
    const ShredSettings settings = SettingsOf(method, 1, tails, mangle);
    RunVolumePhase(
        "forensic", [&](const VolumeRun& run) { Shred(settings, run); },
        [&](const VolumeRun& run) { Examine(settings, run); });
}

TEST(RecoveryLookTest, RandomDataMangledWithTails)
{
    RunPhase(MethodRandomData, true, true);
}

TEST(RecoveryLookTest, RandomDataKeepingNamesWithTails)
{
    RunPhase(MethodRandomData, false, true);
}

TEST(RecoveryLookTest, RandomDataMangledWithoutTails)
{
    RunPhase(MethodRandomData, true, false);
}

TEST(RecoveryLookTest, DoDMangledWithTails)
{
    RunPhase(MethodDoD, true, true);
}

TEST(RecoveryLookTest, DoDKeepingNamesWithTails)
{
    RunPhase(MethodDoD, false, true);
}

TEST(RecoveryLookTest, GutmannMangledWithTails)
{
    RunPhase(MethodGutmann, true, true);
}

TEST(RecoveryLookTest, GutmannKeepingNamesWithTails)
{
    RunPhase(MethodGutmann, false, true);
}

} // namespace
