// The whole road, as the shell takes it: the built DLL registered with regsvr32, the shell
// stand-in creating the handler for a selection (or the Recycle Bin), choosing "Shred Item(s)"
// and answering the confirm dialog; and the DLL loaded in-process, kept loaded by its workers
// and its progress window until the last of them has ended.
#include "Captions.h"
#include "DialogDriver.h"
#include "InstalledShellRoad.h"
#include "ProgramRunner.h"
#include "ShellSelection.h"
#include "StoredSettingValues.h"
#include "TestFiles.h"
#include "WaitUntil.h"
#include "common/TextConversion.h"
#include "shellext/Guids.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

size_t Occurrences(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

class ShellRoadTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        Road = new InstalledShellRoad;
        Road->Install(ORLENWICK_DLL_PATH, ORLENWICK_STANDIN_PATH, ORLENWICK_STANDIN_UTF8_PATH);
    }

    static void TearDownTestSuite()
    {
        delete Road;
        Road = nullptr;
    }

    static InstalledShellRoad* Road;
    const ClearedSettingsKey settingsKey;
    TempFolder work;
};

InstalledShellRoad* ShellRoadTest::Road = nullptr;

TEST_F(ShellRoadTest, ConfirmedFilesAreOverwrittenAndRemoved)
{
    const auto report = Pattern(20000, 1);
    WriteBytes(work / "report.final.doc", report);
    WriteText(work / "passwords.txt", "account 1234-5678\n");
    const auto kept = Pattern(3000, 2);
    WriteBytes(work / "not-selected.txt", kept);

    const ProgramRun run = Road->RunStandIn(
        {"--confirm", work / "report.final.doc", work / "passwords.txt"}, work.Path());

    SCOPED_TRACE(run.Output);
    ExpectCompleteRun(run, "OK");
    EXPECT_EQ(std::string::npos, run.Output.find("message box:"));
    EXPECT_EQ((Names{"not-selected.txt"}), ListFolder(work.Path()));
    EXPECT_EQ(kept, ReadBytes(work / "not-selected.txt"));
    EXPECT_EQ((SettingValues{0, 0, 0, 1}), StoredSettingValues());
}

TEST_F(ShellRoadTest, DataWithANameOutsideTheSelectionIsKeptWholeAndReported)
{
    // A selected file and a file in a selected folder, each with a second name outside the
    // selection (a hard link, as package stores and backups make them), beside ordinary files.
    MakeFolder(work / "selected");
    MakeFolder(work / "elsewhere");
    const auto report = Pattern(20000, 11);
    WriteBytes(work / "report.doc", report);
    const auto photo = Pattern(9000, 12);
    WriteBytes(work / "selected\\photo.jpg", photo);
    WriteBytes(work / "selected\\notes.txt", Pattern(700, 13));
    WriteBytes(work / "plain.txt", Pattern(500, 14));
    ASSERT_TRUE(::CreateHardLinkA((work / "elsewhere\\report.link").c_str(),
                                  (work / "report.doc").c_str(), nullptr));
    ASSERT_TRUE(::CreateHardLinkA((work / "elsewhere\\photo.jpg").c_str(),
                                  (work / "selected\\photo.jpg").c_str(), nullptr));

    const ProgramRun run = Road->RunStandIn(
        {"--confirm", work / "report.doc", work / "selected", work / "plain.txt"}, work.Path());

    SCOPED_TRACE(run.Output);
    ExpectCompleteRun(run, "OK");
    EXPECT_EQ(2u, Occurrences(run.Output, "File Has Other Names (Not Overwritten)"));
    EXPECT_EQ(report, ReadBytes(work / "elsewhere\\report.link"));
    EXPECT_EQ(report, ReadBytes(work / "report.doc"));
    EXPECT_EQ(photo, ReadBytes(work / "elsewhere\\photo.jpg"));
    EXPECT_EQ(photo, ReadBytes(work / "selected\\photo.jpg"));
    EXPECT_EQ((Names{"elsewhere", "report.doc", "selected"}), ListFolder(work.Path()));
    EXPECT_EQ((Names{"photo.jpg"}), ListFolder(work / "selected"));
}

TEST_F(ShellRoadTest, FolderWithNestedFilesIsRemoved)
{
    const std::string photos = work / "Holiday photos";
    MakeFolder(photos);
    MakeFolder(photos + "\\raw");
    MakeFolder(photos + "\\raw\\empty");
    WriteBytes(photos + "\\beach.jpg", Pattern(30000, 3));
    WriteBytes(photos + "\\raw\\beach.raw", Pattern(5000, 4));
    WriteText(photos + "\\raw\\notes.txt", "");
    const auto kept = Pattern(700, 5);
    WriteBytes(work / "elsewhere.txt", kept);

    const ProgramRun run = Road->RunStandIn({"--confirm", photos}, work.Path());

    SCOPED_TRACE(run.Output);
    ExpectCompleteRun(run, "OK");
    EXPECT_EQ(std::string::npos, run.Output.find("message box:"));
    EXPECT_FALSE(Exists(photos));
    EXPECT_EQ(Names{"elsewhere.txt"}, ListFolder(work.Path()));
    EXPECT_EQ(kept, ReadBytes(work / "elsewhere.txt"));
}

