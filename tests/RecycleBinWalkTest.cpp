// The Recycle Bin walk as the launcher runs it: the shell calls it makes and in what order, what
// it shreds and reports, the names it refuses to guess at, and that it gives back everything the
// shell handed it on every way out.
#include "FakeShell.h"
#include "FakeShredOs.h"
#include "RecordingWindow.h"
#include "TestFiles.h"
#include "TestSettings.h"
#include "WorkerJob.h"
#include "common/TextConversion.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// The engine's seam with the shell's Recycle Bin answered by a FakeShell. It logs the COM
// apartment the worker is in when it reports that it has finished, as "finished:<apartment>".
class BinShredOs : public FakeShredOs
{
public:
    explicit BinShredOs(FakeShell& shell) : shell(shell) {}

    HRESULT SHGetMalloc(IMalloc** allocator) override { return shell.GetMalloc(allocator); }
    HRESULT SHGetSpecialFolderLocation(HWND owner, int folder, PIDLIST_ABSOLUTE* list) override
    {
        return shell.GetFolderLocation(owner, folder, list);
    }
    HRESULT SHGetDesktopFolder(IShellFolder** desktop) override
    {
        return shell.GetDesktop(desktop);
    }
    LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_COMMAND && LOWORD(wParam) == ShredStatusCommand(StatusFinished))
            LogCall("finished", CurrentApartment());
        return FakeShredOs::SendMessageA(window, message, wParam, lParam);
    }

private:
    FakeShell& shell;
};

std::string File(const std::string& path)
{
    return "F:" + path;
}

std::string Status(ShredStatus status)
{
    return "S:" + std::to_string(ShredStatusCommand(status));
}

// What the window received, without progress steps and pass markers.
std::vector<std::string> Outline(const Notifications& received)
{
    std::vector<std::string> lines;
    for (const Notification& n : received) {
        if (n.Message == WM_SHRED_FILE)
            lines.push_back(File(n.Path));
        else if (!n.Posted && !n.IsCommand(ID_SHRED_STEP))
            lines.push_back("S:" + std::to_string(n.Id));
    }
    return lines;
}

std::vector<std::string> Concat(std::vector<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

const std::vector<std::string> SetUpCalls = {
    "SHGetMalloc",
    "SHGetSpecialFolderLocation(progress, 10)",
    "SHGetDesktopFolder",
    "desktop.BindToObject(bin, null, IID_IShellFolder)",
    "bin.EnumObjects(progress, 0xE0)",
};

const std::vector<std::string> TearDownCalls = {
    "items.Release", "bin.Release", "desktop.Release", "malloc.Free(bin)", "malloc.Release",
};

// The calls of a walk that reads the names of `items` entries, asks for one more where
// `asksForMore` (and gets none), and gives everything back.
std::vector<std::string> WalkCalls(int items, bool asksForMore = true)
{
    std::vector<std::string> calls = SetUpCalls;
    for (int position = 1; position <= items; ++position) {
        const std::string item = "item" + std::to_string(position);
        calls.insert(calls.end(),
                     {"items.Next(1, count)", "bin.GetDisplayNameOf(" + item + ", 0x8000)",
                      "malloc.Free(" + item + ")"});
    }
    if (asksForMore)
        calls.push_back("items.Next(1, count)");
    return Concat({calls, TearDownCalls});
}

// Makes a folder the process's current one while it lives.
class CurrentFolder
{
public:
    explicit CurrentFolder(const std::string& path)
    {
        ::GetCurrentDirectoryA(MAX_PATH, previous);
        ::SetCurrentDirectoryA(path.c_str());
    }
    ~CurrentFolder() { ::SetCurrentDirectoryA(previous); }
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;

private:
    char previous[MAX_PATH] = {};
};

class RecycleBinWalkTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        const auto expectGivenBack = [](const auto& object) {
            EXPECT_EQ(object.References(), 0u) << object.Name();
            EXPECT_FALSE(object.OverReleased()) << object.Name();
        };
        expectGivenBack(shell.Desktop);
        expectGivenBack(shell.Bin);
        expectGivenBack(shell.Items);
        expectGivenBack(shell.Malloc);
        EXPECT_EQ(shell.Lists.LiveLabels(), std::vector<std::string>{});
        EXPECT_EQ(shell.Malloc.StrayFrees, 0);
        EXPECT_EQ(shell.Malloc.FreesWithoutAllocator, 0);
    }

    // Runs a Recycle Bin job as the launcher starts one; every notification must come under
    // item index 0.
    Notifications RunWalk(ShredOs& walkOs)
    {
        const Notifications received = RunJob(window, QuickSettings(), walkOs, {{"", 0, true}});
        for (const Notification& n : received)
            EXPECT_EQ(n.ItemIndex, 0) << n.Message << " " << n.Id << " " << n.Path;
        return received;
    }
    Notifications RunWalk() { return RunWalk(os); }

    std::string MakeFile(const std::string& name)
    {
        const std::string path = folder / name;
        WriteText(path, Contents(name));
        return path;
    }
    static std::string Contents(const std::string& name) { return "the contents of " + name; }
    bool Untouched(const std::string& name)
    {
        const std::string text = Contents(name);
        return ReadBytes(folder / name) == std::vector<unsigned char>(text.begin(), text.end());
    }
    BinEntry Entry(const std::string& path, bool isFolder = false, bool hidden = false)
    {
        return {Widen(path), isFolder, hidden};
    }

    TempFolder folder;
    RecordingWindow window;
    FakeShell shell{window.Handle()};
    BinShredOs os{shell};
};

