// Plays the shell for a selection of paths, or for the Recycle Bin: creates the registered
// context-menu handler, hands it the selection, builds its menu, asks for its help text,
// chooses "Shred Item(s)" and serves messages until the progress window is gone.
//
//   ShellStandIn [--confirm | --cancel] [--progid ProgID] (--bin | path...)
//
// With --confirm or --cancel it answers the confirm dialog itself (and OKs the final box,
// printing its text), so it runs unattended; without, a person answers. With --progid the
// handler's class is looked up by its ProgID, as a script or installer check would.
#include "shellext/Guids.h"
#include "common/Unique.h"
#include "tests/support/ComObject.h"
#include "tests/support/ShellIdList.h"
#include "tests/support/TestOwners.h"

#include <shlobj.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr char ConfirmCaption[] = "Confirm Shredding";
constexpr char ProgressCaption[] = "Shredding items...";
constexpr char MessageCaption[] = "Orlenwick";

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
        HWND dialog = ::FindWindowA(nullptr, ConfirmCaption);
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
    for (;;) {
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageA(&message);
        }
        if (!::FindWindowA(nullptr, ProgressCaption))
            return;
        if (::GetTickCount() - start > timeoutMs) {
            std::printf("the progress window did not close in time\n");
            return;
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
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
        else
            paths.push_back(argument);
    }
    if (!recycleBin && paths.empty()) {
        std::printf(
            "usage: ShellStandIn [--confirm | --cancel] [--progid ProgID] (--bin | path...)\n");
        return 2;
    }

    std::printf("ANSI code page: %u\n", ::GetACP());
    ::OleInitialize(nullptr);
    int exitCode = 1;
    CLSID handlerClass = CLSID_QuorvaneShlExt;
    HRESULT hr = progId ? ::CLSIDFromProgID(progId, &handlerClass) : S_OK;
    if (progId)
        std::printf("CLSIDFromProgID: 0x%08lX\n", hr);
    // Given back before the server is asked whether it may unload.
    {
        UniqueCom<IShellExtInit> init;
        if (SUCCEEDED(hr)) {
            hr = ::CoCreateInstance(handlerClass, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                                    reinterpret_cast<void**>(init.Receive()));
            std::printf("CoCreateInstance: 0x%08lX\n", hr);
        }
        UniqueCom<IDataObject> selection;
        if (SUCCEEDED(hr)) {
            if (recycleBin)
                selection.Reset(new RecycleBinDataObject);
            else
                hr = CreateSelection(paths, selection.Receive());
        }
        if (SUCCEEDED(hr)) {
            hr = init->Initialize(nullptr, selection.Get(), nullptr);
            std::printf("Initialize: 0x%08lX\n", hr);
        }
        UniqueCom<IContextMenu> menu;
        if (SUCCEEDED(hr))
            hr = init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(menu.Receive()));
        if (SUCCEEDED(hr)) {
            HMENU popup = ::CreatePopupMenu();
            hr = menu->QueryContextMenu(popup, 0, 100, 0x7FFF, CMF_NORMAL);
            char text[64] = {};
            ::GetMenuStringA(popup, 100, text, sizeof text, MF_BYCOMMAND);
            std::printf("QueryContextMenu: 0x%08lX, item 100 \"%s\"\n", hr, text);
            wchar_t help[64] = {};
            menu->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<char*>(help), 64);
            std::printf("help text: \"%ls\"\n", help);
            ::DestroyMenu(popup);

            std::atomic<bool> stop{false};
            std::thread answerer;
            if (answer)
                answerer = std::thread([&] { Answer(confirm, stop); });
            CMINVOKECOMMANDINFO invoke = {};
            invoke.cbSize = sizeof invoke;
            invoke.lpVerb = MAKEINTRESOURCEA(0);
            invoke.nShow = SW_SHOWNORMAL;
            hr = menu->InvokeCommand(&invoke);
            std::printf("InvokeCommand: 0x%08lX\n", hr);
            ServeUntilProgressWindowGone(600000);
            stop = true;
            if (answerer.joinable())
                answerer.join();
            exitCode = SUCCEEDED(hr) ? 0 : 1;
        }
    }

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
