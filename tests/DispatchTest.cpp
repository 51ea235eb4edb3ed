// IDispatch of the context-menu object served from the registered type library, the type
// library's registration and removal, its content, and where it is looked for when the module's
// own file does not hold it.
#include "RegistryKeys.h"
#include "ServerObject.h"
#include "TestFiles.h"
#include "common/TextConversion.h"
#include "shellext/ClassTable.h"
#include "shellext/Guids.h"
#include "shellext/ServerModule.h"
#include "shellext/TypeLibrary.h"

#include <gtest/gtest.h>

#include <oleauto.h>

#include <memory>
#include <string>
#include <vector>

namespace {

void* const Untouched = reinterpret_cast<void*>(static_cast<UINT_PTR>(0x5EED));

std::wstring Text(const UniqueBstr& text)
{
    return text ? text.Get() : L"";
}

// The name of a type's member, or of the type itself.
std::wstring NameOf(ITypeInfo* info, MEMBERID member = MEMBERID_NIL)
{
    UniqueBstr name;
    EXPECT_EQ(info->GetDocumentation(member, name.Receive(), nullptr, nullptr, nullptr), S_OK);
    return Text(name);
}

std::wstring NameOf(ITypeLib* library)
{
    UniqueBstr name;
    EXPECT_EQ(library->GetDocumentation(-1, name.Receive(), nullptr, nullptr, nullptr), S_OK);
    return Text(name);
}

// The type a type refers to: the one it implements at `index`, or with -1 the vtable view of a
// dual interface.
UniqueCom<ITypeInfo> Referenced(ITypeInfo* info, INT index)
{
    HREFTYPE reference = 0;
    UniqueCom<ITypeInfo> referenced;
    EXPECT_EQ(info->GetRefTypeOfImplType(index, &reference), S_OK);
    EXPECT_EQ(info->GetRefTypeInfo(reference, referenced.Receive()), S_OK);
    return referenced;
}

std::wstring GuidText(const GUID& guid)
{
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return text;
}

// Copies this program to `path`; false when it cannot.
bool CopyProgram(const std::string& path)
{
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring source = self;
    // Wine names a program started from a folder outside its drives "unix\...".
    if (source.rfind(L"unix\\", 0) == 0)
        source = LongPath(source);
    // The long form, so that names past the usual limit can be made too.
    const std::wstring target = LongPath(path);
    return ::CopyFileW(source.c_str(), target.c_str(), FALSE) != FALSE;
}

// A copy of this program at a path the test chooses, mapped as a module without being run, so
// that GetModuleFileNameA names that path.
class ProgramCopy
{
public:
    explicit ProgramCopy(const std::string& path)
    {
        if (!CopyProgram(path)) {
            ADD_FAILURE() << "cannot copy the program to " << path;
            return;
        }
        // The trailing dot keeps the loader from adding ".dll" to a name without extension.
        module.Reset(
            ::LoadLibraryExW((Widen(path) + L".").c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES));
        if (!module)
            ADD_FAILURE() << "cannot map " << path << ": " << ::GetLastError();
    }

    HINSTANCE Instance() const { return module.Get(); }

private:
    UniqueModule module;
};

class DispatchTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        // The program's own path is not always one LoadTypeLib can open (see CopyProgram):
        // the module is a copy of it in the test's folder.
        Program = std::make_unique<ProgramCopy>(Folder / "DispatchTest.exe");
        ASSERT_NE(Program->Instance(), nullptr);
        ProgramPath = Widen(Folder / "DispatchTest.exe");
        Module.Start(ClassTable, Program->Instance());
        Started = true;
        // Whatever an earlier run left registered goes first.
        UnregisterTypeLibrary();