TEST_F(RecycleBinWalkTest, MakesTheShellCallsInOrderWithTheirFlagsAndSizes)
{
    shell.Entries = {Entry(MakeFile("one.txt")), Entry(MakeFile("two.txt"))};
    RunWalk();

    EXPECT_EQ(shell.Log.Calls.Entries(), WalkCalls(2));
}

TEST_F(RecycleBinWalkTest, HoldsAnApartmentOfItsOwnForTheWalkOnly)
{
    shell.Entries = {Entry(MakeFile("one.txt"))};
    RunWalk();

    const std::vector<std::string> apartments = shell.Log.Apartments.Entries();
    ASSERT_FALSE(apartments.empty());
    EXPECT_EQ(apartments, std::vector<std::string>(apartments.size(), "STA"));
    EXPECT_EQ(os.Calls.Details("finished"), std::vector<std::string>{"none"});
}

TEST_F(RecycleBinWalkTest, AnEmptyBinSendsOnlyFinished)
{
    const Notifications received = RunWalk();

    EXPECT_EQ(Describe(received), std::vector<std::string>{Status(StatusFinished)});
    EXPECT_EQ(shell.Log.Calls.Entries(), WalkCalls(0));
}

TEST_F(RecycleBinWalkTest, ShredsEveryFileAndFolderHiddenOnesIncluded)
{
    const std::string plain = MakeFile("plain.txt");
    const std::string hidden = MakeFile("hidden.txt");
    ::SetFileAttributesA(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN);
    const std::string tree = folder / "tree";
    MakeFolder(tree);
    MakeFolder(tree + "\\sub");
    const std::string top = MakeFile("tree\\top.txt");
    const std::string deep = MakeFile("tree\\sub\\deep.txt");
    const std::string hiddenTree = folder / "hidden tree";
    MakeFolder(hiddenTree);
    const std::string inHiddenTree = MakeFile("hidden tree\\inner.txt");
    MakeFile("bystander.txt");
    shell.Entries = {Entry(plain), Entry(hidden, false, true), Entry(tree, true),
                     Entry(hiddenTree, true, true)};

    const std::vector<std::string> outline = Outline(RunWalk());

    // The tree's own listing order is the file system's; the bin's order is kept.
    ASSERT_EQ(outline.size(), 11u);
    EXPECT_EQ(std::vector<std::string>(outline.begin(), outline.begin() + 4),
              (std::vector<std::string>{File(plain), Status(StatusShredded), File(hidden),
                                        Status(StatusShredded)}));
    std::vector<std::string> inTree = {outline[4], outline[6]};
    std::sort(inTree.begin(), inTree.end());
    EXPECT_EQ(inTree, (std::vector<std::string>{File(deep), File(top)}));
    EXPECT_EQ(outline[5], Status(StatusShredded));
    EXPECT_EQ(outline[7], Status(StatusShredded));
    EXPECT_EQ(std::vector<std::string>(outline.begin() + 8, outline.end()),
              (std::vector<std::string>{File(inHiddenTree), Status(StatusShredded),
                                        Status(StatusFinished)}));
    EXPECT_EQ(ListFolder(folder.Path()), std::vector<std::string>{"bystander.txt"});
    EXPECT_TRUE(Untouched("bystander.txt"));
}

