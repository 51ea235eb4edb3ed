// The context-menu object as the shell drives it: the selection it collects from a data object
// (the shell's own for real files, one of the test's own for the Recycle Bin and for names the
// shell would not make), the entry it adds, its help text, and the command that runs the
// confirm dialog.
#include "common/ComObject.h"
#include "Captions.h"
#include "DialogDriver.h"
#include "MenuHandlerTest.h"
#include "RegistryKeys.h"
#include "StoredSettingValues.h"
#include "common/ShellIdList.h"
#include "TestOwners.h"
#include "TestFiles.h"
#include "afx/AfxApp.h"
#include "afx/AfxDialog.h"
#include "common/TextConversion.h"
#include "shellext/QuorvaneShlExt.h"
#include "core/ShredSettings.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <cwchar>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace {

// A data object of the test's own: without a file list, with a shell ID list and no file list
// (as the Recycle Bin's), or with a wide CF_HDROP list it builds itself. It records the formats
// asked for. It lives on the stack, and so does the owner of the media it hands out, which
// counts their releases.
class OwnDataObject : public StackComObject<IDataObject>
{
public:
    enum Kind
    {
        NoFileList,
        IdListOnly,
        FileList,
        UnlockableFileList
    };

    explicit OwnDataObject(Kind kind, std::vector<std::wstring> names = {})
        : kind(kind), names(std::move(names))
    {}
    // Only a shell ID list, this block (which the object frees).
    explicit OwnDataObject(HGLOBAL idList) : kind(IdListOnly), idList(idList)
    {
        blocks.push_back(idList);
    }
    ~OwnDataObject()
    {
        for (HGLOBAL block : blocks)
            ::GlobalFree(block);
    }
    OwnDataObject(const OwnDataObject&) = delete;
    OwnDataObject& operator=(const OwnDataObject&) = delete;

    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override
    {
        Asked.push_back(*format);
        if (QueryGetData(format) != S_OK || !(format->tymed & TYMED_HGLOBAL))
            return DV_E_FORMATETC;
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = kind == IdListOnly           ? idList
                          : kind == UnlockableFileList ? nullptr
                                                       : DropBlock();
        // The block stays ours: a release goes to the owner, not to GlobalFree.
        medium->pUnkForRelease = Owner.HandOut();
        return S_OK;
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC* format) override
    {
        if (kind == IdListOnly)
            return format->cfFormat == IdListFormat() ? S_OK : DV_E_FORMATETC;
        return kind != NoFileList && format->cfFormat == CF_HDROP ? S_OK : DV_E_FORMATETC;
    }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override
    {
        out->ptd = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override
    {
        return OLE_E_ADVISENOTSUPPORTED;
    }
    STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

    std::vector<FORMATETC> Asked;
    StackComObject<IUnknown> Owner;

    static CLIPFORMAT IdListFormat()
    {
        return static_cast<CLIPFORMAT>(::RegisterClipboardFormat(CFSTR_SHELLIDLIST));
    }

private:
    HGLOBAL DropBlock()
    {
        // Each name ends with a null, the list with one more; an empty list is two nulls.
        size_t characters = names.empty() ? 2 : 1;
        for (const std::wstring& name : names)
            characters += name.size() + 1;
        HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT,
                                      sizeof(DROPFILES) + characters * sizeof(wchar_t));
        auto* drop = static_cast<DROPFILES*>(::GlobalLock(block));
        drop->pFiles = sizeof(DROPFILES);
        drop->fWide = TRUE;
        auto* next = reinterpret_cast<wchar_t*>(drop + 1);
        for (const std::wstring& name : names) {
            std::memcpy(next, name.c_str(), name.size() * sizeof(wchar_t));
            next += name.size() + 1;
        }
        ::GlobalUnlock(block);
        blocks.push_back(block);
        return block;
    }

    Kind kind;
    std::vector<std::wstring> names;
    HGLOBAL idList = nullptr;
    std::vector<HGLOBAL> blocks;
};