// Files and a folder selected together in one folder, next to items that are not selected.
class MixedSelection
{
public:
    explicit MixedSelection(const TempFolder& work) : work(work)
    {
        WriteBytes(work / "a.txt", Pattern(4000, 6));
        WriteBytes(work / "b.bin", Pattern(9000, 7));
        MakeFolder(work / "docs");
        MakeFolder(work / "docs\\deep");
        WriteBytes(work / "docs\\x.txt", Pattern(1500, 8));
        WriteBytes(work / "docs\\deep\\y.txt", Pattern(2500, 9));
        WriteBytes(work / "c.txt", Pattern(1000, 10));
        MakeFolder(work / "other");
        WriteBytes(work / "other\\z.txt", Pattern(1200, 11));
    }

    // The stand-in's arguments: how it answers the confirm dialog, then the selection.
    Names Arguments(const char* answer) const
    {
        return {answer, work / "a.txt", work / "b.bin", work / "docs"};
    }

private:
    const TempFolder& work;
};

TEST_F(ShellRoadTest, NamesOfEveryScriptAreShreddedWholeAndTheirLookAlikesKept)
{
    for (const auto& [standIn, codePage] :
         {std::pair{Road->StandIn(), 1252}, {Road->StandInUtf8(), 65001}}) {
        SCOPED_TRACE(standIn);
        // Names in scripts the code page lacks, selected together with a folder that holds more,
        // beside the names a best-fit conversion would turn them into.
        TempFolder here;
        const std::wstring top = Widen(here.Path());
        const std::wstring folder = top + L"\\\x041F\x0430\x043F\x043A\x0430";
        const std::vector<std::wstring> selected = {top + L"\\\x041E\x0442\x0447\x0451\x0442.txt",
                                                    top + L"\\\x65E5\x672C\x8A9E.doc",
                                                    top + L"\\\x0100.txt", folder};
        WriteWide(selected[0], Pattern(3000, 20));
        WriteWide(selected[1], Pattern(5000, 21));
        WriteWide(selected[2], Pattern(700, 22));
        MakeWideFolder(folder);
        WriteWide(folder + L"\\\xD83D\xDE42.txt", Pattern(900, 23));
        MakeWideFolder(folder + L"\\\x6DF1");
        WriteWide(folder + L"\\\x6DF1\\deep.bin", Pattern(400, 24));
        // What the selected names would become under best fit, and an unrelated neighbour.
        WriteWide(top + L"\\Otchet.txt", Pattern(1000, 25));
        WriteWide(top + L"\\A.txt", Pattern(1100, 26));
        MakeWideFolder(top + L"\\Papka");
        WriteWide(top + L"\\Papka\\smile.txt", {});
        WriteWide(top + L"\\neighbour.txt", Pattern(1200, 27));
        TreeSnapshot untouched = SnapshotTree(top);
        for (auto it = untouched.begin(); it != untouched.end();)
            it = it->first.find_first_of(L"\x041E\x65E5\x0100\x041F") != std::wstring::npos
                     ? untouched.erase(it)
                     : std::next(it);
        std::wstring commandLine = Widen(Quoted(standIn)) + L" --confirm";
        for (const std::wstring& path : selected)
            commandLine += L" \"" + path + L"\"";

        const ProgramRun run = RunProgram(commandLine, top, StandInTimeoutMs);

        SCOPED_TRACE(run.Output);
        ExpectCompleteRun(run, "OK");
        EXPECT_NE(std::string::npos,
                  run.Output.find("ANSI code page: " + std::to_string(codePage)));
        EXPECT_EQ(std::string::npos, run.Output.find("message box:"));
        EXPECT_EQ(ListWideFolder(top),
                  (std::vector<std::wstring>{L"A.txt", L"Otchet.txt", L"Papka", L"neighbour.txt"}));
        EXPECT_EQ(SnapshotTree(top), untouched);
    }
}

