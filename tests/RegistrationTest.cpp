// The built DLL registered and removed as an installer does it (regsvr32 in the prefix, or the
// exports called directly): every key it writes under HKEY_CLASSES_ROOT, the module path, the
// type library, both classes on the list of approved shell extensions, registering over stale keys,
// removal that spares the shell's own keys, its approved list and foreign subkeys, a failing
// script's roll-back, and the module's version resource.
#include "ProgramRunner.h"
#include "RegistryKeys.h"
#include "ServerRegistration.h"
#include "ShellKeys.h"
#include "TestFiles.h"
#include "common/TextConversion.h"
#include "shellext/Guids.h"
#include "tools/RegistryTree.h"

#include "resources/resource.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <shlobj.h>

#include <algorithm>
#include <utility>
#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

const std::wstring TypeLibKey = L"TypeLib\\" + ServerLibraryId + L"\\1.0";

// A key below HKEY_CLASSES_ROOT and everything below it; empty when the key is missing.
RegistryTree Snapshot(const std::wstring& path)
{
    return ReadRegistryTree(HKEY_CLASSES_ROOT, path, 0);
}

// The names of the snapshot's top key's subkeys, sorted.
Names Subkeys(const RegistryTree& tree)
{
    Names names;
    for (const auto& [path, values] : tree)
        if (!path.empty() && path.find(L'\\') == std::wstring::npos)
            names.push_back(NarrowWithSubstitutes(path));
    std::sort(names.begin(), names.end());
    return names;
}

bool KeyExists(const std::wstring& path)
{
    return KeyExists(HKEY_CLASSES_ROOT, path);
}

// The approved shell extensions by class, in the view of this (64-bit) process.
RegistryValues ApprovedExtensions()
{
    return TopValues(ReadRegistryTree(HKEY_LOCAL_MACHINE, Widen(ApprovedExtensionsKey), 0));
}

// Another extension on the approved list for as long as this lives.
class ForeignApproval
{
public:
    static constexpr char ClassId[] = "{0F0F0F0F-1111-2222-3333-444455556666}";
    static constexpr char Name[] = "Orlenwick Test Foreign Extension";

    ForeignApproval()
    {
        const UniqueRegistryKey list = CreateKey(HKEY_LOCAL_MACHINE, ApprovedExtensionsKey);
        EXPECT_TRUE(list);
        EXPECT_EQ(ERROR_SUCCESS, SetString(list.Get(), ClassId, Name));
    }
    ~ForeignApproval()
    {
        const UniqueRegistryKey list =
            OpenKey(HKEY_LOCAL_MACHINE, ApprovedExtensionsKey, KEY_SET_VALUE);
        if (list)
            ::RegDeleteValueA(list.Get(), ClassId);
    }
    ForeignApproval(const ForeignApproval&) = delete;
    ForeignApproval& operator=(const ForeignApproval&) = delete;
};

void CreateKeyWithValue(const std::wstring& path, const char* name, const std::string& value)
{
    const UniqueRegistryKey key = CreateKey(HKEY_CLASSES_ROOT, path);
    ASSERT_TRUE(key) << NarrowWithSubstitutes(path);
    SetString(key.Get(), name, value);
}

// The path the loaded module reports, which is what the registration must write.
std::string ModuleFileName(const std::string& dll)
{
    const UniqueModule module(::LoadLibraryA(dll.c_str()));
    if (!module)
        return "<cannot load " + dll + ">";
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(module.Get(), path, MAX_PATH);
    return path;
}

// Exactly the table, each key with everything below it; the type library; both classes approved.
void ExpectRegistered(const std::string& modulePath)
{
    ExpectRegistrationTable(HKEY_CLASSES_ROOT, L"", 0, Widen(modulePath));
    EXPECT_TRUE(KeyExists(TypeLibKey));
    const RegistryValues approved = ApprovedExtensions();
    for (const std::wstring& classId : {ServerClassId, DriveClassId}) {
        const auto value = approved.find(classId);
        ASSERT_NE(approved.end(), value) << "not approved: " << NarrowWithSubstitutes(classId);
        EXPECT_EQ(RegistryString(ApprovalName), value->second);
    }
}