// The ID list of a special folder, such as the Recycle Bin (CSIDL_BITBUCKET).
UniqueItemIdList SpecialFolder(int folder)
{
    UniqueItemIdList location;
    EXPECT_EQ(::SHGetSpecialFolderLocation(nullptr, folder, location.Receive()), S_OK);
    return location;
}

// The data object the shell hands the Recycle Bin's own context menu: the desktop and the
// Recycle Bin in it, and no file list; or, given other items, the same for them.
HGLOBAL DesktopIdList(const std::vector<int>& folders)
{
    std::vector<UniqueItemIdList> owned;
    std::vector<PCUIDLIST_RELATIVE> items;
    for (int folder : folders) {
        owned.push_back(SpecialFolder(folder));
        items.push_back(owned.back().Get());
    }
    const ITEMIDLIST desktop = {};
    return ShellIdListBlock(&desktop, items);
}

class ContextMenuTest : public MenuHandlerTest<CQuorvaneShlExt>
{
protected:
    ContextMenuTest() : MenuHandlerTest(CLSID_QuorvaneShlExt, IID_IQuorvaneShlExt) {}

    // With a data object of the test's own, which goes afterwards.
    HRESULT InitializeOwn(HGLOBAL idList)
    {
        OwnDataObject data(idList);
        return Initialize(&data);
    }
    HRESULT InitializeOwn(OwnDataObject::Kind kind, std::vector<std::wstring> names = {})
    {
        OwnDataObject data(kind, std::move(names));
        return Initialize(&data);
    }

    HRESULT Invoke(const char* verb)
    {
        CMINVOKECOMMANDINFO info = Command(verb);
        return Menu->InvokeCommand(&info);
    }

    std::vector<std::string> MakeFiles(const std::vector<std::string>& names)
    {
        std::vector<std::string> paths;
        for (const std::string& name : names) {
            paths.push_back(Folder / name);
            WriteText(paths.back(), "contents of " + name);
        }
        return paths;
    }

    const ClearedSettingsKey settingsKey;
    TempFolder Folder;
};

TEST_F(ContextMenuTest, AMenuForTheDefaultCommandOnlyGetsNothing)
{
    UniqueMenu menu(::CreatePopupMenu());
    ::AppendMenuA(menu.Get(), MF_STRING, 10, "Open");
    for (UINT flags : {CMF_DEFAULTONLY, CMF_DEFAULTONLY | CMF_EXPLORE}) {
        EXPECT_EQ(Menu->QueryContextMenu(menu.Get(), 0, 100, 200, flags), S_OK);
        EXPECT_EQ(::GetMenuItemCount(menu.Get()), 1);
    }
}

TEST_F(ContextMenuTest, TheEntryGoesWhereTheShellAsksWithTheFirstIdentifier)
{
    UniqueMenu menu(::CreatePopupMenu());
    ::AppendMenuA(menu.Get(), MF_STRING, 10, "Open");
    ::AppendMenuA(menu.Get(), MF_STRING, 11, "Delete");
    EXPECT_EQ(Menu->QueryContextMenu(menu.Get(), 1, 0x7000, 0x7FFF, CMF_NORMAL),
              MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1));
    ASSERT_EQ(::GetMenuItemCount(menu.Get()), 3);
    EXPECT_EQ(::GetMenuItemID(menu.Get(), 0), 10u);
    EXPECT_EQ(::GetMenuItemID(menu.Get(), 1), 0x7000u);
    EXPECT_EQ(::GetMenuItemID(menu.Get(), 2), 11u);
    EXPECT_EQ(MenuText(menu.Get(), 1), "Shred Item(s)");
    MENUITEMINFOA item = {};
    item.cbSize = sizeof item;
    item.fMask = MIIM_FTYPE | MIIM_SUBMENU | MIIM_BITMAP;
    ASSERT_TRUE(::GetMenuItemInfoA(menu.Get(), 1, TRUE, &item));
    EXPECT_EQ(item.fType, static_cast<UINT>(MFT_STRING));
    EXPECT_EQ(item.hSubMenu, nullptr);
    EXPECT_EQ(item.hbmpItem, nullptr);

    // Other flags change nothing, and one identifier is all the entry needs.
    menu.Reset(::CreatePopupMenu());
    EXPECT_EQ(Menu->QueryContextMenu(menu.Get(), 0, 42, 42,
                                     CMF_EXPLORE | CMF_CANRENAME | CMF_EXTENDEDVERBS),
              MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1));
    ASSERT_EQ(::GetMenuItemCount(menu.Get()), 1);
    EXPECT_EQ(::GetMenuItemID(menu.Get(), 0), 42u);
    EXPECT_EQ(MenuText(menu.Get(), 0), "Shred Item(s)");
}

