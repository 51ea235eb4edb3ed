// Shredding a selected folder: every file inside through its own notifications, depth first, the
// folder removed last; failures reported and left; listings, links, long paths and names the
// code page cannot hold handled without losing an entry or reaching outside the tree.
#include "WalkTest.h"
#include "common/TextConversion.h"

#include <gtest/gtest.h>

#include <map>

namespace {

std::map<WORD, size_t> Statuses(const Notifications& all)
{
    std::map<WORD, size_t> counts;
    for (const Notification& n : all)
        if (n.Message == WM_COMMAND && !n.Posted && n.Id != ID_SHRED_STEP)
            ++counts[n.Id];
    return counts;
}

std::map<WORD, size_t> Expect(size_t shredded, size_t invalid = 0, size_t denied = 0)
{
    std::map<WORD, size_t> counts{{ShredStatusCommand(StatusFinished), 1}};
    if (shredded)
        counts[ShredStatusCommand(StatusShredded)] = shredded;
    if (invalid)
        counts[ShredStatusCommand(StatusInvalidArguments)] = invalid;
    if (denied)
        counts[ShredStatusCommand(StatusAccessViolation)] = denied;
    return counts;
}

// The walk a folder should get, depth first in the order the system lists its entries: the
// seam's events and what the window receives for files of 1 to 1024 bytes under one random pass.
void ExpectedWalk(const std::string& folder, std::vector<std::string>& events,
                  std::vector<std::string>& sent)
{
    WIN32_FIND_DATAA entry;
    const UniqueFind listing(::FindFirstFileA((folder + "\\*").c_str(), &entry));
    for (bool more = listing.IsValid(); more; more = ::FindNextFileA(listing.Get(), &entry)) {
        const std::string name = entry.cFileName;
        const std::string child = folder + "\\" + name;
        if (name == "." || name == "..")
            continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ExpectedWalk(child, events, sent);
            continue;
        }
        events.push_back("file:" + child);
        sent.insert(sent.end(), {"F:1:" + child, "S:1044", "S:1038"});
    }
    events.push_back("rmdir:" + folder);
}

class DirectoryWalkTest : public WalkTest
{
protected:
    DirectoryWalkTest() : root(folder / "root") { MakeFolder(root); }

    // No narrow call was handed a name that does not fit its buffers ("\*" added to a listing's).
    void ExpectEveryNarrowNameFits()
    {
        for (const std::string& event : os.Log()) {
            const size_t colon = event.find(':');
            const size_t pattern = event.compare(0, colon, "list") == 0 ? 2 : 0;
            EXPECT_LT(event.size() - colon - 1 + pattern, size_t{MAX_PATH}) << event;
        }
    }

    std::string File(const std::string& path, size_t size = 300, unsigned char seed = 1)
    {
        WriteBytes(path, Pattern(size, seed));
        return path;
    }

    std::string Folder(const std::string& path)
    {
        MakeFolder(path);
        return path;
    }

    const std::string root;
};

TEST_F(DirectoryWalkTest, FilesAndSubFoldersGoDepthFirstAndTheFolderLast)
{
    File(root + "\\a.txt", 10);
    File(root + "\\b.bin", 1023);
    MakeFolder(root + "\\sub");
    File(root + "\\sub\\c.txt", 1);
    MakeFolder(root + "\\sub\\deeper");
    File(root + "\\sub\\deeper\\d.txt", 500);
    MakeFolder(root + "\\sub\\empty");
    File(root + "\\sub\\e.txt", 20);
    File(root + "\\z.txt", 30);
    std::vector<std::string> events;
    std::vector<std::string> sent;
    ExpectedWalk(root, events, sent);
    sent.push_back("S:1041");

    const Notifications received = Shred({root}, 7);

    EXPECT_EQ(os.Calls.Of({"file", "rmdir"}), events);
    EXPECT_EQ(Describe(OnlySent(received)), sent);
    EXPECT_EQ(OnlyPosted(received).size(), 6u);
    EXPECT_FALSE(Exists(root));
    EXPECT_EQ(ListFolder(folder.Path()), std::vector<std::string>{});
}

TEST_F(DirectoryWalkTest, AnEmptyFolderIsRemovedWithNothingButStatusFinished)
{
    EXPECT_EQ(Describe(Shred({root}, 7)), std::vector<std::string>{"S:1041"});
    EXPECT_FALSE(Exists(root));
}