// None of the table's keys but `kept`, and no type library.
void ExpectRegistrationGone(const std::wstring& kept = L"")
{
    for (const std::wstring& key : RegistrationKeys())
        EXPECT_TRUE(key == kept || !KeyExists(key)) << NarrowWithSubstitutes(key);
    EXPECT_FALSE(KeyExists(TypeLibKey));
}

void ExpectNothingOfTheServerLeft()
{
    ExpectRegistrationGone();
    EXPECT_EQ(0u, ApprovedExtensions().count(ServerClassId));
    EXPECT_EQ(0u, ApprovedExtensions().count(DriveClassId));
    // The approved list is the shell's, shared by every extension: it stays.
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, ApprovedExtensionsKey));
}

class RegistrationTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ShellKeysBefore = ShellKeysSnapshot::Take();
        Folder = new TempFolder;
        ASSERT_TRUE(CopyFromBuild(ORLENWICK_DLL_PATH, Dll())) << ORLENWICK_DLL_PATH;
    }

    // Leaves the shell keys as they were found: what the registrations created and left
    // behind empty is removed again.
    static void TearDownTestSuite()
    {
        Regsvr32("/u /s", Dll());
        ShellKeysBefore.Restore();
        delete Folder;
        Folder = nullptr;
    }

    void SetUp() override { ASSERT_EQ(0u, Regsvr32("/u /s", Dll())); }
    void TearDown() override { EXPECT_EQ(0u, Regsvr32("/u /s", Dll())); }

    static std::string Dll() { return *Folder / "Orlenwick.dll"; }

    // A copy of the DLL in a subfolder of the test's own.
    static std::string CopyInto(const std::string& folderName)
    {
        const std::string folder = *Folder / folderName;
        ::CreateDirectoryA(folder.c_str(), nullptr);
        const std::string copy = folder + "\\Orlenwick.dll";
        EXPECT_TRUE(::CopyFileA(Dll().c_str(), copy.c_str(), FALSE)) << copy;
        return copy;
    }

    static TempFolder* Folder;
    static ShellKeysSnapshot ShellKeysBefore;
};

TempFolder* RegistrationTest::Folder = nullptr;
ShellKeysSnapshot RegistrationTest::ShellKeysBefore;

TEST_F(RegistrationTest, Regsvr32WritesEveryKeyWithTheModulePath)
{
    ASSERT_FALSE(KeyExists(TypeLibKey));
    ASSERT_EQ(0u, Regsvr32("/s", Dll()));

    ExpectRegistered(ModuleFileName(Dll()));
}

TEST_F(RegistrationTest, ModulePathWithAnApostropheIsWrittenAsTheModuleReportsIt)
{
    const std::string copy = CopyInto("Quorvane's Shredding Tools");
    const std::string modulePath = ModuleFileName(copy);
    ASSERT_NE(std::string::npos, modulePath.find("Quorvane's Shredding Tools\\Orlenwick.dll"))
        << modulePath;

    ASSERT_EQ(0u, Regsvr32("/s", copy));

    ExpectRegistered(modulePath);
    EXPECT_EQ(0u, Regsvr32("/u /s", copy));
    ExpectNothingOfTheServerLeft();
}

TEST_F(RegistrationTest, RegisteringOverStaleKeysLeavesOneCleanSet)
{
    // A handler key and a class key left behind by someone else, with values and subkeys
    // the registration does not write.
    for (const auto& [container, handlerClass] : Handlers) {
        const std::wstring handler = container + L"\\" + HandlerName;
        CreateKeyWithValue(handler, nullptr, "{00000000-0000-0000-0000-000000000000}");
        CreateKeyWithValue(handler, "Foreign", "stale");
        CreateKeyWithValue(handler + L"\\Leftover", "Foreign", "stale");
    }
    CreateKeyWithValue(ServerClassKey + L"\\Leftover", nullptr, "stale");
    CreateKeyWithValue(ServerClassKey + L"\\InprocServer32", "Foreign", "stale");
    {
        const UniqueRegistryKey list = CreateKey(HKEY_LOCAL_MACHINE, ApprovedExtensionsKey);
        ASSERT_TRUE(list);
        SetString(list.Get(), NarrowWithSubstitutes(ServerClassId).c_str(), "stale");
    }
    const std::string modulePath = ModuleFileName(Dll());

    ASSERT_EQ(0u, Regsvr32("/s", Dll()));
    ExpectRegistered(modulePath);

    ASSERT_EQ(0u, Regsvr32("/s", Dll()));
    ExpectRegistered(modulePath);
}

