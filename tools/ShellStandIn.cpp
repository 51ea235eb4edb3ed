// Plays the shell for a selection of paths, or for the Recycle Bin: creates the registered
// context-menu handler, hands it the selection, builds its menu, asks for its help text,
// chooses "Shred Item(s)" and serves messages until the progress window is gone.
//
//   ShellStandIn [--confirm | --cancel] [--progid ProgID | --handlers-of Class... --choose Text]
//                (--bin | path...)
//
// With --confirm or --cancel it answers the confirm dialog itself (and OKs the final box,
// printing its text), so it runs unattended; without, a person answers. With --progid the
// handler's class is looked up by its ProgID, as a script or installer check would. With
// --handlers-of it builds the menu the way the shell does for an item of that class (a drive:
// "Drive"): every handler registered under the class's shellex\ContextMenuHandlers adds its
// entries, and the entry whose text is --choose is invoked. The wipe's confirmation ("Wipe Free
// Space") and window ("Wiping Free Space...") are answered and waited for like shredding's.
#include "shellext/Guids.h"
#include "common/TextConversion.h"
#include "common/Unique.h"
#include "common/ComObject.h"
#include "common/ShellIdList.h"

#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr const char* ConfirmCaptions[] = {"Confirm Shredding", "Wipe Free Space"};
constexpr const char* ProgressCaptions[] = {"Shredding items...", "Wiping Free Space..."};
constexpr char MessageCaption[] = "Orlenwick";
constexpr UINT FirstCommand = 100;

// What the Recycle Bin's own context menu hands a handler: a data object without a file list,
// whose shell ID list names the Recycle Bin on the desktop.
class RecycleBinDataObject : public ComObject<IDataObject>
{
public:
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override
    {
        if (format->cfFormat != IdListFormat() || !(format->tymed & TYMED_HGLOBAL))
            return DV_E_FORMATETC;
        UniqueItemIdList bin;
        if (FAILED(::SHGetSpecialFolderLocation(nullptr, CSIDL_BITBUCKET, bin.Receive())))
            return E_FAIL;
        const ITEMIDLIST desktop = {};
        // The receiver frees the block.
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = ShellIdListBlock(&desktop, {bin.Get()});
        medium->pUnkForRelease = nullptr;
        return medium->hGlobal ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return DV_E_FORMATETC; }
    STDMETHODIMP QueryGetData(FORMATETC* format) override
    {
        return format->cfFormat == IdListFormat() ? S_OK : DV_E_FORMATETC;
    }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override
    {
        out->ptd = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC** out) override
    {
        *out = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override
    {
        return OLE_E_ADVISENOTSUPPORTED;
    }
    STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    static CLIPFORMAT IdListFormat()
    {
        return static_cast<CLIPFORMAT>(::RegisterClipboardFormat(CFSTR_SHELLIDLIST));
    }
};

// The shell's own data object over the items, as Explorer hands it for a selection: the
// items' folder and their names in it. A selection lies in one folder.
HRESULT CreateSelection(const std::vector<std::wstring>& paths, IDataObject** dataObject)
{
    std::vector<UniqueItemIdList> items;
    HRESULT hr = S_OK;
    for (const std::wstring& path : paths) {
        UniqueItemIdList item;
        hr = ::SHParseDisplayName(path.c_str(), nullptr, item.Receive(), 0, nullptr);
        if (FAILED(hr)) {
            item.Release();
            std::printf("cannot name %ls (0x%08lX)\n", path.c_str(), hr);
            break;
        }
        items.push_back(std::move(item));
    }
    const UniqueItemIdList folder(SUCCEEDED(hr) ? ::ILClone(items.front().Get()) : nullptr);
    if (folder) {
        ::ILRemoveLastID(folder.Get());
        std::vector<PCUIDLIST_RELATIVE> names;
        for (const UniqueItemIdList& item : items)
            names.push_back(::ILFindLastID(item.Get()));
        hr = ::CIDLData_CreateFromIDArray(folder.Get(), static_cast<UINT>(names.size()),
                                          names.data(), dataObject);
    }
    return hr;
}

std::string StaticText(HWND box)
{
    std::string text;
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        char className[32] = {};
        ::GetClassNameA(child, className, sizeof className);
        if (lstrcmpiA(className, "Static") != 0)
            continue;
        char part[4096] = {};
        ::GetWindowTextA(child, part, sizeof part);
        text += part;
    }
    return text;
}