TEST_F(DirectoryWalkTest, HiddenSystemAndReadOnlyFilesInsideAreShredded)
{
    settings.MangleDateAndTime = true;
    const DWORD kinds[] = {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM, FILE_ATTRIBUTE_READONLY,
                           FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY};
    std::vector<std::string> paths;
    for (DWORD kind : kinds) {
        paths.push_back(File(root + "\\kind" + std::to_string(kind) + ".dat"));
        ASSERT_TRUE(::SetFileAttributesA(paths.back().c_str(), kind));
    }

    const Notifications received = Shred({root}, 7);

    EXPECT_EQ(Statuses(received), Expect(4));
    EXPECT_EQ(Sorted(Announced(received)), Sorted(paths));
    EXPECT_FALSE(Exists(root));
}

TEST_F(DirectoryWalkTest, EveryEntryIsExaminedWhereverTheDotsStandInTheListing)
{
    os.DotsInside = true;
    std::vector<std::string> files{File(root + "\\first.txt"), File(root + "\\second.txt")};
    MakeFolder(root + "\\only");
    files.push_back(File(root + "\\only\\alone.txt"));
    MakeFolder(root + "\\pair");
    files.push_back(File(root + "\\pair\\one.txt"));
    files.push_back(File(root + "\\pair\\two.txt"));

    const Notifications received = Shred({root}, 7);

    EXPECT_EQ(Sorted(Announced(received)), Sorted(files));
    EXPECT_EQ(Statuses(received), Expect(files.size()));
    EXPECT_EQ(Sorted(os.Calls.Of({"list"})),
              Sorted({"list:" + root, "list:" + root + "\\only", "list:" + root + "\\pair"}));
    EXPECT_FALSE(Exists(root));
}

TEST_F(DirectoryWalkTest, FoldersAndFilesWhoseNamesBeginWithADotAreShredded)
{
    MakeFolder(root + "\\.cache");
    MakeFolder(root + "\\.git");
    MakeFolder(root + "\\.git\\objects");
    const std::vector<std::string> files{File(root + "\\.cache\\blob"), File(root + "\\.git\\HEAD"),
                                         File(root + "\\.git\\objects\\pack"),
                                         File(root + "\\.profile"), File(root + "\\..hidden")};

    const Notifications received = Shred({root}, 7);

    EXPECT_EQ(Sorted(Announced(received)), Sorted(files));
    EXPECT_EQ(Statuses(received), Expect(files.size()));
    EXPECT_FALSE(Exists(root));
}

TEST_F(DirectoryWalkTest, AFileThatCannotBeOpenedIsReportedAndTheFoldersAboveItStay)
{
    MakeFolder(root + "\\a");
    MakeFolder(root + "\\a\\b");
    const std::string locked = File(root + "\\a\\b\\locked.bin", 800, 7);
    const std::vector<std::string> others{File(root + "\\a\\b\\beside.txt"),
                                          File(root + "\\a\\other.txt"), File(root + "\\z.txt")};
    UniqueHandle holder = HoldUnshared(locked);
    ASSERT_TRUE(holder);

    const Notifications received = Shred({root}, 7);
    holder.Reset();

    EXPECT_EQ(Statuses(received), Expect(others.size(), 0, 1));
    EXPECT_EQ(Sorted(Announced(received)), Sorted(others));
    EXPECT_EQ(ReadBytes(locked), Pattern(800, 7));
    EXPECT_EQ(ListFolder(root + "\\a\\b"), std::vector<std::string>{"locked.bin"});
    EXPECT_EQ(ListFolder(root + "\\a"), std::vector<std::string>{"b"});
    EXPECT_EQ(ListFolder(root), std::vector<std::string>{"a"});
}

TEST_F(DirectoryWalkTest, AListingThatCannotBeOpenedKeepsItsFolderUntouchedAndSaysSo)
{
    const std::string sealed = Folder(root + "\\sealed");
    const std::string secret = File(sealed + "\\secret.bin", 600, 3);
    const std::string plain = File(root + "\\plain.txt");
    os.Sealed.insert(sealed);

    const Notifications received = Shred({root}, 7);

    EXPECT_EQ(Describe(OnlySent(received)),
              (std::vector<std::string>{"F:1:" + plain, "S:1044", "S:1038", "F:0:" + sealed,
                                        "S:1056", "S:1041"}));
    for (const std::string& event : os.Log())
        EXPECT_EQ(event.find(sealed + "\\"), std::string::npos) << event;
    // What holds the sealed folder stays with it, without a second report.
    const std::vector<std::string> removals = os.Calls.Of({"rmdir"});
    EXPECT_EQ(removals, (std::vector<std::string>{"rmdir:" + root}));
    EXPECT_EQ(ReadBytes(secret), Pattern(600, 3));
    EXPECT_EQ(ListFolder(root), std::vector<std::string>{"sealed"});
}