        ASSERT_EQ(CreateServerObject(CLSID_QuorvaneShlExt, IID_IDispatch,
                                     reinterpret_cast<void**>(Dispatch.Receive())),
                  S_OK);
    }

    void TearDown() override
    {
        Dispatch.Reset();
        if (!Started)
            return;
        EXPECT_EQ(Module.LockCount, 0);
        UnregisterTypeLibrary();
        // Nothing of the registration is left behind.
        {
            UniqueCom<ITypeLib> library;
            EXPECT_TRUE(
                FAILED(::LoadRegTypeLib(LIBID_ORLENWICKLib, 1, 0, 0x409, library.Receive())));
        }
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"TypeLib\\" + GuidText(LIBID_ORLENWICKLib)));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Interface\\" + GuidText(IID_IQuorvaneShlExt)));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Interface\\" + GuidText(IID_IShredConfDlg)));
        Module.Stop();
        Program.reset();
        ::CoUninitialize();
    }

    UniqueCom<ITypeInfo> TypeInfo()
    {
        UniqueCom<ITypeInfo> info;
        EXPECT_EQ(Dispatch->GetTypeInfo(0, 0x409, info.Receive()), S_OK);
        return info;
    }

    TempFolder Folder;
    std::unique_ptr<ProgramCopy> Program;
    std::wstring ProgramPath;
    UniqueCom<IDispatch> Dispatch;
    bool Started = false;
};

class RegisteredDispatchTest : public DispatchTest
{
protected:
    void SetUp() override
    {
        DispatchTest::SetUp();
        ASSERT_EQ(RegisterTypeLibrary(), S_OK);
    }
};

