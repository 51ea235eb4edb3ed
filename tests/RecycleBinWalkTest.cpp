// The Recycle Bin walk as the launcher runs it: the shell calls it makes and in what order, what
// it shreds and reports, the names it refuses to guess at, and that it gives back everything the
// shell handed it on every way out.
#include "ComObject.h"
#include "FakeShredOs.h"
#include "RecordingWindow.h"
#include "TestFiles.h"
#include "WorkerJob.h"
#include "common/TextConversion.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

std::string Hex(DWORD value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%lX", static_cast<unsigned long>(value));
    return text;
}

// The calling thread's COM apartment: "STA", "MTA" or "none".
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

// Every call the fakes receive, in order, with the apartment it was made in.
class CallLog
{
public:
    void Add(const std::string& call)
    {
        std::lock_guard<std::mutex> guard(lock);
        calls.push_back(call);
        apartments.push_back(CurrentApartment());
    }
    std::vector<std::string> Calls()
    {
        std::lock_guard<std::mutex> guard(lock);
        return calls;
    }
    std::vector<std::string> Apartments()
    {
        std::lock_guard<std::mutex> guard(lock);
        return apartments;
    }

private:
    std::mutex lock;
    std::vector<std::string> calls;
    std::vector<std::string> apartments;
};

// The item ID lists the fakes hand out, from the task allocator, each with the label the log
// shows for it. A list is live from the moment it is handed out until it is freed.
class IdLists
{
public:
    IdLists() = default;
    IdLists(const IdLists&) = delete;
    IdLists& operator=(const IdLists&) = delete;
    ~IdLists()
    {
        for (const auto& entry : live)
            ::CoTaskMemFree(const_cast<void*>(entry.first));
    }

    // One item identifier (size, tag, narrow name) and the terminating zero size.
    ITEMIDLIST* Make(const std::string& label, int tag, const std::string& name)
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
    static int Tag(const void* list)
    {
        int tag = 0;
        std::memcpy(&tag, static_cast<const BYTE*>(list) + sizeof(USHORT), sizeof tag);
        return tag;
    }
    std::string Label(const void* list)
    {
        if (!list)
            return "null";
        std::lock_guard<std::mutex> guard(lock);
        const auto found = live.find(list);
        return found == live.end() ? "unknown" : found->second;
    }
    // False when the list is not a live one of ours: freed before, or never handed out.
    bool Free(void* list)
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!live.erase(list))
            return false;
        ::CoTaskMemFree(list);
        return true;
    }
    std::vector<std::string> LiveLabels()
    {
        std::lock_guard<std::mutex> guard(lock);
        std::vector<std::string> labels;
        for (const auto& entry : live)
            labels.push_back(entry.second);
        return labels;
    }

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
    FakeObject(CallLog& log, std::string name) : log(log), name(std::move(name)) {}

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
    CallLog& log;
    std::string name;
};

class FakeMalloc : public FakeObject<IMalloc>
{
public:
    FakeMalloc(CallLog& log, IdLists& lists) : FakeObject(log, "malloc"), lists(lists) {}

    void* STDMETHODCALLTYPE Alloc(SIZE_T size) override { return ::CoTaskMemAlloc(size); }
    void* STDMETHODCALLTYPE Realloc(void* block, SIZE_T size) override
    {
        return ::CoTaskMemRealloc(block, size);
    }
    void STDMETHODCALLTYPE Free(void* block) override
    {
        log.Add("malloc.Free(" + lists.Label(block) + ")");
        if (References() == 0)
            ++FreesWithoutAllocator;
        if (block && !lists.Free(block))
            ++StrayFrees;
    }
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
    FakeEnumerator(CallLog& log, FakeShell& shell) : FakeObject(log, "items"), shell(shell) {}
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
    FakeFolder(CallLog& log, FakeShell& shell, const char* name)
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

// The shell of a bin holding Entries, failing where told to.
class FakeShell
{
public:
    explicit FakeShell(HWND owner) : owner(owner) {}

    std::vector<BinEntry> Entries;
    SetUpFailure Failure = SetUpFailure::None;
    size_t NameFailsAt = 0; // 1-based position of the entry whose name cannot be read
    size_t NextFailsAt = 0; // 1-based position at which Next answers an error

