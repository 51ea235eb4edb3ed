#include "FakeShell.h"

#include "common/TextConversion.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

std::string Hex(DWORD value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%lX", static_cast<unsigned long>(value));
    return text;
}

} // namespace

std::string CurrentApartment()
{
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    if (FAILED(::CoGetApartmentType(&type, &qualifier)))
        return "none";
    if (type == APTTYPE_STA || type == APTTYPE_MAINSTA)
        return "STA";
    if (type == APTTYPE_MTA && qualifier != APTTYPEQUALIFIER_IMPLICIT_MTA)
        return "MTA";
    return "none";
}

IdLists::~IdLists()
{
    for (const auto& entry : live)
        ::CoTaskMemFree(const_cast<void*>(entry.first));
}

ITEMIDLIST* IdLists::Make(const std::string& label, int tag, const std::string& name)
{
    const auto size = static_cast<USHORT>(sizeof(USHORT) + sizeof(int) + name.size() + 1);
    auto* bytes = static_cast<BYTE*>(::CoTaskMemAlloc(size + sizeof(USHORT)));
    std::memset(bytes, 0, size + sizeof(USHORT));
    std::memcpy(bytes, &size, sizeof size);
    std::memcpy(bytes + sizeof(USHORT), &tag, sizeof tag);
    std::memcpy(bytes + NameOffset, name.c_str(), name.size() + 1);
    std::lock_guard<std::mutex> guard(lock);
    live[bytes] = label;
    return reinterpret_cast<ITEMIDLIST*>(bytes);
}

int IdLists::Tag(const void* list)
{
    int tag = 0;
    std::memcpy(&tag, static_cast<const BYTE*>(list) + sizeof(USHORT), sizeof tag);
    return tag;
}

std::string IdLists::Label(const void* list)
{
    if (!list)
        return "null";
    std::lock_guard<std::mutex> guard(lock);
    const auto found = live.find(list);
    return found == live.end() ? "unknown" : found->second;
}

bool IdLists::Free(void* list)
{
    std::lock_guard<std::mutex> guard(lock);
    if (!live.erase(list))
        return false;
    ::CoTaskMemFree(list);
    return true;
}

std::vector<std::string> IdLists::LiveLabels()
{
    std::lock_guard<std::mutex> guard(lock);
    std::vector<std::string> labels;
    for (const auto& entry : live)
        labels.push_back(entry.second);
    return labels;
}

void FakeMalloc::Free(void* block)
{
    log.Add("malloc.Free(" + lists.Label(block) + ")");
    if (References() == 0)
        ++FreesWithoutAllocator;
    if (block && !lists.Free(block))
        ++StrayFrees;
}

HRESULT FakeShell::GetMalloc(IMalloc** allocator)
{
    Log.Add("SHGetMalloc");
    *allocator = nullptr;
    if (Failure == SetUpFailure::Allocator)
        return E_OUTOFMEMORY;
    *allocator = Malloc.HandOut();
    return S_OK;
}

HRESULT FakeShell::GetFolderLocation(HWND window, int folder, PIDLIST_ABSOLUTE* list)
{
    Log.Add("SHGetSpecialFolderLocation(" + OwnerName(window) + ", " + std::to_string(folder) +
            ")");
    *list = nullptr;
    if (Failure == SetUpFailure::Location)
        return E_FAIL;
    *list = Lists.Make(folder == CSIDL_BITBUCKET ? "bin" : "other folder", 0, "");
    return S_OK;
}

HRESULT FakeShell::GetDesktop(IShellFolder** desktop)
{
    Log.Add("SHGetDesktopFolder");
    *desktop = nullptr;
    if (Failure == SetUpFailure::Desktop)
        return E_FAIL;
    *desktop = Desktop.HandOut();
    return S_OK;
}

std::string FakeShell::OwnerName(HWND window) const
{
    return window == owner ? "progress"
                           : Hex(static_cast<DWORD>(reinterpret_cast<uintptr_t>(window)));
}