TEST_F(DirectoryWalkTest, ASelectedFolderWhoseListingCannotBeOpenedIsKeptAndReported)
{
    const std::string secret = File(root + "\\secret.bin", 600, 4);
    os.Sealed.insert(root);

    // The window lists it under the item's own name.
    EXPECT_EQ(Describe(Shred({root}, 7)), (std::vector<std::string>{"S:1056", "S:1041"}));
    EXPECT_EQ(os.Calls.Of({"rmdir", "open", "remove"}), std::vector<std::string>{});
    EXPECT_EQ(ReadBytes(secret), Pattern(600, 4));
}

TEST_F(DirectoryWalkTest, AVolumeRootIsNeverWalkedWhetherSelectedOrFoundInsideAFolder)
{
    // A drive, or a volume mounted on a folder: everything on it would go.
    const std::string drive = Folder(folder / "drive");
    const std::string onDrive = File(drive + "\\system.dat", 800, 10);
    const std::string mounted = Folder(root + "\\mounted");
    const std::string onMounted = File(mounted + "\\backup.vhd", 900, 11);
    const std::string plain = File(root + "\\plain.txt");
    os.MountedFolders = {drive, mounted};

    EXPECT_EQ(Describe(Shred({drive}, 7)), (std::vector<std::string>{"S:1046", "S:1041"}));
    // The window has heard of both items by now.
    const Notifications received = Shred({root}, 7);

    EXPECT_EQ(Statuses(received),
              (std::map<WORD, size_t>{{ShredStatusCommand(StatusShredded), 1},
                                      {ShredStatusCommand(StatusVolumeRoot), 2},
                                      {ShredStatusCommand(StatusFinished), 2}}));
    for (const std::string& event : os.Calls.Of({"list", "open", "remove", "rmdir", "followed"})) {
        EXPECT_EQ(event.find(drive), std::string::npos) << event;
        EXPECT_EQ(event.find(mounted), std::string::npos) << event;
    }
    EXPECT_EQ(ReadBytes(onDrive), Pattern(800, 10));
    EXPECT_EQ(ReadBytes(onMounted), Pattern(900, 11));
    EXPECT_EQ(ListFolder(root), std::vector<std::string>{"mounted"});
}

TEST_F(DirectoryWalkTest, AListingThatFailsBeforeItsEndKeepsItsFolderAndSaysSo)
{
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        File(root + "\\" + name);
    // ".", ".." and one file, then an error that is not the listing's end.
    os.ListingBreaksAfter[root] = 3;

    const Notifications received = Shred({root}, 7);

    EXPECT_EQ(CountStatus(received, StatusShredded), 1u);
    EXPECT_EQ(CountStatus(received, StatusFolderNotListed), 1u);
    EXPECT_EQ(ListFolder(root).size(), 2u);
    EXPECT_EQ(os.Calls.Of({"rmdir"}), std::vector<std::string>{});
}