TEST_F(DispatchTest, ThereIsOneTypeInfoAndItNeedsSomewhereToGo)
{
    UINT count = 0;
    EXPECT_EQ(Dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(Dispatch->GetTypeInfo(0, 0x409, nullptr), E_POINTER);
}

TEST_F(DispatchTest, TypeInformationComesFromTheRegisteredLibraryOnly)
{
    UniqueCom<ITypeLib> library;
    const HRESULT unregistered =
        ::LoadRegTypeLib(LIBID_ORLENWICKLib, 1, 0, 0x409, library.Receive());
    ASSERT_EQ(unregistered, TYPE_E_LIBNOTREGISTERED);

    void* info = Untouched;
    EXPECT_EQ(Dispatch->GetTypeInfo(0, 0x409, reinterpret_cast<ITypeInfo**>(&info)), unregistered);
    EXPECT_EQ(info, nullptr);
    LPOLESTR name = const_cast<LPOLESTR>(L"Anything");
    DISPID id = 0;
    EXPECT_EQ(Dispatch->GetIDsOfNames(IID_NULL, &name, 1, 0x409, &id), unregistered);
    DISPPARAMS none = {};
    EXPECT_EQ(
        Dispatch->Invoke(1, IID_NULL, 0x409, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
        unregistered);

    ASSERT_EQ(RegisterTypeLibrary(), S_OK);
    UniqueBstr registeredPath;
    ASSERT_EQ(::QueryPathOfRegTypeLib(LIBID_ORLENWICKLib, 1, 0, 0x409, registeredPath.Receive()),
              S_OK);
    EXPECT_EQ(Text(registeredPath), ProgramPath);
    wchar_t helpDirectory[MAX_PATH] = {};
    LONG size = sizeof helpDirectory;
    const std::wstring versionKey = L"TypeLib\\" + GuidText(LIBID_ORLENWICKLib) + L"\\1.0\\HELPDIR";
    EXPECT_EQ(::RegQueryValueW(HKEY_CLASSES_ROOT, versionKey.c_str(), helpDirectory, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(helpDirectory), Widen(Folder.Path() + "\\"));

    // The same object now finds it: a failed load is not remembered.
    const UniqueCom<ITypeInfo> first = TypeInfo();
    ASSERT_TRUE(first);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(first->GetTypeAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->guid, IID_IQuorvaneShlExt);
    EXPECT_EQ(attributes->typekind, TKIND_DISPATCH);
    EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FDUAL);
    // The seven methods of IUnknown and IDispatch, none of its own.
    EXPECT_EQ(attributes->cFuncs, 7);
    EXPECT_EQ(attributes->cVars, 0);
    first->ReleaseTypeAttr(attributes);
    EXPECT_EQ(TypeInfo().Get(), first.Get());
}

TEST_F(RegisteredDispatchTest, NamesAreLookedUpAsTheTypeInformationSays)
{
    const UniqueCom<ITypeInfo> info = TypeInfo();
    ASSERT_TRUE(info);
    // The member ids the type information gives its inherited methods.
    std::vector<std::pair<std::wstring, MEMBERID>> members;
    for (UINT i = 0; i < 7; ++i) {
        FUNCDESC* function = nullptr;
        ASSERT_EQ(info->GetFuncDesc(i, &function), S_OK);
        members.emplace_back(NameOf(info.Get(), function->memid), function->memid);
        info->ReleaseFuncDesc(function);
    }
    ASSERT_EQ(members.front().first, L"QueryInterface");
    ASSERT_EQ(members.back().first, L"Invoke");

    for (const auto& [member, memid] : members) {
        LPOLESTR name = const_cast<LPOLESTR>(member.c_str());
        DISPID id = DISPID_UNKNOWN;
        EXPECT_EQ(Dispatch->GetIDsOfNames(IID_NULL, &name, 1, 0x409, &id), S_OK);
        EXPECT_EQ(id, memid);
    }
    // Another spelling is left to the type information, which ignores case.
    LPOLESTR lower = const_cast<LPOLESTR>(L"invoke");
    DISPID id = DISPID_UNKNOWN;
    DISPID expected = DISPID_UNKNOWN;
    EXPECT_EQ(Dispatch->GetIDsOfNames(IID_NULL, &lower, 1, 0x409, &id),
              info->GetIDsOfNames(&lower, 1, &expected));
    EXPECT_EQ(id, expected);
    EXPECT_EQ(id, members.back().second);

    LPOLESTR missing = const_cast<LPOLESTR>(L"Shred");
    id = 0;
    EXPECT_EQ(Dispatch->GetIDsOfNames(IID_NULL, &missing, 1, 0x409, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);

    DISPPARAMS none = {};
    EXPECT_EQ(
        Dispatch->Invoke(1, IID_NULL, 0x409, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
        DISP_E_MEMBERNOTFOUND);
}

// The vtable view of a dual interface: automation-compatible, IDispatch's seven slots only.
void ExpectNoMethodsOfItsOwn(ITypeInfo* dispatchView)
{
    const UniqueCom<ITypeInfo> vtable = Referenced(dispatchView, -1);
    ASSERT_TRUE(vtable);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(vtable->GetTypeAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->typekind, TKIND_INTERFACE);
    EXPECT_EQ(attributes->wTypeFlags,
              TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
    EXPECT_EQ(attributes->cFuncs, 0);
    EXPECT_EQ(attributes->cVars, 0);
    EXPECT_EQ(attributes->cbSizeVft, 7 * sizeof(void*));
    EXPECT_EQ(attributes->cImplTypes, 1);
    vtable->ReleaseTypeAttr(attributes);
    const UniqueCom<ITypeInfo> base = Referenced(vtable.Get(), 0);
    ASSERT_TRUE(base);
    EXPECT_EQ(NameOf(base.Get()), L"IDispatch");
}

// One type of the library: kind, name, help string, identifier and flags.
struct TypeFacts
{
    TYPEKIND Kind;
    std::wstring Name;
    std::wstring HelpString;
    GUID Guid;
    WORD Flags;
};

TEST_F(DispatchTest, TheEmbeddedLibraryDescribesTheServer)
{
    UniqueCom<ITypeLib> library;
    ASSERT_EQ(::LoadTypeLib(ProgramPath.c_str(), library.Receive()), S_OK);
    UniqueBstr name;
    UniqueBstr help;
    UniqueBstr helpFile;
    ASSERT_EQ(
        library->GetDocumentation(-1, name.Receive(), help.Receive(), nullptr, helpFile.Receive()),
        S_OK);
    EXPECT_EQ(Text(name), L"ORLENWICKLib");
    EXPECT_EQ(Text(help), L"Orlenwick 1.0 Type Library");
    EXPECT_EQ(Text(helpFile), L"");
    TLIBATTR* libraryAttributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&libraryAttributes), S_OK);
    EXPECT_EQ(libraryAttributes->guid, LIBID_ORLENWICKLib);
    EXPECT_EQ(libraryAttributes->lcid, 0x409u);
    EXPECT_EQ(libraryAttributes->wMajorVerNum, 1);
    EXPECT_EQ(libraryAttributes->wMinorVerNum, 0);
    // The loader adds "has a disk image"; the library itself declares no flags.
    EXPECT_EQ(libraryAttributes->wLibFlags & ~LIBFLAG_FHASDISKIMAGE, 0);
    EXPECT_EQ(libraryAttributes->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
    library->ReleaseTLibAttr(libraryAttributes);

    // A dual interface is listed in its dispatch view; its vtable view is checked below.
    const WORD dual = TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE;
    const std::vector<TypeFacts> expected = {
        {TKIND_COCLASS, L"QuorvaneShlExt", L"QuorvaneShlExt Class", CLSID_QuorvaneShlExt,
         TYPEFLAG_FCANCREATE},
        {TKIND_DISPATCH, L"IQuorvaneShlExt", L"IQuorvaneShlExt Interface", IID_IQuorvaneShlExt,
         dual},
        {TKIND_COCLASS, L"ShredConfDlg", L"ShredConfDlg Class", CLSID_ShredConfDlg,
         TYPEFLAG_FCANCREATE},
        {TKIND_DISPATCH, L"IShredConfDlg", L"IShredConfDlg Interface", IID_IShredConfDlg, dual},
    };
    ASSERT_EQ(library->GetTypeInfoCount(), expected.size());
    for (UINT i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(library->GetDocumentation(static_cast<INT>(i), name.Receive(), help.Receive(),
                                            nullptr, nullptr),
                  S_OK);
        EXPECT_EQ(Text(name), expected[i].Name);
        EXPECT_EQ(Text(help), expected[i].HelpString);
        UniqueCom<ITypeInfo> info;
        ASSERT_EQ(library->GetTypeInfo(i, info.Receive()), S_OK);
        TYPEATTR* attributes = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
        EXPECT_EQ(attributes->typekind, expected[i].Kind);
        EXPECT_EQ(attributes->guid, expected[i].Guid);
        EXPECT_EQ(attributes->wTypeFlags, expected[i].Flags);
        EXPECT_EQ(attributes->wMajorVerNum, 0);
        EXPECT_EQ(attributes->wMinorVerNum, 0);
        EXPECT_EQ(attributes->cImplTypes, 1);

        // A class names its one interface as default; an interface derives from IDispatch.
        const UniqueCom<ITypeInfo> implemented = Referenced(info.Get(), 0);
        ASSERT_TRUE(implemented);
        if (expected[i].Kind == TKIND_COCLASS) {
            EXPECT_EQ(NameOf(implemented.Get()), expected[i + 1].Name);
            INT implFlags = 0;
            EXPECT_EQ(info->GetImplTypeFlags(0, &implFlags), S_OK);
            EXPECT_EQ(implFlags, IMPLTYPEFLAG_FDEFAULT);
        } else {
            EXPECT_EQ(NameOf(implemented.Get()), L"IDispatch");
            // IDispatch comes from the standard OLE library, version 2.0.
            UniqueCom<ITypeLib> standard;
            UINT index = 0;
            ASSERT_EQ(implemented->GetContainingTypeLib(standard.Receive(), &index), S_OK);
            TLIBATTR* standardAttributes = nullptr;
            ASSERT_EQ(standard->GetLibAttr(&standardAttributes), S_OK);
            EXPECT_EQ(standardAttributes->wMajorVerNum, 2);
            EXPECT_EQ(standardAttributes->wMinorVerNum, 0);
            standard->ReleaseTLibAttr(standardAttributes);
            EXPECT_EQ(NameOf(standard.Get()), L"stdole");
            ExpectNoMethodsOfItsOwn(info.Get());
        }
        info->ReleaseTypeAttr(attributes);
    }
}

// The loads the module makes of type libraries, recorded; the module's own file is made to fail
// as a file whose embedded library is damaged would, every other path loads for real.
#ifdef _WIN64
extern "C" decltype(&::LoadTypeLib) ImportedLoadTypeLib __asm__("__imp_LoadTypeLib");
#else
extern "C" decltype(&::LoadTypeLib) ImportedLoadTypeLib __asm__("__imp__LoadTypeLib@8");
#endif

constexpr HRESULT DamagedLibrary = TYPE_E_UNSUPFORMAT;

class TypeLibraryLoads
{
public:
    explicit TypeLibraryLoads(std::wstring damaged) : damaged(std::move(damaged))
    {
        current = this;
        original = ImportedLoadTypeLib;
        Patch(&Record);
    }
    ~TypeLibraryLoads()
    {
        Patch(original);
        current = nullptr;
    }
    TypeLibraryLoads(const TypeLibraryLoads&) = delete;
    TypeLibraryLoads& operator=(const TypeLibraryLoads&) = delete;

    std::vector<std::wstring> Paths;

private:
    static HRESULT WINAPI Record(LPCOLESTR file, ITypeLib** library)
    {
        current->Paths.push_back(file);
        if (current->damaged == file) {
            *library = nullptr;
            return DamagedLibrary;
        }
        return current->original(file, library);
    }

    static void Patch(decltype(&::LoadTypeLib) function)
    {
        DWORD protection = 0;
        ::VirtualProtect(&ImportedLoadTypeLib, sizeof ImportedLoadTypeLib, PAGE_READWRITE,
                         &protection);
        ImportedLoadTypeLib = function;
        ::VirtualProtect(&ImportedLoadTypeLib, sizeof ImportedLoadTypeLib, protection, &protection);
    }

    static TypeLibraryLoads* current;
    std::wstring damaged;
    decltype(&::LoadTypeLib) original;
};

TypeLibraryLoads* TypeLibraryLoads::current = nullptr;

class TypeLibraryRetryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (char c : Folder.Path())
            ASSERT_NE(c, '.') << "the test folder's path must have no dot: " << Folder.Path();
    }

    // Loads the library through a module at `modulePath` whose own file cannot give it; `attempts`
    // are the paths tried, in order.
    HRESULT LoadThrough(const std::string& modulePath, std::wstring& loadedFrom,
                        std::vector<std::wstring>& attempts)
    {
        ProgramCopy module(modulePath);
        if (!module.Instance())
            return E_UNEXPECTED;
        char named[MAX_PATH + 1] = {};
        ::GetModuleFileNameA(module.Instance(), named, MAX_PATH + 1);
        EXPECT_EQ(std::string(named), modulePath);
        TypeLibraryLoads loads(Widen(modulePath));
        UniqueCom<ITypeLib> library;
        const HRESULT hr = LoadOwnTypeLibrary(module.Instance(), library.Receive(), loadedFrom);
        attempts = loads.Paths;
        if (library) {
            EXPECT_EQ(NameOf(library.Get()), L"ORLENWICKLib");
        }
        return hr;
    }

    // A type library file: this program, whose TYPELIB resource LoadTypeLib reads.
    void PlaceLibrary(const std::string& path) { ASSERT_TRUE(CopyProgram(path)) << path; }

    // The load through `module` fails on the module's own file and is retried at `library`.
    void ExpectRetriedAt(const std::string& module, const std::string& library)
    {
        std::wstring loadedFrom;
        std::vector<std::wstring> attempts;
        EXPECT_EQ(LoadThrough(module, loadedFrom, attempts), S_OK);
        EXPECT_EQ(attempts, (std::vector<std::wstring>{Widen(module), Widen(library)}));
        EXPECT_EQ(loadedFrom, Widen(library));
    }

    TempFolder Folder;
};

TEST_F(TypeLibraryRetryTest, TheLibraryFileBesideTheModuleIsLoadedInstead)
{
    PlaceLibrary(Folder / "Orlenwick.tlb");
    ExpectRetriedAt(Folder / "Orlenwick.dll", Folder / "Orlenwick.tlb");
}

TEST_F(TypeLibraryRetryTest, TheTextFromTheLastDotOfTheWholePathIsReplaced)
{
    MakeFolder(Folder / "lib.d");
    PlaceLibrary(Folder / "lib.tlb");
    ExpectRetriedAt(Folder / "lib.d\\Orlenwick", Folder / "lib.tlb");
}

// A path without a dot gets ".tlb" added at its end; near the limit that no longer fits the
// 260-character path buffer, and the retry must not be made.
TEST_F(TypeLibraryRetryTest, ARetriedNameThatWouldNotFitIsNeverMade)
{
    MakeFolder(Folder / "near");
    const std::string folder = Folder / "near";
    for (size_t length : {255u, 256u, 259u}) {
        SCOPED_TRACE(length);
        const std::string module = folder + "\\" + std::string(length - folder.size() - 1, 'q');
        ASSERT_EQ(module.size(), length);
        PlaceLibrary(module + ".tlb");
        if (length + 4 < MAX_PATH) {
            ExpectRetriedAt(module, module + ".tlb");
        } else {
            std::wstring loadedFrom = L"unchanged";
            std::vector<std::wstring> attempts;
            EXPECT_EQ(LoadThrough(module, loadedFrom, attempts), DamagedLibrary);
            EXPECT_EQ(attempts, std::vector<std::wstring>{Widen(module)});
            EXPECT_EQ(loadedFrom, L"unchanged");
        }
        ::DeleteFileW(LongPath(module + ".tlb").c_str());
        ::DeleteFileA(module.c_str());
    }
}

} // namespace