TEST_F(RecycleBinWalkTest, TheRecordOfWhereAnItemCameFromGoesWithItButStaysWithAKeptOne)
{
    // Each item "$R..." has its record "$I..." beside it: the path it was deleted from, its size
    // and the time. A file, a folder, one that cannot be opened, and one without a record.
    const std::string file = MakeFile("$RAB12CD.txt");
    const std::string fileRecord = MakeFile("$IAB12CD.txt");
    const std::string album = folder / "$RQW45ER";
    MakeFolder(album);
    MakeFile("$RQW45ER\\beach.jpg");
    const std::string albumRecord = MakeFile("$IQW45ER");
    const std::string locked = MakeFile("$REF34GH.doc");
    const std::string lockedRecord = MakeFile("$IEF34GH.doc");
    const std::string lone = MakeFile("$RZZ99ZZ.txt");
    shell.Entries = {Entry(file), Entry(album, true), Entry(locked), Entry(lone)};
    UniqueHandle holder = HoldUnshared(locked);
    ASSERT_TRUE(holder);

    const Notifications received = RunWalk();
    holder.Reset();

    for (const std::string& gone : {file, fileRecord, album, albumRecord, lone})
        EXPECT_FALSE(Exists(gone)) << gone;
    EXPECT_TRUE(Untouched("$REF34GH.doc"));
    EXPECT_TRUE(Untouched("$IEF34GH.doc"));
    const std::vector<std::string> announced = Announced(received);
    EXPECT_EQ(std::count(announced.begin(), announced.end(), fileRecord), 1);
    EXPECT_EQ(std::count(announced.begin(), announced.end(), albumRecord), 1);
    EXPECT_EQ(std::count(announced.begin(), announced.end(), lockedRecord), 0);
}

TEST_F(RecycleBinWalkTest, ReadsTheNameInEveryFormTheShellGivesIt)
{
    const std::string wide = MakeFile("wide.txt");
    const std::string inside = MakeFile("inside.txt");
    const std::string offset = MakeFile("offset.txt");
    shell.Entries = {Entry(wide), Entry(inside), Entry(offset)};
    shell.Entries[1].NameForm = STRRET_CSTR;
    shell.Entries[2].NameForm = STRRET_OFFSET;

    EXPECT_EQ(Outline(RunWalk()),
              (std::vector<std::string>{File(wide), Status(StatusShredded), File(inside),
                                        Status(StatusShredded), File(offset),
                                        Status(StatusShredded), Status(StatusFinished)}));
    EXPECT_EQ(ListFolder(folder.Path()), std::vector<std::string>{});
}

// A step of the set-up that fails: how many of the set-up calls are made, and how many of the
// tear-down's calls give back what was obtained before it.
struct SetUpCase
{
    SetUpFailure Failure;
    const char* Name;
    size_t CallsMade;
    size_t GivenBack;
};

void PrintTo(const SetUpCase& setUpCase, std::ostream* out)
{
    *out << setUpCase.Name;
}

class RecycleBinSetUpTest : public RecycleBinWalkTest,
                            public ::testing::WithParamInterface<SetUpCase>
{};

TEST_P(RecycleBinSetUpTest, FailingReportsOnceAndShredsNothing)
{
    shell.Entries = {Entry(MakeFile("kept.txt"))};
    shell.Failure = GetParam().Failure;

    EXPECT_EQ(Describe(RunWalk()),
              (std::vector<std::string>{Status(StatusRecycleBinFailed), Status(StatusFinished)}));
    EXPECT_TRUE(Untouched("kept.txt"));
    // Each step stops the walk, and only what was obtained is given back.
    std::vector<std::string> calls(SetUpCalls.begin(), SetUpCalls.begin() + GetParam().CallsMade);
    calls.insert(calls.end(), TearDownCalls.end() - GetParam().GivenBack, TearDownCalls.end());
    EXPECT_EQ(shell.Log.Calls.Entries(), calls);
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, RecycleBinSetUpTest,
    ::testing::Values(SetUpCase{SetUpFailure::Allocator, "Allocator", 1, 0},
                      SetUpCase{SetUpFailure::Location, "Location", 2, 1},
                      SetUpCase{SetUpFailure::Desktop, "Desktop", 3, 2},
                      SetUpCase{SetUpFailure::Binding, "Binding", 4, 3},
                      SetUpCase{SetUpFailure::Enumeration, "Enumeration", 5, 4},
                      SetUpCase{SetUpFailure::NoEnumerator, "NoEnumerator", 5, 4}),
    [](const ::testing::TestParamInfo<SetUpCase>& info) { return info.param.Name; });