TEST_F(ShellRoadTest, LookAlikesOfSeparatorsInAFolderNeverLeadOutOfIt)
{
    // The look-alikes of separators inside the selected folder, what each would name beside it,
    // and a plain file.
    const std::wstring top = Widen(work.Path());
    const std::wstring selected = top + L"\\selected";
    MakeWideFolder(selected);
    PlantSeparatorLookAlikes(top, selected);
    WriteWide(selected + L"\\plain.txt", Pattern(800, 30));
    const TreeSnapshot outside = Outside(SnapshotTree(top), L"\\selected\\");
    ASSERT_EQ(outside.size(), 3u);

    const ProgramRun run = Road->RunStandIn({"--confirm", *NarrowExactly(selected)}, work.Path());

    // Every look-alike has a short name here, which names it and nothing else: the whole folder
    // goes, and nothing beside it changes by a byte.
    SCOPED_TRACE(run.Output);
    ExpectCompleteRun(run, "OK");
    EXPECT_EQ(std::string::npos, run.Output.find("message box:"));
    EXPECT_FALSE(ExistsWide(selected));
    EXPECT_EQ(SnapshotTree(top), outside);
}

TEST_F(ShellRoadTest, MixedSelectionRemovesOnlyWhatWasSelected)
{
    const MixedSelection selection(work);
    TreeSnapshot untouched = SnapshotTree(Widen(work.Path()));
    for (const wchar_t* selected : {L"\\a.txt", L"\\b.bin", L"\\docs\\", L"\\docs\\x.txt",
                                    L"\\docs\\deep\\", L"\\docs\\deep\\y.txt"})
        untouched.erase(selected);
    const ProgramRun run = Road->RunStandIn(selection.Arguments("--confirm"), work.Path());

    SCOPED_TRACE(run.Output);
    ExpectCompleteRun(run, "OK");
    EXPECT_EQ(std::string::npos, run.Output.find("message box:"));
    EXPECT_EQ(untouched, SnapshotTree(Widen(work.Path())));
}

TEST_F(ShellRoadTest, CancelledRunTouchesNothing)
{
    const MixedSelection selection(work);
    const TreeSnapshot before = SnapshotTree(Widen(work.Path()));
    const ProgramRun run = Road->RunStandIn(selection.Arguments("--cancel"), work.Path());

    SCOPED_TRACE(run.Output);
    ExpectCompleteRun(run, "Cancel");
    EXPECT_EQ(std::string::npos, run.Output.find("message box:"));
    EXPECT_EQ(before, SnapshotTree(Widen(work.Path())));
    EXPECT_TRUE(StoredSettingValues().empty());
}

// A file put in the prefix's Recycle Bin for one test, and its entry removed afterwards.
class BinEntry
{
public:
    BinEntry(const std::string& trash, const std::string& name)
        : file(trash + "\\files\\" + name), info(trash + "\\info\\" + name + ".trashinfo")
    {}
    ~BinEntry()
    {
        ::DeleteFileA(file.c_str());
        ::DeleteFileA(info.c_str());
    }
    BinEntry(const BinEntry&) = delete;
    BinEntry& operator=(const BinEntry&) = delete;

    const std::string& File() const { return file; }

private:
    std::string file;
    std::string info;
};

TEST_F(ShellRoadTest, RecycleBinRoadReportsUnreachableItemsAndTouchesNothingElse)
{
    const std::string name = "orlenwick-binned-" + std::to_string(::GetCurrentProcessId()) + ".txt";
    MakeFolder(work / "current");
    const auto sameNamed = Pattern(2000, 12);
    WriteBytes(work / "current\\" + name, sameNamed);

    // The bin the stand-in walks must be the build's own, never a person's.
    const std::optional<std::string> dataHome = ProjectDataHome();
    if (!dataHome)
        GTEST_SKIP() << "XDG_DATA_HOME is not the build's own: the bin would be a person's";
    std::unique_ptr<BinEntry> entry;
    const auto binned = Pattern(1800, 13);
    size_t binItems = 0;
    {
        const std::string trash = FromUnixPath(*dataHome + "/Trash");
        entry = std::make_unique<BinEntry>(trash, name);
        const std::string original = work / name;
        WriteBytes(original, binned);
        std::string from = original + '\0';
        SHFILEOPSTRUCTA operation = {};
        operation.wFunc = FO_DELETE;
        operation.pFrom = from.c_str();
        operation.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
        ASSERT_EQ(0, ::SHFileOperationA(&operation));
        ASSERT_FALSE(Exists(original));
        ASSERT_EQ(binned, ReadBytes(entry->File()));
        for (const std::string& info : ListFolder(trash + "\\info"))
            binItems += info.size() > 10 && info.rfind(".trashinfo") == info.size() - 10;
        ASSERT_GE(binItems, 1u);
    }

    const ProgramRun run = Road->RunStandIn({"--confirm", "--bin"}, work / "current");

    SCOPED_TRACE(run.Output);
    ExpectCompleteRun(run, "OK");
    EXPECT_EQ(std::string::npos, run.Output.find("Can't empty Recycle Bin"));
    // Every failure listed is an item that could not be named safely, one per item, under the
    // name the bin gave it.
    const size_t reported = Occurrences(run.Output, "Invalid Arguments");
    EXPECT_EQ(Occurrences(run.Output, "Unknown:"), 0u);
    if (entry) {
        EXPECT_EQ(binItems, reported);
        EXPECT_EQ(Occurrences(run.Output, name + ": "), 1u);
        EXPECT_EQ(binned, ReadBytes(entry->File()));
    }
    EXPECT_EQ(Names{name}, ListFolder(work / "current"));
    EXPECT_EQ(sameNamed, ReadBytes(work / "current\\" + name));
}

