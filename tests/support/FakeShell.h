// The shell a Recycle Bin walk talks to, played by the test: the task allocator, the item ID
// lists it hands out, the desktop and the bin folders, the bin's enumerator, and the log of
// every call they receive. Wine's own bin names its items by their bare names, which no walk
// may open, so the items here are the real files a test names.
#pragma once

#include "CallLog.h"
#include "common/ComObject.h"

#include <windows.h>
#include <shlobj.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

// The calling thread's COM apartment: "STA", "MTA" or "none".
std::string CurrentApartment();

// Every call the fakes receive, in order, and the apartment each was made in.
struct ShellLog
{
    void Add(const std::string& call)
    {
        Calls.Add(call);
        Apartments.Add(CurrentApartment());
    }

    CallLog Calls;
    CallLog Apartments;
};

// The item ID lists the fakes hand out, from the task allocator, each with the label the log
// shows for it. A list is live from the moment it is handed out until it is freed.
class IdLists
{
public:
    IdLists() = default;
    ~IdLists();
    IdLists(const IdLists&) = delete;
    IdLists& operator=(const IdLists&) = delete;

    // One item identifier (size, tag, narrow name) and the terminating zero size.
    ITEMIDLIST* Make(const std::string& label, int tag, const std::string& name);
    static int Tag(const void* list);
    // "null", "unknown" for a list that is not live, or the list's label.
    std::string Label(const void* list);
    // False when the list is not a live one of ours: freed before, or never handed out.
    bool Free(void* list);
    std::vector<std::string> LiveLabels();

    static constexpr UINT NameOffset = sizeof(USHORT) + sizeof(int);

private:
    std::mutex lock;
    std::map<const void*, std::string> live;
};

// One entry of the fake bin.
struct BinEntry
{
    std::wstring ParsingName;
    bool Folder = false;
    bool Hidden = false;
    UINT NameForm = STRRET_WSTR;
};

enum class SetUpFailure
{
    None,
    Allocator,
    Location,
    Desktop,
    Binding,
    Enumeration,
    NoEnumerator, // EnumObjects answers S_FALSE and gives no enumerator
};

class FakeShell;