TEST_F(RecycleBinWalkTest, AnUnreadableNameEndsTheWalkAfterTheItemsBeforeIt)
{
    const std::vector<std::string> names = {"1.txt", "2.txt", "3.txt", "4.txt", "5.txt"};
    for (const std::string& name : names)
        shell.Entries.push_back(Entry(MakeFile(name)));
    shell.NameFailsAt = 3;

    EXPECT_EQ(Outline(RunWalk()),
              (std::vector<std::string>{File(folder / "1.txt"), Status(StatusShredded),
                                        File(folder / "2.txt"), Status(StatusShredded),
                                        Status(StatusRecycleBinFailed), Status(StatusFinished)}));
    EXPECT_EQ(ListFolder(folder.Path()), (std::vector<std::string>{"3.txt", "4.txt", "5.txt"}));
    for (const char* name : {"3.txt", "4.txt", "5.txt"})
        EXPECT_TRUE(Untouched(name)) << name;
    EXPECT_EQ(shell.Log.Calls.Entries(), WalkCalls(3, false));
}

TEST_F(RecycleBinWalkTest, AnErrorFromNextEndsTheWalkLikeItsEnd)
{
    for (const char* name : {"1.txt", "2.txt", "3.txt"})
        shell.Entries.push_back(Entry(MakeFile(name)));
    shell.NextFailsAt = 3;

    EXPECT_EQ(Outline(RunWalk()),
              (std::vector<std::string>{File(folder / "1.txt"), Status(StatusShredded),
                                        File(folder / "2.txt"), Status(StatusShredded),
                                        Status(StatusFinished)}));
    EXPECT_TRUE(Untouched("3.txt"));
    EXPECT_EQ(shell.Log.Calls.Entries(), WalkCalls(2));
}

TEST_F(RecycleBinWalkTest, ANameTooLongForTheBufferIsPassedOverNotCut)
{
    // The longest path the buffer holds, and one character more: cut to fit, it would name the
    // first file.
    const size_t nameLength = MAX_PATH - 1 - (folder.Path().size() + 1);
    ASSERT_LE(nameLength, 255u);
    const std::string longest = MakeFile(std::string(nameLength, 'n'));
    ASSERT_EQ(longest.size(), static_cast<size_t>(MAX_PATH - 1));
    shell.Entries = {Entry(longest + "x"), Entry(longest)};

    // Had the first item been cut, the second would find its file gone. Each refusal comes
    // under the name the item was listed by, for the window's list: one too long for the name
    // block, by its two ends.
    const std::string tooLong = longest + "x";
    const std::string ends = tooLong.substr(0, 128) + "..." + tooLong.substr(tooLong.size() - 128);
    EXPECT_EQ(Outline(RunWalk()),
              (std::vector<std::string>{File(ends), Status(StatusInvalidArguments), File(longest),
                                        Status(StatusShredded), Status(StatusFinished)}));
    EXPECT_EQ(shell.Log.Calls.Entries(), WalkCalls(2));
}

