#include "common/TextConversion.h"
#include "common/Unique.h"
#include "core/ShredThread.h"
#include "engine/ShredNames.h"
#include "engine/ShredOs.h"

#include <objbase.h>
#include <shlwapi.h>

namespace {

constexpr SHCONTF AllBinItems = SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN;

// An item ID list, freed by the shell's allocator when there is one to free it with.
struct IdListTraits : NullInvalid<ITEMIDLIST*>
{
    void Close(ITEMIDLIST* idList) const
    {
        if (Allocator && Allocator->IsValid())
            (*Allocator)->Free(idList);
    }
    const UniqueCom<IMalloc>* Allocator = nullptr;
};
using UniqueIdList = Unique<IdListTraits>;

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
BinName ReadParsingName(ShredOs& os, IShellFolder* bin, PCUITEMID_CHILD item,
                        std::optional<ShreddablePath>& path, std::string& shownName)
{
    STRRET name{};
    if (FAILED(bin->GetDisplayNameOf(item, SHGDN_FORPARSING, &name)))
        return BinName::Failed;
    UniqueTaskMemory<wchar_t> parsingName;
    if (FAILED(os.StrRetToStrW(&name, item, parsingName.Receive())))
        return BinName::Failed;
    const std::wstring wide = parsingName.Get();
    shownName = NarrowWithSubstitutes(wide);
    if (!IsAbsolute(wide))
        return BinName::Unusable;
    path = NameRules::Reachable(wide, ShortPathsThrough(os));
    return path ? BinName::Usable : BinName::Unusable;
}

// The record the Recycle Bin keeps beside an item ("$R..." holds the item, "$I..." the path it
// was deleted from, its size and the time), or nothing for an item not so named.
std::optional<ShreddablePath> DeletionRecordOf(const ShreddablePath& item)
{
    const size_t name = item.Narrow().find_last_of('\\') + 1;
    if (item.Narrow().compare(name, 2, "$R") != 0)
        return std::nullopt;
    std::string record = item.Narrow();
    record[name + 1] = 'I';
    return NameRules::FromNarrow(record);
}

} // namespace

void CShredThread::ShredDeletionRecord(const ShreddablePath& item)
{
    // The record still names the item and where it came from: it goes once the item has gone,
    // and stays for an item that was kept.
    const std::optional<ShreddablePath> record = DeletionRecordOf(item);
    WIN32_FIND_DATAW entry{};
    if (!record || OwnListing(Os(), Os().FindFirstFileW(item.Wide().c_str(), &entry)).IsValid() ||
        !OwnListing(Os(), Os().FindFirstFileW(record->Wide().c_str(), &entry)).IsValid())
        return;
    ShredItem(*record);
}

void CShredThread::ShredRecycleBin()
{
    // COM for the duration of the walk, on the worker's own thread.
    const UniqueApartment apartment(
        SUCCEEDED(Os().CoInitializeEx(COINIT_APARTMENTTHREADED)) ? &Os() : nullptr);
    UniqueCom<IMalloc> allocator;
    UniqueIdList binLocation(nullptr, IdListTraits{{}, &allocator});
    UniqueCom<IShellFolder> desktop;
    UniqueCom<IShellFolder> bin;
    UniqueCom<IEnumIDList> items;

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
        UniqueIdList item(nullptr, IdListTraits{{}, &allocator});
        ULONG fetched = 0;
        if (items->Next(1, item.Receive(), &fetched) != S_OK)
            break;
        std::optional<ShreddablePath> path;
        std::string shownName;
        switch (ReadParsingName(Os(), bin.Get(), item.Get(), path, shownName)) {
        case BinName::Usable:
            ShredItem(*path);
            ShredDeletionRecord(*path);
            break;
        case BinName::Unusable:
            ReportFailure(shownName, StatusInvalidArguments);
            break;
        case BinName::Failed:
            hr = E_FAIL;
            break;
        }
    }
    if (FAILED(hr))
        SendStatus(StatusRecycleBinFailed);
}