TEST_F(ContextMenuTest, SelectedFilesArriveInTheShellsOrder)
{
    const std::vector<std::string> paths = MakeFiles({"c.txt", "a.txt", "b.txt"});
    ASSERT_EQ(Initialize(paths), S_OK);
    EXPECT_EQ(Object->Items, paths);
    EXPECT_FALSE(Object->IsRecycleBin);
}

TEST_F(ContextMenuTest, EachInitializeReplacesTheSelectionBeforeIt)
{
    const std::vector<std::string> paths = MakeFiles({"one.txt", "two.txt", "three.txt"});
    ASSERT_EQ(Initialize(paths), S_OK);
    ASSERT_EQ(Initialize({paths[2]}), S_OK);
    EXPECT_EQ(Object->Items, std::vector<std::string>{paths[2]});

    ASSERT_EQ(InitializeOwn(DesktopIdList({CSIDL_BITBUCKET})), S_OK);
    EXPECT_TRUE(Object->Items.empty());
    EXPECT_TRUE(Object->IsRecycleBin);

    ASSERT_EQ(Initialize({paths[0], paths[1]}), S_OK);
    EXPECT_EQ(Object->Items, (std::vector<std::string>{paths[0], paths[1]}));
    EXPECT_FALSE(Object->IsRecycleBin);
}

TEST_F(ContextMenuTest, ADrivesOwnMenuHasNoEntryAndADriveAmongFilesIsLeftToTheJob)
{
    // The drive the tests run on: Initialize only collects, nothing is shredded.
    EXPECT_EQ(InitializeOwn(OwnDataObject::FileList, {L"T:\\"}), E_INVALIDARG);
    EXPECT_TRUE(Object->Items.empty());
    const std::vector<std::string> paths = MakeFiles({"beside.txt"});
    ASSERT_EQ(InitializeOwn(OwnDataObject::FileList, {L"T:\\", Widen(paths[0])}), S_OK);
    EXPECT_EQ(Object->Items, (std::vector<std::string>{"T:\\", paths[0]}));
}

TEST_F(ContextMenuTest, TheRecycleBinIsTheDataObjectWhoseIdListNamesIt)
{
    OwnDataObject bin(DesktopIdList({CSIDL_BITBUCKET}));
    EXPECT_EQ(Initialize(&bin), S_OK);
    EXPECT_TRUE(Object->IsRecycleBin);
    EXPECT_TRUE(Object->Items.empty());
    // The file list first, then the ID list; the medium handed out is given back.
    ASSERT_EQ(bin.Asked.size(), 2u);
    EXPECT_EQ(bin.Asked[0].cfFormat, CF_HDROP);
    EXPECT_EQ(bin.Asked[0].ptd, nullptr);
    EXPECT_EQ(bin.Asked[0].dwAspect, static_cast<DWORD>(DVASPECT_CONTENT));
    EXPECT_EQ(bin.Asked[0].lindex, -1);
    EXPECT_EQ(bin.Asked[0].tymed, static_cast<DWORD>(TYMED_HGLOBAL));
    EXPECT_EQ(bin.Asked[1].cfFormat, OwnDataObject::IdListFormat());
    EXPECT_EQ(bin.Owner.References(), 0u);
}