    HRESULT GetMalloc(IMalloc** allocator)
    {
        Log.Add("SHGetMalloc");
        *allocator = nullptr;
        if (Failure == SetUpFailure::Allocator)
            return E_OUTOFMEMORY;
        *allocator = Malloc.HandOut();
        return S_OK;
    }
    HRESULT GetFolderLocation(HWND window, int folder, PIDLIST_ABSOLUTE* list)
    {
        Log.Add("SHGetSpecialFolderLocation(" + OwnerName(window) + ", " + std::to_string(folder) +
                ")");
        *list = nullptr;
        if (Failure == SetUpFailure::Location)
            return E_FAIL;
        *list = Lists.Make(folder == CSIDL_BITBUCKET ? "bin" : "other folder", 0, "");
        return S_OK;
    }
    HRESULT GetDesktop(IShellFolder** desktop)
    {
        Log.Add("SHGetDesktopFolder");
        *desktop = nullptr;
        if (Failure == SetUpFailure::Desktop)
            return E_FAIL;
        *desktop = Desktop.HandOut();
        return S_OK;
    }

    std::string OwnerName(HWND window) const
    {
        return window == owner ? "progress"
                               : Hex(static_cast<DWORD>(reinterpret_cast<uintptr_t>(window)));
    }

    CallLog Log;
    IdLists Lists;
    FakeMalloc Malloc{Log, Lists};
    FakeFolder Desktop{Log, *this, "desktop"};
    FakeFolder Bin{Log, *this, "bin"};
    FakeEnumerator Items{Log, *this};

private:
    HWND owner;
};

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

// The engine's seam with the shell's Recycle Bin answered by a FakeShell. It notes the COM
// apartment the worker is in when it reports that it has finished.
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
            ApartmentAtFinish = CurrentApartment();
        return FakeShredOs::SendMessageA(window, message, wParam, lParam);
    }

    std::string ApartmentAtFinish;

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

std::vector<std::string> ItemCalls(int position)
{
    const std::string item = "item" + std::to_string(position);
    return {"items.Next(1, count)", "bin.GetDisplayNameOf(" + item + ", 0x8000)",
            "malloc.Free(" + item + ")"};
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
        for (const auto* object :
             std::vector<const FakeObject<IShellFolder>*>{&shell.Desktop, &shell.Bin}) {
            EXPECT_EQ(object->References(), 0u) << object->Name();
            EXPECT_FALSE(object->OverReleased()) << object->Name();
        }
        EXPECT_EQ(shell.Items.References(), 0u);
        EXPECT_FALSE(shell.Items.OverReleased());
        EXPECT_EQ(shell.Malloc.References(), 0u);
        EXPECT_FALSE(shell.Malloc.OverReleased());
        EXPECT_EQ(shell.Lists.LiveLabels(), std::vector<std::string>{});
        EXPECT_EQ(shell.Malloc.StrayFrees, 0);
        EXPECT_EQ(shell.Malloc.FreesWithoutAllocator, 0);
    }

    // Runs a Recycle Bin job as the launcher starts one; every notification must come under
    // item index 0.
    Notifications RunWalk(ShredOs& walkOs)
    {
        ShredSettings settings;
        settings.ShreddingMethod = MethodRandomData;
        settings.Passes = 1;
        settings.OverwriteTails = false;
        settings.MangleDateAndTime = false;
        WorkerJob job(window.Handle(), settings, &walkOs);
        job.Start(WorkerItem{"", 0, true});
        EXPECT_TRUE(window.WaitForFinished(1));
        EXPECT_TRUE(job.Join());
        const Notifications received = window.Received();
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
        BinEntry entry;
        entry.ParsingName = Widen(path);
        entry.Folder = isFolder;
        entry.Hidden = hidden;
        return entry;
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

    const std::vector<std::string> expected = {
        "SHGetMalloc",
        "SHGetSpecialFolderLocation(progress, 10)",
        "SHGetDesktopFolder",
        "desktop.BindToObject(bin, null, IID_IShellFolder)",
        "bin.EnumObjects(progress, 0xE0)",
        "items.Next(1, count)",
        "bin.GetDisplayNameOf(item1, 0x8000)",
        "malloc.Free(item1)",
        "items.Next(1, count)",
        "bin.GetDisplayNameOf(item2, 0x8000)",
        "malloc.Free(item2)",
        "items.Next(1, count)",
        "items.Release",
        "bin.Release",
        "desktop.Release",
        "malloc.Free(bin)",
        "malloc.Release",
    };
    EXPECT_EQ(shell.Log.Calls(), expected);
}