// Answers the confirm dialog once, then OKs every message box of ours, printing its text.
void Answer(bool confirm, const std::atomic<bool>& stop)
{
    bool answered = false;
    while (!stop) {
        HWND dialog = nullptr;
        for (const char* caption : ConfirmCaptions)
            dialog = dialog ? dialog : ::FindWindowA(nullptr, caption);
        if (!answered && dialog && ::IsWindowVisible(dialog)) {
            std::printf("confirm dialog: pressing %s\n", confirm ? "OK" : "Cancel");
            std::fflush(stdout);
            const int id = confirm ? IDOK : IDCANCEL;
            ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                           reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
            answered = true;
        }
        HWND box = ::FindWindowA("#32770", MessageCaption);
        if (box && ::IsWindowVisible(box)) {
            std::printf("message box: \"%s\"\n", StaticText(box).c_str());
            std::fflush(stdout);
            ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            ::Sleep(200);
        }
        ::Sleep(20);
    }
}

void ServeUntilProgressWindowGone(DWORD timeoutMs)
{
    const DWORD start = ::GetTickCount();
    MSG message;
    const char* shown = nullptr;
    for (;;) {
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageA(&message);
        }
        const auto open =
            std::find_if(std::begin(ProgressCaptions), std::end(ProgressCaptions),
                         [](const char* caption) { return ::FindWindowA(nullptr, caption); });
        if (open != std::end(ProgressCaptions) && !shown) {
            shown = *open;
            std::printf("progress window \"%s\" open\n", shown);
            std::fflush(stdout);
        }
        if (open == std::end(ProgressCaptions)) {
            if (shown)
                std::printf("progress window \"%s\" closed\n", shown);
            return;
        }
        if (::GetTickCount() - start > timeoutMs) {
            std::printf("the progress window did not close in time\n");
            return;
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
}

// The handlers registered for the context menu of items of `itemClass`, as the shell reads them:
// each subkey's default value names the class, or the subkey's name is the class itself.
std::vector<CLSID> RegisteredHandlers(const std::wstring& itemClass)
{
    std::vector<CLSID> handlers;
    HKEY key = nullptr;
    const std::wstring path = itemClass + L"\\shellex\\ContextMenuHandlers";
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return handlers;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (::RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        wchar_t value[64] = {};
        LONG size = sizeof value;
        CLSID handler{};
        if ((::RegQueryValueW(key, name, value, &size) == ERROR_SUCCESS &&
             SUCCEEDED(::CLSIDFromString(value, &handler))) ||
            SUCCEEDED(::CLSIDFromString(name, &handler)))
            handlers.push_back(handler);
    }
    ::RegCloseKey(key);
    return handlers;
}

// One handler of the menu and the command identifiers its entries took.
struct MenuHandler
{
    UniqueCom<IContextMenu> Menu;
    UINT First = 0;
    UINT Count = 0;
};

// Every handler of the classes adds its entries to `popup`, one after the other, as the shell
// merges them; the handlers that took the selection.
std::vector<MenuHandler> BuildMenu(const std::vector<std::wstring>& itemClasses,
                                   IDataObject* selection, HMENU popup)
{
    std::vector<MenuHandler> handlers;
    UINT next = FirstCommand;
    for (const std::wstring& itemClass : itemClasses) {
        for (const CLSID& handlerClass : RegisteredHandlers(itemClass)) {
            wchar_t text[40] = {};
            ::StringFromGUID2(handlerClass, text, 40);
            UniqueCom<IShellExtInit> init;
            HRESULT hr =
                ::CoCreateInstance(handlerClass, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                                   reinterpret_cast<void**>(init.Receive()));
            std::printf("%ls handler %ls: CoCreateInstance: 0x%08lX\n", itemClass.c_str(), text,
                        hr);
            if (SUCCEEDED(hr)) {
                hr = init->Initialize(nullptr, selection, nullptr);
                std::printf("%ls handler %ls: Initialize: 0x%08lX\n", itemClass.c_str(), text, hr);
            }
            MenuHandler handler;
            if (SUCCEEDED(hr))
                hr = init->QueryInterface(IID_IContextMenu,
                                          reinterpret_cast<void**>(handler.Menu.Receive()));
            if (FAILED(hr))
                continue;
            hr = handler.Menu->QueryContextMenu(popup, ::GetMenuItemCount(popup), next, 0x7FFF,
                                                CMF_NORMAL);
            handler.First = next;
            handler.Count = SUCCEEDED(hr) ? HRESULT_CODE(hr) : 0;
            next += handler.Count;
            handlers.push_back(std::move(handler));
        }
    }
    for (UINT id = FirstCommand; id < next; ++id) {
        char item[64] = {};
        ::GetMenuStringA(popup, id, item, sizeof item, MF_BYCOMMAND);
        std::printf("menu: item %u \"%s\"\n", id, item);
    }
    return handlers;
}

// Prints the entry's help text, invokes it (with the dialogs answered when asked) and serves
// messages until every progress window is gone; the result of InvokeCommand.
HRESULT InvokeEntry(IContextMenu* menu, UINT offset, bool answer, bool confirm)
{
    wchar_t help[64] = {};
    menu->GetCommandString(offset, GCS_HELPTEXTW, nullptr, reinterpret_cast<char*>(help), 64);
    std::printf("help text: \"%ls\"\n", help);
    std::atomic<bool> stop{false};
    std::thread answerer;
    if (answer)
        answerer = std::thread([&] { Answer(confirm, stop); });
    CMINVOKECOMMANDINFO invoke = {};
    invoke.cbSize = sizeof invoke;
    invoke.lpVerb = MAKEINTRESOURCEA(offset);
    invoke.nShow = SW_SHOWNORMAL;
    const HRESULT hr = menu->InvokeCommand(&invoke);
    std::printf("InvokeCommand: 0x%08lX\n", hr);
    ServeUntilProgressWindowGone(600000);
    stop = true;
    if (answerer.joinable())
        answerer.join();
    return hr;
}

// The one handler of `handlerClass`, as the product's own tests create it.
HRESULT RunHandler(const CLSID& handlerClass, IDataObject* selection, bool answer, bool confirm)
{
    UniqueCom<IShellExtInit> init;
    HRESULT hr = ::CoCreateInstance(handlerClass, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                                    reinterpret_cast<void**>(init.Receive()));
    std::printf("CoCreateInstance: 0x%08lX\n", hr);
    if (SUCCEEDED(hr)) {
        hr = init->Initialize(nullptr, selection, nullptr);
        std::printf("Initialize: 0x%08lX\n", hr);
    }
    UniqueCom<IContextMenu> menu;
    if (SUCCEEDED(hr))
        hr = init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(menu.Receive()));
    if (FAILED(hr))
        return hr;
    const UniqueMenu popup(::CreatePopupMenu());
    hr = menu->QueryContextMenu(popup.Get(), 0, FirstCommand, 0x7FFF, CMF_NORMAL);
    char text[64] = {};
    ::GetMenuStringA(popup.Get(), FirstCommand, text, sizeof text, MF_BYCOMMAND);
    std::printf("QueryContextMenu: 0x%08lX, item %u \"%s\"\n", hr, FirstCommand, text);
    return InvokeEntry(menu.Get(), 0, answer, confirm);
}