TEST_F(ShellRoadTest, ServerStaysLoadedUntilTheLastWorkerHasEnded)
{
    ASSERT_EQ(S_OK, ::OleInitialize(nullptr));
    // Several files large enough that the workers are still at work when the command returns.
    Names paths;
    for (int i = 0; i < 4; ++i) {
        paths.push_back(work / ("large" + std::to_string(i) + ".bin"));
        WriteBytes(paths.back(), Pattern(48 * 1024, 20 + i));
    }
    WriteText(work / "kept.txt", "kept");

    UniqueModule server(::LoadLibraryA(Road->Dll().c_str()));
    ASSERT_TRUE(server);
    auto canUnloadNow = reinterpret_cast<HRESULT(WINAPI*)()>(
        reinterpret_cast<void*>(::GetProcAddress(server.Get(), "DllCanUnloadNow")));
    auto getClassObject = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(::GetProcAddress(server.Get(), "DllGetClassObject")));
    ASSERT_TRUE(canUnloadNow && getClassObject);
    EXPECT_EQ(S_OK, canUnloadNow());

    UniqueCom<IClassFactory> factory;
    UniqueCom<IShellExtInit> init;
    UniqueCom<IContextMenu> menu;
    UniqueCom<IDataObject> selection = ShellSelection(paths);
    ASSERT_TRUE(selection);
    ASSERT_EQ(S_OK, getClassObject(CLSID_QuorvaneShlExt, __uuidof(IClassFactory),
                                   reinterpret_cast<void**>(factory.Receive())));
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, __uuidof(IShellExtInit),
                                            reinterpret_cast<void**>(init.Receive())));
    factory.Reset();
    ASSERT_EQ(S_OK, init->Initialize(nullptr, selection.Get(), nullptr));
    selection.Reset();
    ASSERT_EQ(S_OK, init->QueryInterface(__uuidof(IContextMenu),
                                         reinterpret_cast<void**>(menu.Receive())));
    init.Reset();

    HWND progress = nullptr;
    {
        // The confirm dialog's OK pressed, and message boxes of the server answered and counted.
        const DialogAnswerer presser(ShredConfirmCaption, IDOK, nullptr, true);
        CMINVOKECOMMANDINFO invoke = {};
        invoke.cbSize = sizeof invoke;
        invoke.lpVerb = MAKEINTRESOURCEA(0);
        EXPECT_EQ(S_OK, menu->InvokeCommand(&invoke));
        ASSERT_EQ(presser.Answered(), 1);
        menu.Reset();
        // The object is gone; what is left runs on its own.
        progress = ::FindWindowA(nullptr, ShredProgressCaption);
        ASSERT_NE(nullptr, progress);
        EXPECT_EQ(S_FALSE, canUnloadNow());

        const Deadline deadline(120000);
        int whileAlive = 0;
        int unloadableWhileAlive = 0;
        WaitUntil(
            [&] {
                if (!::IsWindow(progress))
                    return true;
                ++whileAlive;
                unloadableWhileAlive += canUnloadNow() == S_OK;
                return false;
            },
            deadline, 2, WhileWaiting::ServeMessages);
        ASSERT_FALSE(::IsWindow(progress));
        EXPECT_GT(whileAlive, 1);
        EXPECT_EQ(0, unloadableWhileAlive);
        // The workers end just after their last notification.
        WaitUntil([&] { return canUnloadNow() == S_OK; }, deadline, 2, WhileWaiting::ServeMessages);
        EXPECT_EQ(S_OK, canUnloadNow());
        EXPECT_EQ(0, presser.Boxes());
    }

    EXPECT_EQ(Names{"kept.txt"}, ListFolder(work.Path()));
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(server.Get(), path, MAX_PATH);
    server.Reset();
    // With the last worker's own reference returned, this program's was the last one.
    HMODULE stillLoaded = nullptr;
    WaitUntil(
        [&] {
            return !::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, path,
                                         &stillLoaded);
        },
        5000, 25);
    EXPECT_FALSE(
        ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, path, &stillLoaded));
    ::OleUninitialize();
}

} // namespace