TEST_F(RecycleBinWalkTest, ANameThatIsNotAFullPathIsPassedOverNotResolved)
{
    MakeFile("decoy.txt");
    const std::string real = MakeFile("real.txt");
    ASSERT_EQ(folder.Path().substr(0, 3), "C:\\");
    CurrentFolder current(folder.Path());
    const std::string folderName = folder.Path().substr(folder.Path().find_last_of('\\') + 1);
    // Each of these names the decoy from the current folder, drive or root.
    std::vector<std::string> refused;
    for (const std::string& name :
         {std::string("decoy.txt"), std::string(".\\decoy.txt"), std::string("C:decoy.txt"),
          "..\\" + folderName + "\\decoy.txt", folder.Path().substr(2) + "\\decoy.txt"}) {
        shell.Entries.push_back(Entry(name));
        refused.insert(refused.end(), {File(name), Status(StatusInvalidArguments)});
    }
    shell.Entries.push_back(Entry(real));

    EXPECT_EQ(Outline(RunWalk()),
              Concat({refused, {File(real), Status(StatusShredded), Status(StatusFinished)}}));
    EXPECT_TRUE(Untouched("decoy.txt"));
    EXPECT_FALSE(Exists(real));
}

TEST_F(RecycleBinWalkTest, ANameOutsideTheCodePageIsPassedOverNotMappedToALookalike)
{
    // "caf" and an a with a macron best-fits to "cafa"; a CJK letter has no narrow form and becomes
    // "?", a wildcard that matches "cafa" too. An e acute is in the code page and names its file.
    MakeFile("cafa.txt");
    const std::string acute = MakeFile("caf\xE9.txt");
    const std::wstring base = Widen(folder.Path()) + L"\\caf";
    shell.Entries = {BinEntry{base + L"\u0101.txt"}, BinEntry{base + L"\u4E00.txt"}, Entry(acute)};

    // Both refused names read "caf?.txt": the second is not announced again.
    EXPECT_EQ(Outline(RunWalk()),
              (std::vector<std::string>{File(folder / "caf?.txt"), Status(StatusInvalidArguments),
                                        Status(StatusInvalidArguments), File(acute),
                                        Status(StatusShredded), Status(StatusFinished)}));
    EXPECT_TRUE(Untouched("cafa.txt"));
    EXPECT_FALSE(Exists(acute));
}

TEST_F(RecycleBinWalkTest, ANameTheBufferOrCodePageCannotHoldIsReachedByItsShortPath)
{
    const std::wstring top = Widen(folder.Path());
    const std::wstring cyrillic = top + L"\\\x041E\x0442\x0447\x0451\x0442.txt";
    WriteWide(cyrillic, {1, 2, 3});
    const std::wstring deep = top + L"\\" + std::wstring(120, L'd');
    MakeWideFolder(deep);
    const std::wstring deepFile = deep + L"\\" + std::wstring(150, L'f') + L".bin";
    WriteWide(deepFile, {4, 5, 6});
    shell.Entries = {BinEntry{cyrillic}, BinEntry{deepFile}};
    // Looked up before the files go.
    const std::vector<std::string> shortPaths = {NarrowWithSubstitutes(VolumeShortPath(cyrillic)),
                                                 NarrowWithSubstitutes(VolumeShortPath(deepFile))};

    const Notifications received = RunWalk();

    EXPECT_EQ(CountStatus(received, StatusShredded), 2u);
    EXPECT_EQ(CountStatus(received, StatusInvalidArguments), 0u);
    // Each file is worked on, and shown, by its short path.
    EXPECT_EQ(Announced(received), shortPaths);
    for (const std::string& path : shortPaths)
        EXPECT_LT(path.size(), size_t{MAX_PATH}) << path;
    EXPECT_FALSE(ExistsWide(cyrillic));
    EXPECT_FALSE(ExistsWide(deepFile));
}

TEST_F(RecycleBinWalkTest, WithoutShortNamesSuchANameIsPassedOverUntouched)
{
    os.NoShortNames = true;
    const std::wstring cyrillic = Widen(folder.Path()) + L"\\\x041E\x0442\x0447\x0451\x0442.txt";
    WriteWide(cyrillic, {1, 2, 3});
    const std::string plain = MakeFile("plain.txt");
    shell.Entries = {BinEntry{cyrillic}, Entry(plain)};

    EXPECT_EQ(Outline(RunWalk()),
              (std::vector<std::string>{File(NarrowWithSubstitutes(cyrillic)),
                                        Status(StatusInvalidArguments), File(plain),
                                        Status(StatusShredded), Status(StatusFinished)}));
    EXPECT_EQ(ReadWide(cyrillic), (std::vector<unsigned char>{1, 2, 3}));
}