// The menu of every handler registered for the classes; the entry of the text is invoked.
HRESULT RunMenu(const std::vector<std::wstring>& itemClasses, const std::string& choice,
                IDataObject* selection, bool answer, bool confirm)
{
    const UniqueMenu popup(::CreatePopupMenu());
    const std::vector<MenuHandler> handlers = BuildMenu(itemClasses, selection, popup.Get());
    for (const MenuHandler& handler : handlers) {
        for (UINT id = handler.First; id < handler.First + handler.Count; ++id) {
            char text[64] = {};
            ::GetMenuStringA(popup.Get(), id, text, sizeof text, MF_BYCOMMAND);
            if (choice == text) {
                std::printf("choosing item %u \"%s\"\n", id, text);
                return InvokeEntry(handler.Menu.Get(), id - handler.First, answer, confirm);
            }
        }
    }
    std::printf("no menu entry \"%s\"\n", choice.c_str());
    return E_FAIL;
}

} // namespace

// Paths arrive as the shell has them, in UTF-16: a narrow command line would already have
// lost the names outside the code page.
int wmain(int argc, wchar_t** argv)
{
    bool answer = false;
    bool confirm = true;
    bool recycleBin = false;
    const wchar_t* progId = nullptr;
    std::vector<std::wstring> itemClasses;
    std::string choice;
    std::vector<std::wstring> paths;
    for (int i = 1; i < argc; ++i) {
        const std::wstring argument = argv[i];
        if (argument == L"--confirm")
            answer = true;
        else if (argument == L"--cancel")
            answer = true, confirm = false;
        else if (argument == L"--bin")
            recycleBin = true;
        else if (argument == L"--progid" && i + 1 < argc)
            progId = argv[++i];
        else if (argument == L"--handlers-of" && i + 1 < argc)
            itemClasses.push_back(argv[++i]);
        else if (argument == L"--choose" && i + 1 < argc)
            choice = NarrowWithSubstitutes(argv[++i]);
        else
            paths.push_back(argument);
    }
    if ((!recycleBin && paths.empty()) || itemClasses.empty() != choice.empty()) {
        std::printf("usage: ShellStandIn [--confirm | --cancel] [--progid ProgID | --handlers-of "
                    "Class... --choose Text] (--bin | path...)\n");
        return 2;
    }

    std::printf("ANSI code page: %u\n", ::GetACP());
    ::OleInitialize(nullptr);
    CLSID handlerClass = CLSID_QuorvaneShlExt;
    HRESULT hr = progId ? ::CLSIDFromProgID(progId, &handlerClass) : S_OK;
    if (progId)
        std::printf("CLSIDFromProgID: 0x%08lX\n", hr);
    // Given back before the server is asked whether it may unload.
    {
        UniqueCom<IDataObject> selection;
        if (SUCCEEDED(hr)) {
            if (recycleBin)
                selection.Reset(new RecycleBinDataObject);
            else
                hr = CreateSelection(paths, selection.Receive());
        }
        if (SUCCEEDED(hr))
            hr = itemClasses.empty()
                     ? RunHandler(handlerClass, selection.Get(), answer, confirm)
                     : RunMenu(itemClasses, choice, selection.Get(), answer, confirm);
    }
    const int exitCode = SUCCEEDED(hr) ? 0 : 1;

    // The server keeps itself loaded while any worker is still ending.
    HMODULE server = ::GetModuleHandleA("Orlenwick.dll");
    auto canUnload = server ? reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(
                                  ::GetProcAddress(server, "DllCanUnloadNow")))
                            : nullptr;
    for (int i = 0; canUnload && i < 200 && canUnload() != S_OK; ++i)
        ::Sleep(25);
    if (canUnload)
        std::printf("DllCanUnloadNow: %s\n", canUnload() == S_OK ? "S_OK" : "S_FALSE");
    ::CoFreeUnusedLibraries();
    ::OleUninitialize();
    return exitCode;
}