TEST_F(RecycleBinWalkTest, HoldsAnApartmentOfItsOwnForTheWalkOnly)
{
    shell.Entries = {Entry(MakeFile("one.txt"))};
    RunWalk();

    const std::vector<std::string> apartments = shell.Log.Apartments();
    ASSERT_FALSE(apartments.empty());
    EXPECT_EQ(apartments, std::vector<std::string>(apartments.size(), "STA"));
    EXPECT_EQ(os.ApartmentAtFinish, "none");
}

TEST_F(RecycleBinWalkTest, AnEmptyBinSendsOnlyFinished)
{
    const Notifications received = RunWalk();

    EXPECT_EQ(Describe(received), std::vector<std::string>{Status(StatusFinished)});
    EXPECT_EQ(shell.Log.Calls(), Concat({SetUpCalls, {"items.Next(1, count)"}, TearDownCalls}));
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

struct SetUpCase
{
    SetUpFailure Failure;
    const char* Name;
    std::vector<std::string> Calls;
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
    EXPECT_EQ(shell.Log.Calls(), GetParam().Calls);
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, RecycleBinSetUpTest,
    ::testing::Values(
        SetUpCase{SetUpFailure::Allocator, "Allocator", {"SHGetMalloc"}},
        SetUpCase{SetUpFailure::Location,
                  "Location",
                  {"SHGetMalloc", "SHGetSpecialFolderLocation(progress, 10)", "malloc.Release"}},
        SetUpCase{SetUpFailure::Desktop,
                  "Desktop",
                  {"SHGetMalloc", "SHGetSpecialFolderLocation(progress, 10)", "SHGetDesktopFolder",
                   "malloc.Free(bin)", "malloc.Release"}},
        SetUpCase{SetUpFailure::Binding,
                  "Binding",
                  {"SHGetMalloc", "SHGetSpecialFolderLocation(progress, 10)", "SHGetDesktopFolder",
                   "desktop.BindToObject(bin, null, IID_IShellFolder)", "desktop.Release",
                   "malloc.Free(bin)", "malloc.Release"}},
        SetUpCase{
            SetUpFailure::Enumeration, "Enumeration",
            Concat({SetUpCalls,
                    {"bin.Release", "desktop.Release", "malloc.Free(bin)", "malloc.Release"}})},
        SetUpCase{
            SetUpFailure::NoEnumerator, "NoEnumerator",
            Concat({SetUpCalls,
                    {"bin.Release", "desktop.Release", "malloc.Free(bin)", "malloc.Release"}})}),
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
    EXPECT_EQ(shell.Log.Calls(),
              Concat({SetUpCalls, ItemCalls(1), ItemCalls(2), ItemCalls(3), TearDownCalls}));
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
    EXPECT_EQ(
        shell.Log.Calls(),
        Concat({SetUpCalls, ItemCalls(1), ItemCalls(2), {"items.Next(1, count)"}, TearDownCalls}));
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

    // Had the first item been cut, the second would find its file gone.
    EXPECT_EQ(Outline(RunWalk()),
              (std::vector<std::string>{Status(StatusInvalidArguments), File(longest),
                                        Status(StatusShredded), Status(StatusFinished)}));
    EXPECT_EQ(
        shell.Log.Calls(),
        Concat({SetUpCalls, ItemCalls(1), ItemCalls(2), {"items.Next(1, count)"}, TearDownCalls}));
}

TEST_F(RecycleBinWalkTest, ANameThatIsNotAFullPathIsPassedOverNotResolved)
{
    MakeFile("decoy.txt");
    const std::string real = MakeFile("real.txt");
    ASSERT_EQ(folder.Path().substr(0, 3), "C:\\");
    CurrentFolder current(folder.Path());
    const std::string folderName = folder.Path().substr(folder.Path().find_last_of('\\') + 1);
    // Each of these names the decoy from the current folder, drive or root.
    for (const std::string& name :
         {std::string("decoy.txt"), std::string(".\\decoy.txt"), std::string("C:decoy.txt"),
          "..\\" + folderName + "\\decoy.txt", folder.Path().substr(2) + "\\decoy.txt"})
        shell.Entries.push_back(Entry(name));
    shell.Entries.push_back(Entry(real));

    const std::vector<std::string> refused(5, Status(StatusInvalidArguments));
    EXPECT_EQ(Outline(RunWalk()),
              Concat({refused, {File(real), Status(StatusShredded), Status(StatusFinished)}}));
    EXPECT_TRUE(Untouched("decoy.txt"));
    EXPECT_FALSE(Exists(real));
}

TEST_F(RecycleBinWalkTest, ANameOutsideTheCodePageIsPassedOverNotMappedToALookalike)
{
    // "cafe" with a macron best-fits to "cafa"; a CJK letter has no narrow form and becomes "?",
    // a wildcard that matches "cafa" too. An e acute is in the code page and names its file.
    MakeFile("cafa.txt");
    const std::string acute = MakeFile("caf\xE9.txt");
    const std::wstring base = Widen(folder.Path()) + L"\\caf";
    shell.Entries = {BinEntry{base + L"\u0101.txt"}, BinEntry{base + L"\u4E00.txt"}, Entry(acute)};

    EXPECT_EQ(
        Outline(RunWalk()),
        (std::vector<std::string>{Status(StatusInvalidArguments), Status(StatusInvalidArguments),
                                  File(acute), Status(StatusShredded), Status(StatusFinished)}));
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

    const Notifications received = RunWalk();

    EXPECT_EQ(CountStatus(received, StatusShredded), 2u);
    EXPECT_EQ(CountStatus(received, StatusInvalidArguments), 0u);
    for (const Notification& n : received) {
        if (n.Message == WM_SHRED_FILE) {
            EXPECT_LT(n.Path.size(), size_t{MAX_PATH}) << n.Path;
        }
    }
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
              (std::vector<std::string>{Status(StatusInvalidArguments), File(plain),
                                        Status(StatusShredded), Status(StatusFinished)}));
    EXPECT_EQ(ReadWide(cyrillic), (std::vector<unsigned char>{1, 2, 3}));
}