TEST_F(DirectoryWalkTest, FoldersGoReadOnlyOrNotAndOnlyAnEmptiedOneThatStaysIsReported)
{
    // A read-only folder (the shell marks customised folders so) goes like any other.
    const std::string custom = Folder(root + "\\custom");
    File(custom + "\\desktop.ini");
    os.ReadOnlyFolders.insert(custom);
    // A folder someone holds open cannot go, emptied or not; the folders above it stay with it,
    // and only it is reported.
    const std::string held = Folder(root + "\\held");
    MakeFolder(held + "\\inner");
    File(held + "\\inner\\x.bin");
    const UniqueHandle holder(::CreateFileA((held + "\\inner").c_str(), FILE_LIST_DIRECTORY,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(holder);

    const Notifications received = Shred({root}, 7);

    EXPECT_FALSE(Exists(custom));
    EXPECT_EQ(CountStatus(received, StatusShredded), 2u);
    EXPECT_EQ(CountStatus(received, StatusFolderNotRemoved), 1u);
    EXPECT_EQ(Named(received).back(), held + "\\inner");
    EXPECT_EQ(ListFolder(root), std::vector<std::string>{"held"});
    EXPECT_TRUE(ListFolder(held + "\\inner").empty());
}

TEST_F(DirectoryWalkTest, WithNamesScrambledEveryFolderIsRenamedBeforeItGoes)
{
    settings.MangleDateAndTime = true;
    const std::string album = Folder(root + "\\Holiday 2024.album");
    File(album + "\\beach.jpg");

    Shred({root}, 7);

    EXPECT_FALSE(Exists(root));
    std::vector<std::pair<std::string, std::string>> folders;
    for (const auto& rename : os.Renames())
        if (rename.first == album || rename.first == root)
            folders.push_back(rename);
    ASSERT_EQ(folders.size(), 2u);
    for (const auto& [from, to] : folders) {
        SCOPED_TRACE(from);
        const size_t name = from.find_last_of('\\') + 1;
        EXPECT_EQ(to.substr(0, name), from.substr(0, name));
        EXPECT_EQ(to.size(), from.size());
        // Letters from A to Y for every character but an extension's dot.
        for (size_t i = name; i < to.size(); ++i)
            EXPECT_TRUE((to[i] >= 'A' && to[i] <= 'Y') || (to[i] == '.' && from[i] == '.')) << to;
        // Once, and nothing below the new name: the folder's contents went before the rename.
        const std::vector<std::string> removed = os.Calls.Details("rmdir");
        EXPECT_EQ(std::count_if(removed.begin(), removed.end(),
                                [&](const std::string& path) { return path.rfind(to, 0) == 0; }),
                  1);
    }
}

TEST_F(DirectoryWalkTest, LinksInsideAreRemovedAndWhatTheyPointToIsNeverReached)
{
    const std::string outside = Folder(folder / "outside");
    MakeFolder(outside + "\\deep");
    File(outside + "\\a.bin", 700, 5);
    File(outside + "\\deep\\b.bin", 900, 6);
    const std::string outsideFile = File(folder / "outside.bin", 1500, 8);

    const std::string junction = Folder(root + "\\junction");
    const std::string fileLink = File(root + "\\link.bin", 4, 9);
    const std::string plain = File(root + "\\plain.txt");
    os.Link(junction, outside);
    os.Link(fileLink, outsideFile);

    const Notifications received = Shred({root}, 7);

    EXPECT_EQ(Statuses(received), Expect(3));
    EXPECT_EQ(Announced(received), std::vector<std::string>{plain});
    EXPECT_EQ(os.Calls.Of({"followed"}), std::vector<std::string>{});
    EXPECT_EQ(os.Calls.Count("rmdir", junction), 1u);
    EXPECT_EQ(os.Calls.Count("remove", fileLink), 1u);
    EXPECT_FALSE(Exists(root));
    EXPECT_EQ(ListFolder(outside), (std::vector<std::string>{"a.bin", "deep"}));
    EXPECT_EQ(ReadBytes(outside + "\\a.bin"), Pattern(700, 5));
    EXPECT_EQ(ReadBytes(outside + "\\deep\\b.bin"), Pattern(900, 6));
    EXPECT_EQ(ReadBytes(outsideFile), Pattern(1500, 8));
}

TEST_F(DirectoryWalkTest, PathsTooLongForTheNarrowCallsAreReportedWhereNoShortNameExists)
{
    os.NoShortNames = true;
    // Names that bring a path to exactly `length` characters inside `parent`.
    auto sized = [](const std::string& parent, size_t length, char fill) {
        return parent + "\\" + std::string(length - parent.size() - 1, fill);
    };
    const std::string fits = File(sized(root, 259, 'a'));
    const std::string tooLong = sized(root, 260, 'b');
    WriteWide(LongPath(tooLong), Pattern(100, 1));
    const std::string sub = Folder(root + "\\sub");
    const std::string farTooLong = sub + "\\" + std::string(250, 'c');
    WriteWide(LongPath(farTooLong), Pattern(100, 2));
    const std::string longFolder = sub + "\\" + std::string(240, 'd');
    MakeWideFolder(LongPath(longFolder));
    WriteWide(LongPath(longFolder + "\\inner.txt"), Pattern(100, 3));
    // Listed only when "\*" still fits after the folder's path.
    const std::string listable = sized(root, 257, 'e');
    MakeWideFolder(LongPath(listable));
    const std::string lastFit = File(listable + "\\x");
    const std::vector<std::string> unlistable{sized(root, 258, 'f'), sized(root, 259, 'g')};
    for (const std::string& path : unlistable) {
        MakeWideFolder(LongPath(path));
        WriteWide(LongPath(path + "\\held.txt"), Pattern(100, 4));
    }
    const std::string emptyUnlistable = sized(root, 259, 'j');
    MakeWideFolder(LongPath(emptyUnlistable));
    const std::string after = File(root + "\\~after.txt");
    // Names longer than any the volume allows, as only a listing can deliver them.
    os.Extra[sub] = {Entry(std::wstring(259, L'h'), FILE_ATTRIBUTE_ARCHIVE),
                     Entry(std::wstring(259, L'i'), FILE_ATTRIBUTE_DIRECTORY)};

    const Notifications received = Shred({root}, 7);

    EXPECT_EQ(Statuses(received), Expect(3, 7));
    ExpectEveryNarrowNameFits();
    EXPECT_EQ(Sorted(Announced(received)), Sorted({fits, lastFit, after}));
    EXPECT_FALSE(Exists(fits));
    EXPECT_FALSE(Exists(listable));
    EXPECT_FALSE(Exists(emptyUnlistable));
    EXPECT_EQ(ReadWide(LongPath(tooLong)), Pattern(100, 1));
    EXPECT_EQ(ReadWide(LongPath(farTooLong)), Pattern(100, 2));
    EXPECT_EQ(ReadWide(LongPath(longFolder + "\\inner.txt")), Pattern(100, 3));
    for (const std::string& path : unlistable)
        EXPECT_EQ(ReadWide(LongPath(path + "\\held.txt")), Pattern(100, 4));
    EXPECT_TRUE(Exists(root));
}

TEST_F(DirectoryWalkTest, ATreeDeeperThanTheNarrowLimitIsShreddedWholeThroughShortNames)
{
    // Three levels of 100-character folders: every long path below the second level passes
    // MAX_PATH, while the short forms stay far below it.
    std::string level = root;
    std::vector<std::string> files;
    for (char fill : {'a', 'b', 'c'}) {
        level += "\\" + std::string(100, fill);
        MakeWideFolder(LongPath(level));
        files.push_back(level + "\\" + std::string(60, fill) + ".txt");
        WriteWide(LongPath(files.back()), Pattern(700, static_cast<unsigned char>(fill)));
    }
    MakeWideFolder(LongPath(level + "\\empty"));
    ASSERT_GT(files.back().size(), size_t{MAX_PATH});

    const Notifications received = Shred({root}, 7);

    EXPECT_EQ(Statuses(received), Expect(files.size()));
    ExpectEveryNarrowNameFits();
    EXPECT_FALSE(ExistsWide(LongPath(root)));
}

TEST_F(DirectoryWalkTest, NamesTheCodePageCannotHoldAreReachedThroughTheirShortNames)
{
    // A Japanese name: the narrow listing gives "???.txt" and a generated short name.
    const std::wstring japanese = LongPath(root) + L"\\\x65e5\x672c\x8a9e.txt";
    WriteWide(japanese, Pattern(400, 5));
    std::string shortName;
    {
        WIN32_FIND_DATAA entry;
        const UniqueFind listing(::FindFirstFileA((root + "\\*.txt").c_str(), &entry));
        ASSERT_TRUE(listing);
        EXPECT_NE(std::string(entry.cFileName).find('?'), std::string::npos);
        shortName = entry.cAlternateFileName;
    }
    ASSERT_FALSE(shortName.empty());
    // A folder delivered the same way, its short name being one the volume resolves.
    MakeFolder(root + "\\reach");
    const std::string inner = File(root + "\\reach\\inner.bin");
    os.Renamed[root + "\\reach"] = {L"r\x0100"
                                    L"ach",
                                    L"reach"};

    const Notifications received = Shred({root}, 7);

    EXPECT_EQ(Statuses(received), Expect(2));
    EXPECT_EQ(Sorted(Announced(received)), Sorted({root + "\\" + shortName, inner}));
    EXPECT_EQ(::GetFileAttributesW(japanese.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(Exists(root));
}

TEST_F(DirectoryWalkTest, NamesWithoutAShortNameAreReportedAndNeverEntered)
{
    const std::string unnamed = File(root + "\\plain-one.txt", 300, 6);
    MakeFolder(root + "\\dXr");
    const std::string kept = File(root + "\\dXr\\kept.txt", 300, 7);
    const std::string other = File(root + "\\other.txt");
    os.Renamed[unnamed] = {L"pl\x0100in-one.txt", L""};
    os.Renamed[root + "\\dXr"] = {L"d\x0100"
                                  L"r",
                                  L""};

    const Notifications received = Shred({root}, 7);

    EXPECT_EQ(Statuses(received), Expect(1, 2));
    EXPECT_EQ(Announced(received), std::vector<std::string>{other});
    EXPECT_EQ(os.Calls.Of({"list"}), std::vector<std::string>{"list:" + root});
    EXPECT_EQ(ReadBytes(unnamed), Pattern(300, 6));
    EXPECT_EQ(ReadBytes(kept), Pattern(300, 7));
    EXPECT_EQ(ListFolder(root), (std::vector<std::string>{"dXr", "plain-one.txt"}));
}

} // namespace