TEST_F(RegistrationTest, RemovalDeletesTheServersKeysAndKeepsTheShells)
{
    std::vector<Names> containersBefore;
    for (const auto& [container, handlerClass] : Handlers)
        containersBefore.push_back(Subkeys(Snapshot(container)));
    const RegistryTree binBefore = Snapshot(Widen(RecycleBinKey));
    const Names binSubkeysBefore = Subkeys(binBefore);

    ASSERT_EQ(0u, Regsvr32("/s", Dll()));
    int onlyChild = 0;
    for (const auto& [container, handlerClass] : Handlers)
        onlyChild += Subkeys(Snapshot(container)) == Names{NarrowWithSubstitutes(HandlerName)};
    ASSERT_EQ(0u, Regsvr32("/u /s", Dll()));

    ExpectNothingOfTheServerLeft();
    for (size_t i = 0; i < Handlers.size(); ++i) {
        SCOPED_TRACE(NarrowWithSubstitutes(Handlers[i].first));
        const RegistryTree container = Snapshot(Handlers[i].first);
        ASSERT_FALSE(container.empty());
        EXPECT_EQ(containersBefore[i], Subkeys(container));
    }
    for (const std::string root :
         {"*", "AllFileSystemObjects", "Directory", "Drive", RecycleBinKey})
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, root + "\\shellex")) << root;
    // The Recycle Bin's own class stays as the system registered it.
    const RegistryTree binAfter = Snapshot(Widen(RecycleBinKey));
    EXPECT_EQ(TopValues(binBefore), TopValues(binAfter));
    const Names binSubkeys = Subkeys(binAfter);
    for (const std::string& name : binSubkeysBefore)
        EXPECT_NE(binSubkeys.end(), std::find(binSubkeys.begin(), binSubkeys.end(), name)) << name;
    // The case that matters: a container whose only subkey was the handler is kept too.
    EXPECT_GT(onlyChild, 0) << "no handler container held the handler alone";
}

TEST_F(RegistrationTest, RemovalTakesTheClassOffTheApprovedListAndKeepsTheList)
{
    {
        // Another extension approved beside this one stays approved.
        const ForeignApproval foreign;
        const RegistryValues before = ApprovedExtensions();
        ASSERT_EQ(1u, before.count(Widen(ForeignApproval::ClassId)));

        ASSERT_EQ(0u, Regsvr32("/s", Dll()));
        RegistryValues expected = before;
        expected[ServerClassId] = RegistryString(ApprovalName);
        expected[DriveClassId] = RegistryString(ApprovalName);
        EXPECT_EQ(expected, ApprovedExtensions());

        ASSERT_EQ(0u, Regsvr32("/u /s", Dll()));
        EXPECT_EQ(before, ApprovedExtensions());
    }

    // The case that matters: a list whose only value was this class's is kept too.
    ASSERT_EQ(0u, Regsvr32("/s", Dll()));
    const bool onlyValue =
        ApprovedExtensions() == RegistryValues{{ServerClassId, RegistryString(ApprovalName)},
                                               {DriveClassId, RegistryString(ApprovalName)}};
    ASSERT_EQ(0u, Regsvr32("/u /s", Dll()));
    ExpectNothingOfTheServerLeft();
    EXPECT_TRUE(onlyValue) << "the prefix approves other extensions: the last values were not "
                              "the classes'";
}