// The real shell's bin, listed the way the walk lists it, from the calling thread.
bool ListRealBin(std::vector<std::wstring>& names)
{
    PIDLIST_ABSOLUTE location = nullptr;
    IShellFolder* desktop = nullptr;
    IShellFolder* bin = nullptr;
    IEnumIDList* items = nullptr;
    HRESULT hr = ::SHGetSpecialFolderLocation(nullptr, CSIDL_BITBUCKET, &location);
    if (SUCCEEDED(hr))
        hr = ::SHGetDesktopFolder(&desktop);
    if (SUCCEEDED(hr))
        hr = desktop->BindToObject(location, nullptr, IID_IShellFolder,
                                   reinterpret_cast<void**>(&bin));
    if (SUCCEEDED(hr))
        hr = bin->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN,
                              &items);
    if (SUCCEEDED(hr) && !items)
        hr = E_FAIL;
    PITEMID_CHILD item = nullptr;
    while (SUCCEEDED(hr) && items->Next(1, &item, nullptr) == S_OK) {
        STRRET name{};
        wchar_t* text = nullptr;
        hr = bin->GetDisplayNameOf(item, SHGDN_FORPARSING, &name);
        if (SUCCEEDED(hr))
            hr = ::StrRetToStrW(&name, item, &text);
        if (SUCCEEDED(hr))
            names.push_back(text);
        ::CoTaskMemFree(text);
        ::CoTaskMemFree(item);
    }
    if (items)
        items->Release();
    if (bin)
        bin->Release();
    if (desktop)
        desktop->Release();
    ::CoTaskMemFree(location);
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
    // Wine keeps its bin in the XDG trash: only one inside the build folder may be used.
    char dataHome[MAX_PATH] = {};
    if (::GetEnvironmentVariableA("XDG_DATA_HOME", dataHome, MAX_PATH) == 0)
        GTEST_SKIP() << "XDG_DATA_HOME is not set: the bin would be the user's own";

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
        RemoveFromRealBin(std::string(dataHome) + "/Trash", name);

    ASSERT_TRUE(listed);
    EXPECT_TRUE(moved) << "SHFileOperationA could not move the file to the bin";
    if (moved) {
        EXPECT_NE(std::find(names.begin(), names.end(), Widen(name)), names.end());
    }
    // Wine names its bin's items by their bare original names, which the walk must not look
    // up in the current folder.
    for (const std::wstring& listedName : names)
        EXPECT_EQ(listedName.find(L'\\'), std::wstring::npos) << NarrowWithSubstitutes(listedName);
    std::vector<std::string> expected(names.size(), Status(StatusInvalidArguments));
    expected.push_back(Status(StatusFinished));
    EXPECT_EQ(Describe(received), expected);
    EXPECT_TRUE(Untouched(name));
}

} // namespace