// The real shell's bin, listed the way the walk lists it, from the calling thread.
bool ListRealBin(std::vector<std::wstring>& names)
{
    UniqueTaskMemory<ITEMIDLIST> location;
    UniqueCom<IShellFolder> desktop;
    UniqueCom<IShellFolder> bin;
    UniqueCom<IEnumIDList> items;
    HRESULT hr = ::SHGetSpecialFolderLocation(nullptr, CSIDL_BITBUCKET, location.Receive());
    if (SUCCEEDED(hr))
        hr = ::SHGetDesktopFolder(desktop.Receive());
    if (SUCCEEDED(hr))
        hr = desktop->BindToObject(location.Get(), nullptr, IID_IShellFolder,
                                   reinterpret_cast<void**>(bin.Receive()));
    if (SUCCEEDED(hr))
        hr = bin->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN,
                              items.Receive());
    if (SUCCEEDED(hr) && !items)
        hr = E_FAIL;
    UniqueTaskMemory<ITEMIDLIST> item;
    while (SUCCEEDED(hr) && items->Next(1, item.Receive(), nullptr) == S_OK) {
        STRRET name{};
        UniqueTaskMemory<wchar_t> text;
        hr = bin->GetDisplayNameOf(item.Get(), SHGDN_FORPARSING, &name);
        if (SUCCEEDED(hr))
            hr = ::StrRetToStrW(&name, item.Get(), text.Receive());
        if (SUCCEEDED(hr))
            names.push_back(text.Get());
    }
    return SUCCEEDED(hr);
}

bool MoveToRealBin(const std::string& path)
{
    std::string from = path;
    from.push_back('\0'); // the list ends with an empty name
    SHFILEOPSTRUCTA operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
    return ::SHFileOperationA(&operation) == 0 && !operation.fAnyOperationsAborted && !Exists(path);
}

// Removes the entry this test put in the bin, and its record, from the XDG trash.
void RemoveFromRealBin(const std::string& trash, const std::string& name)
{
    using DosName = WCHAR*(CDECL*)(const char*);
    const auto dosName = reinterpret_cast<DosName>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name")));
    if (!dosName)
        return;
    for (const std::string& unixPath :
         {trash + "/files/" + name, trash + "/info/" + name + ".trashinfo"}) {
        if (WCHAR* path = dosName(unixPath.c_str())) {
            ::DeleteFileW(path);
            ::HeapFree(::GetProcessHeap(), 0, path);
        }
    }
}

TEST_F(RecycleBinWalkTest, TheRealBinsBareNamesAreRefusedNotResolved)
{
    const std::optional<std::string> dataHome = ProjectDataHome();
    if (!dataHome)
        GTEST_SKIP() << "XDG_DATA_HOME is not the build's own: the bin would be a person's";

    const std::string name = "orlenwick-bin-" + std::to_string(::GetCurrentProcessId()) + "-" +
                             std::to_string(::GetTickCount()) + ".txt";
    MakeFolder(folder / "deleted");
    const std::string binned = MakeFile("deleted\\" + name);
    MakeFile(name);
    CurrentFolder current(folder.Path());

    ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    const bool moved = MoveToRealBin(binned);
    std::vector<std::wstring> names;
    const bool listed = ListRealBin(names);
    FakeShredOs realShell;
    const Notifications received = RunWalk(realShell);
    ::CoUninitialize();
    if (moved)
        RemoveFromRealBin(*dataHome + "/Trash", name);

    ASSERT_TRUE(listed);
    EXPECT_TRUE(moved) << "SHFileOperationA could not move the file to the bin";
    if (moved) {
        EXPECT_NE(std::find(names.begin(), names.end(), Widen(name)), names.end());
    }
    // Wine names its bin's items by their bare original names, which the walk must not look
    // up in the current folder.
    for (const std::wstring& listedName : names)
        EXPECT_EQ(listedName.find(L'\\'), std::wstring::npos) << NarrowWithSubstitutes(listedName);
    std::vector<std::string> expected;
    for (const std::wstring& listedName : names)
        expected.insert(expected.end(), {"F:0:" + NarrowWithSubstitutes(listedName),
                                         Status(StatusInvalidArguments)});
    expected.push_back(Status(StatusFinished));
    EXPECT_EQ(Describe(received), expected);
    EXPECT_TRUE(Untouched(name));
}

} // namespace
