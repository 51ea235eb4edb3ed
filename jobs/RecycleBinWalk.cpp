#include "jobs/ComHolders.h"
#include "core/ShredThread.h"
#include "engine/ShredNames.h"
#include "engine/ShredOs.h"

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

bool IsAbsolute(const std::wstring& path)
{
    const wchar_t drive = path.empty() ? L'\0' : path[0];
    const bool letter = (drive >= L'A' && drive <= L'Z') || (drive >= L'a' && drive <= L'z');
    return letter && path.size() >= 3 && path[1] == L':' && path[2] == L'\\';
}

// The item's parsing name as a full path that names exactly that item in a 260-byte buffer:
// the name itself, or its short form where the code page cannot hold it or it is too long. A
// name cut short, converted to a look-alike or not absolute could name another file.
BinName ReadParsingName(IShellFolder* bin, PCUITEMID_CHILD item, const ShortPathCall& shortPaths,
                        char (&path)[MAX_PATH])
{
    STRRET name{};
    if (FAILED(bin->GetDisplayNameOf(item, SHGDN_FORPARSING, &name)))
        return BinName::Failed;
    wchar_t* parsingName = nullptr;
    if (FAILED(::StrRetToStrW(&name, item, &parsingName)))
        return BinName::Failed;
    const std::wstring wide = parsingName;
    ::CoTaskMemFree(parsingName);
    if (!IsAbsolute(wide))
        return BinName::Unusable;
    const std::optional<std::string> reachable = ReachablePath(wide, shortPaths);
    if (!reachable)
        return BinName::Unusable;
    reachable->copy(path, MAX_PATH - 1);
    path[reachable->size()] = '\0';
    return BinName::Usable;
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

    HRESULT hr = Os().SHGetMalloc(allocator.Receive());
    if (SUCCEEDED(hr))
        hr =
            Os().SHGetSpecialFolderLocation(ProgressWindow, CSIDL_BITBUCKET, binLocation.Receive());
    if (SUCCEEDED(hr))
        hr = Os().SHGetDesktopFolder(desktop.Receive());
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
        switch (ReadParsingName(bin.Get(), item.Get(), ShortPathsThrough(Os()), path)) {
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