HRESULT FakeEnumerator::Next(ULONG count, PITEMID_CHILD* items, ULONG* fetched)
{
    log.Add("items.Next(" + std::to_string(count) + ", " + (fetched ? "count" : "null") + ")");
    items[0] = nullptr;
    if (fetched)
        *fetched = 0;
    while (position < shell.Entries.size()) {
        if (position + 1 == shell.NextFailsAt)
            return E_UNEXPECTED;
        const BinEntry& entry = shell.Entries[position++];
        // Listed as a real shell lists: only the kinds asked for, hidden ones only on request.
        const bool listed = (flags & (entry.Folder ? SHCONTF_FOLDERS : SHCONTF_NONFOLDERS)) &&
                            (!entry.Hidden || (flags & SHCONTF_INCLUDEHIDDEN));
        if (!listed)
            continue;
        const int tag = static_cast<int>(position);
        items[0] = shell.Lists.Make("item" + std::to_string(tag), tag,
                                    NarrowWithSubstitutes(entry.ParsingName));
        if (fetched)
            *fetched = 1;
        return S_OK;
    }
    return S_FALSE;
}

HRESULT FakeFolder::EnumObjects(HWND owner, SHCONTF flags, IEnumIDList** items)
{
    log.Add(Name() + ".EnumObjects(" + shell.OwnerName(owner) + ", " + Hex(flags) + ")");
    *items = nullptr;
    if (this != &shell.Bin)
        return E_NOTIMPL;
    if (shell.Failure == SetUpFailure::Enumeration)
        return E_FAIL;
    if (shell.Failure == SetUpFailure::NoEnumerator)
        return S_FALSE;
    shell.Items.Start(flags);
    *items = shell.Items.HandOut();
    return S_OK;
}

HRESULT FakeFolder::BindToObject(PCUIDLIST_RELATIVE list, IBindCtx* context, REFIID riid,
                                 void** folder)
{
    const std::string label = shell.Lists.Label(list);
    log.Add(Name() + ".BindToObject(" + label + ", " + (context ? "context" : "null") + ", " +
            (riid == IID_IShellFolder ? "IID_IShellFolder" : "other interface") + ")");
    *folder = nullptr;
    if (this != &shell.Desktop || label != "bin")
        return E_INVALIDARG;
    if (shell.Failure == SetUpFailure::Binding)
        return E_FAIL;
    if (riid != IID_IShellFolder)
        return E_NOINTERFACE;
    *folder = static_cast<IShellFolder*>(shell.Bin.HandOut());
    return S_OK;
}

HRESULT FakeFolder::GetDisplayNameOf(PCUITEMID_CHILD item, SHGDNF flags, STRRET* name)
{
    log.Add(Name() + ".GetDisplayNameOf(" + shell.Lists.Label(item) + ", " + Hex(flags) + ")");
    const int tag = IdLists::Tag(item);
    if (this != &shell.Bin || tag < 1 || static_cast<size_t>(tag) > shell.Entries.size())
        return E_INVALIDARG;
    if (static_cast<size_t>(tag) == shell.NameFailsAt)
        return E_FAIL;
    const BinEntry& entry = shell.Entries[static_cast<size_t>(tag) - 1];
    // Any other kind of name is the bare one the bin shows, which names no file.
    std::wstring text = entry.ParsingName;
    if (flags != SHGDN_FORPARSING)
        text = text.substr(text.find_last_of(L'\\') + 1);
    name->uType = entry.NameForm;
    switch (entry.NameForm) {
    case STRRET_WSTR: {
        const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
        name->pOleStr = static_cast<LPWSTR>(::CoTaskMemAlloc(bytes));
        std::memcpy(name->pOleStr, text.c_str(), bytes);
        break;
    }
    case STRRET_CSTR:
        std::snprintf(name->cStr, sizeof name->cStr, "%s", NarrowWithSubstitutes(text).c_str());
        break;
    default:
        name->uOffset = IdLists::NameOffset;
        break;
    }
    return S_OK;
}