TEST_F(RegistrationTest, ForeignSubkeyKeepsTheClassKeyAfterRemoval)
{
    ASSERT_EQ(0u, Regsvr32("/s", Dll()));
    CreateKeyWithValue(ServerClassKey + L"\\Foreign", "Owner", "another installer");

    ASSERT_EQ(0u, Regsvr32("/u /s", Dll()));

    const RegistryTree classKey = Snapshot(ServerClassKey);
    EXPECT_FALSE(classKey.empty());
    EXPECT_EQ(Names{"Foreign"}, Subkeys(classKey));
    EXPECT_EQ((RegistryValues{{L"Owner", RegistryString(L"another installer")}}),
              TopValues(Snapshot(ServerClassKey + L"\\Foreign")));
    ExpectRegistrationGone(ServerClassKey);

    EXPECT_EQ(ERROR_SUCCESS, ::RegDeleteTreeW(HKEY_CLASSES_ROOT, ServerClassKey.c_str()));
}

TEST_F(RegistrationTest, UnregisteringSucceedsWhateverIsRegistered)
{
    ASSERT_FALSE(KeyExists(ServerClassKey));
    EXPECT_EQ(0u, Regsvr32("/u /s", Dll()));
    {
        const LoadedServer server(Dll());
        ASSERT_TRUE(server.IsLoaded());
        EXPECT_EQ(S_OK, server.Call("DllUnregisterServer"));
    }

    ASSERT_EQ(0u, Regsvr32("/s", Dll()));
    EXPECT_EQ(0u, Regsvr32("/u /s", Dll()));
    ExpectNothingOfTheServerLeft();
    EXPECT_EQ(0u, Regsvr32("/u /s", Dll()));
    ExpectNothingOfTheServerLeft();
}

// A script that creates a ProgID and the class key, then fails inside the class key on a
// value of a kind the language does not have.
std::string BrokenScript()
{
    const std::string classId = NarrowWithSubstitutes(ServerClassId);
    const std::string className = " = s 'QuorvaneShlExt Class'\r\n";
    return "HKCR\r\n{\r\n\t" + NarrowWithSubstitutes(ServerProgId) + className +
           "\t{\r\n\t\tCLSID = s '" + classId + "'\r\n\t}\r\n\tNoRemove CLSID\r\n\t{\r\n" +
           "\t\tForceRemove " + classId + className + "\t\t{\r\n" +
           "\t\t\tInprocServer32 = s '%MODULE%'\r\n\t\t\t{\r\n" +
           "\t\t\t\tval ThreadingModel = x 'Apartment'\r\n\t\t\t}\r\n\t\t}\r\n\t}\r\n}\r\n";
}