TEST_F(ContextMenuTest, NothingWithoutAFileListIsTakenForTheRecycleBinUnlessItIsNamedAlone)
{
    // A phone's pictures or a ZIP folder's files dragged onto a folder: no file list, a target.
    const UniqueItemIdList target = SpecialFolder(CSIDL_PERSONAL);
    OwnDataObject virtualItems(OwnDataObject::NoFileList);
    EXPECT_EQ(Init->Initialize(target.Get(), &virtualItems, nullptr), E_INVALIDARG);
    EXPECT_FALSE(Object->IsRecycleBin);
    // The same without a target, and without any ID list.
    EXPECT_EQ(InitializeOwn(OwnDataObject::NoFileList), E_INVALIDARG);
    EXPECT_FALSE(Object->IsRecycleBin);
    // The Recycle Bin itself dragged onto a folder is a drop, not its own menu.
    OwnDataObject droppedBin(DesktopIdList({CSIDL_BITBUCKET}));
    EXPECT_EQ(Init->Initialize(target.Get(), &droppedBin, nullptr), E_INVALIDARG);
    // Other items without files, and the Recycle Bin among others.
    EXPECT_EQ(InitializeOwn(DesktopIdList({CSIDL_DRIVES})), E_INVALIDARG);
    EXPECT_EQ(InitializeOwn(DesktopIdList({CSIDL_BITBUCKET, CSIDL_DRIVES})), E_INVALIDARG);
    EXPECT_FALSE(Object->IsRecycleBin);
    EXPECT_TRUE(Object->Items.empty());
    // Without a selection the command shows nothing.
    DialogAnswerer user(ShredConfirmCaption, IDCANCEL, ShredProgressCaption);
    EXPECT_EQ(Invoke(MAKEINTRESOURCEA(0)), E_INVALIDARG);
    EXPECT_EQ(user.Answered(), 0);
}

TEST_F(ContextMenuTest, AnIdListThatRunsPastItsBlockIsNoRecycleBin)
{
    const HGLOBAL good = DesktopIdList({CSIDL_BITBUCKET});
    const SIZE_T size = ::GlobalSize(good);
    auto copyWith = [&](auto change) {
        HGLOBAL copy = ::GlobalAlloc(GMEM_MOVEABLE, size);
        auto* bytes = static_cast<BYTE*>(::GlobalLock(copy));
        std::memcpy(bytes, ::GlobalLock(good), size);
        ::GlobalUnlock(good);
        change(bytes);
        ::GlobalUnlock(copy);
        return copy;
    };
    OwnDataObject sound(good);
    ASSERT_EQ(Initialize(&sound), S_OK);
    // The item's offset past the end of the block; its size running past the end.
    EXPECT_EQ(InitializeOwn(copyWith([&](BYTE* bytes) {
                  const auto past = static_cast<UINT>(size);
                  std::memcpy(bytes + 2 * sizeof(UINT), &past, sizeof past);
              })),
              E_INVALIDARG);
    EXPECT_EQ(InitializeOwn(copyWith([&](BYTE* bytes) {
                  UINT itemOffset = 0;
                  std::memcpy(&itemOffset, bytes + 2 * sizeof(UINT), sizeof itemOffset);
                  const USHORT tooLong = 0xFFF0;
                  std::memcpy(bytes + itemOffset, &tooLong, sizeof tooLong);
              })),
              E_INVALIDARG);
    EXPECT_FALSE(Object->IsRecycleBin);
}

TEST_F(ContextMenuTest, AFileListWithoutAReadableNameKeepsTheEntryOff)
{
    OwnDataObject empty(OwnDataObject::FileList);
    EXPECT_EQ(Initialize(&empty), E_INVALIDARG);
    EXPECT_TRUE(Object->Items.empty());
    EXPECT_FALSE(Object->IsRecycleBin);
    EXPECT_EQ(empty.Owner.Releases(), 1u);

    OwnDataObject unlockable(OwnDataObject::UnlockableFileList, {L"C:\\a.txt"});
    EXPECT_EQ(Initialize(&unlockable), E_INVALIDARG);
    EXPECT_TRUE(Object->Items.empty());
    EXPECT_FALSE(Object->IsRecycleBin);
    EXPECT_EQ(unlockable.Owner.Releases(), 1u);
}