// The IUnknown of every fake, each call logged: the objects belong to the test, and only the
// references handed out and given back are counted.
template <typename Interface> class FakeObject : public StackComObject<Interface>
{
public:
    FakeObject(ShellLog& log, std::string name) : log(log), name(std::move(name)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        log.Add(name + ".QueryInterface");
        return StackComObject<Interface>::QueryInterface(riid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        log.Add(name + ".AddRef");
        return StackComObject<Interface>::AddRef();
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        log.Add(name + ".Release");
        return StackComObject<Interface>::Release();
    }

    const std::string& Name() const { return name; }

protected:
    ShellLog& log;
    std::string name;
};

class FakeMalloc : public FakeObject<IMalloc>
{
public:
    FakeMalloc(ShellLog& log, IdLists& lists) : FakeObject(log, "malloc"), lists(lists) {}

    void* STDMETHODCALLTYPE Alloc(SIZE_T size) override { return ::CoTaskMemAlloc(size); }
    void* STDMETHODCALLTYPE Realloc(void* block, SIZE_T size) override
    {
        return ::CoTaskMemRealloc(block, size);
    }
    void STDMETHODCALLTYPE Free(void* block) override;
    SIZE_T STDMETHODCALLTYPE GetSize(void*) override { return static_cast<SIZE_T>(-1); }
    int STDMETHODCALLTYPE DidAlloc(void*) override { return -1; }
    void STDMETHODCALLTYPE HeapMinimize() override {}

    int StrayFrees = 0;
    int FreesWithoutAllocator = 0;

private:
    IdLists& lists;
};

class FakeEnumerator : public FakeObject<IEnumIDList>
{
public:
    FakeEnumerator(ShellLog& log, FakeShell& shell) : FakeObject(log, "items"), shell(shell) {}
    void Start(SHCONTF listed)
    {
        flags = listed;
        position = 0;
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, PITEMID_CHILD* items, ULONG* fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumIDList** copy) override
    {
        *copy = nullptr;
        return E_NOTIMPL;
    }

private:
    FakeShell& shell;
    SHCONTF flags = 0;
    size_t position = 0;
};

// The desktop, which binds to the bin, and the bin, which lists and names its entries.
class FakeFolder : public FakeObject<IShellFolder>
{
public:
    FakeFolder(ShellLog& log, FakeShell& shell, const char* name)
        : FakeObject(log, name), shell(shell)
    {}

    HRESULT STDMETHODCALLTYPE ParseDisplayName(HWND, IBindCtx*, LPWSTR, ULONG*, PIDLIST_RELATIVE*,
                                               ULONG*) override
    {
        return Unexpected("ParseDisplayName");
    }
    HRESULT STDMETHODCALLTYPE EnumObjects(HWND owner, SHCONTF flags, IEnumIDList** items) override;
    HRESULT STDMETHODCALLTYPE BindToObject(PCUIDLIST_RELATIVE list, IBindCtx* context, REFIID riid,
                                           void** folder) override;
    HRESULT STDMETHODCALLTYPE BindToStorage(PCUIDLIST_RELATIVE, IBindCtx*, REFIID, void**) override
    {
        return Unexpected("BindToStorage");
    }
    HRESULT STDMETHODCALLTYPE CompareIDs(LPARAM, PCUIDLIST_RELATIVE, PCUIDLIST_RELATIVE) override
    {
        return Unexpected("CompareIDs");
    }
    HRESULT STDMETHODCALLTYPE CreateViewObject(HWND, REFIID, void**) override
    {
        return Unexpected("CreateViewObject");
    }
    HRESULT STDMETHODCALLTYPE GetAttributesOf(UINT, PCUITEMID_CHILD_ARRAY, SFGAOF*) override
    {
        return Unexpected("GetAttributesOf");
    }
    HRESULT STDMETHODCALLTYPE GetUIObjectOf(HWND, UINT, PCUITEMID_CHILD_ARRAY, REFIID, UINT*,
                                            void**) override
    {
        return Unexpected("GetUIObjectOf");
    }
    HRESULT STDMETHODCALLTYPE GetDisplayNameOf(PCUITEMID_CHILD item, SHGDNF flags,
                                               STRRET* name) override;
    HRESULT STDMETHODCALLTYPE SetNameOf(HWND, PCUITEMID_CHILD, LPCWSTR, SHGDNF,
                                        PITEMID_CHILD*) override
    {
        return Unexpected("SetNameOf");
    }

private:
    HRESULT Unexpected(const char* method)
    {
        log.Add(Name() + "." + method);
        return E_NOTIMPL;
    }

    FakeShell& shell;
};

// The shell of a bin holding Entries, failing where told to. The three calls stand for
// SHGetMalloc, SHGetSpecialFolderLocation and SHGetDesktopFolder.
class FakeShell
{
public:
    explicit FakeShell(HWND owner) : owner(owner) {}

    std::vector<BinEntry> Entries;
    SetUpFailure Failure = SetUpFailure::None;
    size_t NameFailsAt = 0; // 1-based position of the entry whose name cannot be read
    size_t NextFailsAt = 0; // 1-based position at which Next answers an error

    HRESULT GetMalloc(IMalloc** allocator);
    HRESULT GetFolderLocation(HWND window, int folder, PIDLIST_ABSOLUTE* list);
    HRESULT GetDesktop(IShellFolder** desktop);

    // "progress" for the window the shell was made for, otherwise the handle's value.
    std::string OwnerName(HWND window) const;

    ShellLog Log;
    IdLists Lists;
    FakeMalloc Malloc{Log, Lists};
    FakeFolder Desktop{Log, *this, "desktop"};
    FakeFolder Bin{Log, *this, "bin"};
    FakeEnumerator Items{Log, *this};

private:
    HWND owner;
};