std::string ResourceText(const std::string& dll, const char* type, UINT id)
{
    const UniqueModule module(::LoadLibraryExA(dll.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    std::string text;
    if (HRSRC found =
            module ? ::FindResourceA(module.Get(), MAKEINTRESOURCEA(id), type) : nullptr) {
        const auto* data =
            static_cast<const char*>(::LockResource(::LoadResource(module.Get(), found)));
        text.assign(data, ::SizeofResource(module.Get(), found));
    }
    return text;
}

TEST_F(RegistrationTest, FailingScriptReturnsItsErrorAndRegistersNoTypeLibrary)
{
    const std::string copy = CopyInto("broken");
    const std::string script = BrokenScript();
    UniqueResourceUpdate update(::BeginUpdateResourceA(copy.c_str(), FALSE));
    ASSERT_TRUE(update);
    ASSERT_TRUE(::UpdateResourceA(update.Get(), "REGISTRY", MAKEINTRESOURCEA(IDR_REGISTRY),
                                  MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                  const_cast<char*>(script.data()),
                                  static_cast<DWORD>(script.size())));
    ASSERT_TRUE(::EndUpdateResourceA(update.Release(), FALSE));
    ASSERT_EQ(script, ResourceText(copy, "REGISTRY", IDR_REGISTRY));
    ASSERT_FALSE(ResourceText(copy, "TYPELIB", 1).empty());
    ASSERT_FALSE(KeyExists(TypeLibKey));

    {
        const LoadedServer server(copy);
        ASSERT_TRUE(server.IsLoaded());
        EXPECT_EQ(DISP_E_EXCEPTION, server.Call("DllRegisterServer"));
    }

    EXPECT_FALSE(KeyExists(TypeLibKey));
    // The roll-back removed what the failing block had created.
    EXPECT_FALSE(KeyExists(ServerClassKey));
    EXPECT_FALSE(KeyExists(ServerProgId));
}

// The version resource through the system's own reader.
class VersionInfo
{
public:
    explicit VersionInfo(const std::string& file)
    {
        DWORD ignored = 0;
        block.resize(::GetFileVersionInfoSizeA(file.c_str(), &ignored));
        if (block.empty() ||
            !::GetFileVersionInfoA(file.c_str(), 0, static_cast<DWORD>(block.size()), block.data()))
            block.clear();
    }
    bool IsRead() const { return !block.empty(); }

    // False when the entry is absent.
    bool Query(const std::string& path, const void** data, UINT* length)
    {
        return IsRead() &&
               ::VerQueryValueA(block.data(), path.c_str(), const_cast<void**>(data), length);
    }

    bool Text(const std::string& name, std::string& text)
    {
        const void* data = nullptr;
        UINT length = 0;
        if (!Query("\\StringFileInfo\\040904B0\\" + name, &data, &length))
            return false;
        text = length ? static_cast<const char*>(data) : "";
        return true;
    }

private:
    std::vector<BYTE> block;
};

TEST_F(RegistrationTest, VersionResourceAnnouncesSelfRegistration)
{
    VersionInfo version(Dll());
    ASSERT_TRUE(version.IsRead());

    const void* data = nullptr;
    UINT length = 0;
    ASSERT_TRUE(version.Query("\\", &data, &length));
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(data);
    EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
    EXPECT_EQ(0x00010000u, fixed->dwFileVersionMS);
    EXPECT_EQ(0x00000001u, fixed->dwFileVersionLS);
    EXPECT_EQ(0x00010000u, fixed->dwProductVersionMS);
    EXPECT_EQ(0x00000001u, fixed->dwProductVersionLS);
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);
    EXPECT_EQ(static_cast<DWORD>(VOS__WINDOWS32), fixed->dwFileOS);

    ASSERT_TRUE(version.Query("\\VarFileInfo\\Translation", &data, &length));
    ASSERT_EQ(4u, length);
    EXPECT_EQ(0x0409, static_cast<const WORD*>(data)[0]);
    EXPECT_EQ(1200, static_cast<const WORD*>(data)[1]);

    const std::pair<const char*, const char*> expected[] = {{"FileDescription", "Orlenwick Module"},
                                                            {"FileVersion", "1, 12"},
                                                            {"ProductVersion", "1, 12"},
                                                            {"OriginalFilename", "Orlenwick.DLL"},
                                                            {"OLESelfRegister", ""}};
    for (const auto& [name, value] : expected) {
        std::string text = "<absent>";
        EXPECT_TRUE(version.Text(name, text)) << name;
        EXPECT_EQ(value, text) << name;
    }

    const UniqueModule module(::LoadLibraryExA(Dll().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(module);
    char text[64] = {};
    EXPECT_EQ(9, ::LoadStringA(module.Get(), 100, text, sizeof text));
    EXPECT_STREQ("Orlenwick", text);
}

TEST_F(RegistrationTest, LoadedServerWithNothingAliveMayUnload)
{
    const LoadedServer server(Dll());
    ASSERT_TRUE(server.IsLoaded());
    EXPECT_EQ(S_OK, server.Call("DllCanUnloadNow"));

    // Each class's factory, while held, and each object it makes, while alive, keep the server.
    for (const CLSID* classId : {&CLSID_QuorvaneShlExt, &CLSID_DriveWipeShlExt}) {
        IClassFactory* factory = nullptr;
        ASSERT_EQ(S_OK, server.GetClassObject(*classId, __uuidof(IClassFactory),
                                              reinterpret_cast<void**>(&factory)));
        EXPECT_EQ(S_FALSE, server.Call("DllCanUnloadNow"));
        IContextMenu* menu = nullptr;
        EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IContextMenu,
                                                reinterpret_cast<void**>(&menu)));
        factory->Release();
        EXPECT_EQ(S_FALSE, server.Call("DllCanUnloadNow"));
        if (menu)
            menu->Release();
        EXPECT_EQ(S_OK, server.Call("DllCanUnloadNow"));
    }
}

} // namespace