TEST_F(ContextMenuTest, NamesArriveWholeAndWithoutLookAlikeSubstitutes)
{
    ASSERT_EQ(::GetACP(), 1252u) << "the expected narrow names are those of code page 1252";
    const std::wstring longest = L"C:\\long\\" + std::wstring(292, L'n');
    const std::wstring atLimit = L"C:\\" + std::wstring(257, L'm');
    OwnDataObject data(OwnDataObject::FileList,
                       {longest, atLimit, L"C:\\t\\\u0100bc.txt", L"C:\\t\\caf\u00e9 \u20ac.txt",
                        L"C:\\t\\\u65e5\u672c.txt"});
    ASSERT_EQ(Initialize(&data), S_OK);
    ASSERT_EQ(Object->Items.size(), 5u);
    EXPECT_EQ(Object->Items[0].size(), 300u);
    EXPECT_EQ(Object->Items[0], "C:\\long\\" + std::string(292, 'n'));
    EXPECT_EQ(Object->Items[1], "C:\\" + std::string(257, 'm'));
    // "A" would name another file; "?" names none.
    EXPECT_EQ(Object->Items[2], "C:\\t\\?bc.txt");
    EXPECT_EQ(Object->Items[3], "C:\\t\\caf\xE9 \x80.txt");
    EXPECT_EQ(Object->Items[4], "C:\\t\\??.txt");
    EXPECT_EQ(data.Owner.Releases(), 1u);
}

TEST_F(ContextMenuTest, OnlyTheHelpTextOfTheOneCommandIsGiven)
{
    ExpectOnlyHelpText("Shred this item");
}

TEST_F(ContextMenuTest, TheHelpTextIsCutToTheBuffer)
{
    wchar_t wide[16];
    std::fill(std::begin(wide), std::end(wide), L'Z');
    EXPECT_EQ(Menu->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<char*>(wide), 6),
              S_OK);
    EXPECT_STREQ(wide, L"Shred");
    EXPECT_EQ(wide[6], L'Z');

    char narrow[16];
    std::memset(narrow, 'Z', sizeof narrow);
    EXPECT_EQ(Menu->GetCommandString(0, GCS_HELPTEXTA, nullptr, narrow, 15), S_OK);
    EXPECT_STREQ(narrow, "Shred this ite");
    EXPECT_EQ(narrow[15], 'Z');
    EXPECT_EQ(Menu->GetCommandString(0, GCS_HELPTEXTA, nullptr, narrow, 16), S_OK);
    EXPECT_STREQ(narrow, "Shred this item");
}

TEST_F(ContextMenuTest, VerbsAndOtherOffsetsShowNothing)
{
    const std::vector<std::string> paths = MakeFiles({"keep.txt"});
    ASSERT_EQ(Initialize(paths), S_OK);
    DialogAnswerer user(ShredConfirmCaption, IDCANCEL, ShredProgressCaption);
    EXPECT_EQ(Invoke("open"), E_INVALIDARG);
    EXPECT_EQ(Invoke(MAKEINTRESOURCEA(1)), E_INVALIDARG);
    EXPECT_EQ(Invoke(MAKEINTRESOURCEA(0xFFFF)), E_INVALIDARG);
    EXPECT_EQ(user.Answered(), 0);
    EXPECT_TRUE(Exists(paths[0]));
}

TEST_F(ContextMenuTest, TheCommandRunsTheConfirmDialogAndACancelChangesNothing)
{
    const std::vector<std::string> paths = MakeFiles({"x.txt", "y.txt", "z.txt"});
    ASSERT_EQ(Initialize(paths), S_OK);
    const std::vector<std::string> before = ListFolder(Folder.Path());
    // The dialog must come from this module's resources whatever the caller made current,
    // and the caller's choice must be back afterwards.
    const HINSTANCE foreign = ::GetModuleHandleA("kernel32.dll");
    AfxSetResourceHandle(foreign);
    {
        DialogAnswerer user(ShredConfirmCaption, IDCANCEL, ShredProgressCaption);
        EXPECT_EQ(Invoke(MAKEINTRESOURCEA(0)), S_OK);
        EXPECT_EQ(user.Answered(), 1);
        EXPECT_FALSE(user.WatchedSeen());
    }
    EXPECT_EQ(AfxGetResourceHandle(), foreign);
    AfxSetResourceHandle(nullptr);

    EXPECT_EQ(ListFolder(Folder.Path()), before);
    for (const char* name : {"x.txt", "y.txt", "z.txt"}) {
        const std::vector<unsigned char> bytes = ReadBytes(Folder / name);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), std::string("contents of ") + name);
    }
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, ShredSettingsKey));
    EXPECT_EQ(AfxDllCanUnloadNow(), S_OK);
    EXPECT_EQ(Object->Items, paths);
}

