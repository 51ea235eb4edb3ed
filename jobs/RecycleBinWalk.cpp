#include "jobs/ComHolders.h"
#include "jobs/ShredThread.h"

#include <cctype>
#include <objbase.h>
#include <shlwapi.h>

namespace {

constexpr SHCONTF AllBinItems = SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN;

// COM for the duration of the walk, on the worker's own thread.
class ApartmentScope
{
public:
    ApartmentScope() : initialized(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
    {}
    ~ApartmentScope()
    {
        if (initialized)
            ::CoUninitialize();
    }
    ApartmentScope(const ApartmentScope&) = delete;
    ApartmentScope& operator=(const ApartmentScope&) = delete;

private:
    bool initialized;
};

enum class BinName
{
    Usable,
    Unusable, // the item cannot be named safely: reported and passed over
    Failed,   // the shell could not give a name: the walk ends
};

// The item's parsing name as a full path in a 260-byte buffer, converted without best-fit
// mapping. A name cut short, or one that is not absolute, could name another file.
BinName ReadParsingName(IShellFolder* bin, PCUITEMID_CHILD item, char (&path)[MAX_PATH])
{
    STRRET name{};
    if (FAILED(bin->GetDisplayNameOf(item, SHGDN_FORPARSING, &name)))
        return BinName::Failed;
    wchar_t* wide = nullptr;
    if (FAILED(::StrRetToStrW(&name, item, &wide)))
        return BinName::Failed;
    BOOL lossy = FALSE;
    const int size = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, path, MAX_PATH,
                                           nullptr, &lossy);
    ::CoTaskMemFree(wide);
    if (size == 0 || lossy)
        return BinName::Unusable;
    const bool absolute =
        ::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' && path[2] == '\\';
    return absolute ? BinName::Usable : BinName::Unusable;
}

} // namespace

void CShredThread::ShredRecycleBin()
{
    ApartmentScope apartment;
    ComHolder<IMalloc> allocator;
    IdListHolder binLocation(allocator);
    ComHolder<IShellFolder> desktop;
    ComHolder<IShellFolder> bin;
    ComHolder<IEnumIDList> items;

    HRESULT hr = Os->SHGetMalloc(allocator.Receive());
    if (SUCCEEDED(hr))
        hr = Os->SHGetSpecialFolderLocation(ProgressWindow, CSIDL_BITBUCKET, binLocation.Receive());
    if (SUCCEEDED(hr))
        hr = Os->SHGetDesktopFolder(desktop.Receive());
    if (SUCCEEDED(hr))
        hr = desktop->BindToObject(binLocation.Get(), nullptr, IID_IShellFolder,
                                   reinterpret_cast<void**>(bin.Receive()));
    if (SUCCEEDED(hr))
        hr = bin->EnumObjects(ProgressWindow, AllBinItems, items.Receive());
    // Some shells answer S_FALSE and no enumerator for a folder they cannot list.
    if (SUCCEEDED(hr) && !items.Get())
        hr = E_FAIL;

    while (SUCCEEDED(hr)) {
        IdListHolder item(allocator);
        ULONG fetched = 0;
        if (items->Next(1, item.Receive(), &fetched) != S_OK)
            break;
        char path[MAX_PATH] = {};
        switch (ReadParsingName(bin.Get(), item.Get(), path)) {
        case BinName::Usable:
            ShredItem(path);
            break;
        case BinName::Unusable:
            SendStatus(StatusInvalidArguments);
            break;
        case BinName::Failed:
            hr = E_FAIL;
            break;
        }
    }
    if (FAILED(hr))
        SendStatus(StatusRecycleBinFailed);
}