TEST_F(ContextMenuTest, TheRecycleBinsCommandRunsTheConfirmDialogToo)
{
    ASSERT_EQ(InitializeOwn(DesktopIdList({CSIDL_BITBUCKET})), S_OK);
    DialogAnswerer user(ShredConfirmCaption, IDCANCEL, ShredProgressCaption);
    EXPECT_EQ(Invoke(MAKEINTRESOURCEA(0)), S_OK);
    EXPECT_EQ(user.Answered(), 1);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, ShredSettingsKey));
}

TEST_F(ContextMenuTest, AStringVerbIsNeverTakenForAnOffsetWhereverItLies)
{
    const std::vector<std::string> paths = MakeFiles({"keep.txt"});
    ASSERT_EQ(Initialize(paths), S_OK);
    // A verb whose address has its low 32 bits all zero looks like offset 0 to a check of the
    // low two words only.
    UniqueVirtualMemory page;
    for (uintptr_t gigabytes = 4; !page && gigabytes < 1024; gigabytes += 4)
        page.Reset(::VirtualAlloc(reinterpret_cast<void*>(gigabytes << 30), 4096,
                                  MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_TRUE(page);
    char* verb = static_cast<char*>(page.Get());
    ASSERT_EQ(reinterpret_cast<uintptr_t>(verb) & 0xFFFFFFFF, 0u);
    std::strcpy(verb, "open");

    DialogAnswerer user(ShredConfirmCaption, IDCANCEL, ShredProgressCaption);
    EXPECT_EQ(Invoke(verb), E_INVALIDARG);
    EXPECT_EQ(Invoke(verb + 1), E_INVALIDARG);
    EXPECT_EQ(user.Answered(), 0);
    EXPECT_TRUE(Exists(paths[0]));
}

TEST_F(ContextMenuTest, WithoutASelectionThereIsNoCommand)
{
    DialogAnswerer user(ShredConfirmCaption, IDCANCEL, ShredProgressCaption);
    // Never initialised.
    EXPECT_EQ(Invoke(MAKEINTRESOURCEA(0)), E_INVALIDARG);
    // No data object at all is no Recycle Bin.
    EXPECT_EQ(Initialize(nullptr), E_INVALIDARG);
    EXPECT_FALSE(Object->IsRecycleBin);
    EXPECT_EQ(Invoke(MAKEINTRESOURCEA(0)), E_INVALIDARG);
    // A selection that came to nothing.
    EXPECT_EQ(InitializeOwn(OwnDataObject::FileList), E_INVALIDARG);
    EXPECT_EQ(Invoke(MAKEINTRESOURCEA(0)), E_INVALIDARG);
    EXPECT_EQ(user.Answered(), 0);
    EXPECT_FALSE(user.WatchedSeen());
    EXPECT_EQ(AfxDllCanUnloadNow(), S_OK);
}

// Names a selection can hold, the users' own and the look-alikes beside them.
class SelectionNameTest : public ::testing::Test
{
protected:
    SelectionNameTest() : top(Widen(folder.Path()))
    {
        for (const std::wstring& name : {Cyrillic, Kanji, Emoji, Macron, LongCyrillic})
            WriteWide(top + L"\\" + name, {1, 2, 3});
    }

    std::wstring Full(const std::wstring& name) const { return top + L"\\" + name; }

    // The short path the volume gives, as the narrow calls take it.
    std::string ShortPath(const std::wstring& name) const
    {
        const std::wstring shortPath = VolumeShortPath(Full(name));
        EXPECT_FALSE(shortPath.empty()) << "no short path for " << NarrowWithSubstitutes(name);
        const std::optional<std::string> narrow = NarrowExactly(shortPath);
        EXPECT_TRUE(narrow) << "a short path outside the code page";
        return narrow.value_or(std::string());
    }

    std::string Chosen(const std::wstring& name, UINT codePage) const
    {
        return SelectionName(Full(name), codePage, &::GetShortPathNameW);
    }

    const std::wstring Cyrillic = L"\x041E\x0442\x0447\x0451\x0442.txt"; // Отчёт.txt
    const std::wstring Kanji = L"\x65E5\x672C\x8A9E.doc";                // 日本語.doc
    const std::wstring Emoji = L"\xD83D\xDE42.txt";                      // 🙂.txt
    const std::wstring Macron = L"\x0100.txt";                           // Ā.txt
    // Short of MAX_PATH in characters, past it in bytes wherever a letter takes two.
    const std::wstring LongCyrillic = std::wstring(120, L'\x0436') + L".txt";
    TempFolder folder;
    const std::wstring top;
};

TEST_F(SelectionNameTest, OnTheWesternCodePageOtherScriptsArriveByTheirShortPaths)
{
    for (const std::wstring& name : {Cyrillic, Kanji, Emoji, Macron, LongCyrillic}) {
        const std::string chosen = Chosen(name, 1252);
        EXPECT_EQ(chosen, ShortPath(name));
        EXPECT_EQ(chosen.find('?'), std::string::npos);
    }
    EXPECT_EQ(Chosen(L"caf\x00E9.txt", 1252), NarrowExactly(Full(L"caf\x00E9.txt"), 1252));
}

TEST_F(SelectionNameTest, OnTheJapaneseCodePageItsOwnScriptsArriveByTheirNames)
{
    EXPECT_EQ(Chosen(Kanji, 932), *NarrowExactly(Full(Kanji), 932));
    EXPECT_EQ(Chosen(Cyrillic, 932), *NarrowExactly(Full(Cyrillic), 932));
    EXPECT_EQ(Chosen(Emoji, 932), ShortPath(Emoji));
    EXPECT_EQ(Chosen(Macron, 932), ShortPath(Macron));
    EXPECT_EQ(Chosen(LongCyrillic, 932), ShortPath(LongCyrillic));
}

TEST_F(SelectionNameTest, OnUtf8EveryNameArrivesByItselfWhileItFitsTheBuffers)
{
    for (const std::wstring& name : {Cyrillic, Kanji, Emoji, Macron})
        EXPECT_EQ(Chosen(name, CP_UTF8), *NarrowExactly(Full(name), CP_UTF8));
    ASSERT_GE(NarrowExactly(Full(LongCyrillic), CP_UTF8)->size(), size_t{MAX_PATH});
    EXPECT_EQ(Chosen(LongCyrillic, CP_UTF8), ShortPath(LongCyrillic));
}

TEST_F(SelectionNameTest, WithoutAShortNameANameArrivesOnlyAsOneTheWorkerRefuses)
{
    // A volume without short names answers with the long path itself.
    auto noShortNames = [](const wchar_t* path, wchar_t* out, DWORD size) -> DWORD {
        const DWORD length = static_cast<DWORD>(std::wcslen(path));
        if (!out || size <= length)
            return length + 1;
        std::wcscpy(out, path);
        return length;
    };
    const std::string cyrillic = SelectionName(Full(Cyrillic), 1252, noShortNames);
    EXPECT_EQ(cyrillic, NarrowExactly(top, 1252).value() + "\\?????.txt");
    const std::string emoji = SelectionName(Full(Emoji), 932, noShortNames);
    EXPECT_EQ(emoji.substr(emoji.size() - 5), "?.txt");
    // Nothing of the kind exists: a lookup that fails gives the same.
    EXPECT_EQ(SelectionName(L"C:\\gone\\\x0100", 1252, &::GetShortPathNameW), "C:\\gone\\?");
}

} // namespace
