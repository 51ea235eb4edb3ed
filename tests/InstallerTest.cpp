// The installer package as an administrator deploys it, with the prefix's own msiexec, unattended
// and never restarting: installed per machine (each DLL, as the package carries it, in its
// Program Files folder, its registration in its registry view, exactly the registration table
// plus the type library's keys and both classes on the approved list, the same as the DLL's own
// self-registration), shown in Programs and Features with its icon, links and comments, the
// class created from its ProgID and shredding through the shell road, repaired, upgraded by the
// next version (which a downgrade cannot replace), and removed without a trace but the shared
// shell keys, the approved list and the user's settings.
#include "ProgramRunner.h"
#include "RegistryKeys.h"
#include "ServerRegistration.h"
#include "ShellKeys.h"
#include "TestFiles.h"
#include "common/TextConversion.h"
#include "shellext/Guids.h"
#include "tools/FileVersion.h"
#include "tools/RegistryTree.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <msi.h>
#include <shlobj.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

constexpr char UpgradeCode[] = "{3F0B9C2E-6D41-4A7B-9E25-81C4D7A3B660}"; // the package template's
constexpr wchar_t ClassesKey[] = L"Software\\Classes";
constexpr wchar_t SettingsKey[] = L"Software\\Quorvane\\Brindaloe\\Settings";
constexpr wchar_t ForeignHandler[] = L"OrlenwickTestForeignHandler";
constexpr wchar_t ForeignClassId[] = L"{0F0F0F0F-1111-2222-3333-444455556666}";
constexpr wchar_t ShellExtensionsKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions";
constexpr wchar_t UninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr REGSAM View64 = KEY_WOW64_64KEY;
constexpr REGSAM View32 = KEY_WOW64_32KEY;
constexpr DWORD MsiexecTimeoutMs = 120000;

const std::wstring ClassesPrefix = std::wstring(ClassesKey) + L"\\";
const std::wstring TypeLibKey = L"TypeLib\\" + ServerLibraryId;
const std::wstring ApprovedKey = Widen(ApprovedExtensionsKey);

// Every key the package owns below Software\Classes, in each view.
std::vector<std::wstring> PackageKeys()
{
    std::vector<std::wstring> keys = RegistrationKeys();
    for (const std::wstring& key : {TypeLibKey, L"Interface\\" + RegistryForm(IID_IQuorvaneShlExt),
                                    L"Interface\\" + RegistryForm(IID_IShredConfDlg)})
        keys.push_back(key);
    return keys;
}

RegistryTree ClassesTree(const std::wstring& path, REGSAM view)
{
    return ReadRegistryTree(HKEY_LOCAL_MACHINE, ClassesPrefix + path, view);
}

bool ClassesKeyExists(const std::wstring& path, REGSAM view)
{
    return KeyExists(HKEY_LOCAL_MACHINE, ClassesPrefix + path, view);
}

// The values of the key itself, none when it does not exist.
RegistryValues KeyValues(HKEY root, const std::wstring& path, REGSAM view)
{
    return TopValues(ReadRegistryTree(root, path, view));
}

// The approved shell extensions in one view, by class.
RegistryValues ApprovedExtensions(REGSAM view)
{
    return KeyValues(HKEY_LOCAL_MACHINE, ApprovedKey, view);
}

// The part of `tree` below `path`, with paths relative to it.
RegistryTree Subtree(const RegistryTree& tree, const std::wstring& path)
{
    RegistryTree part;
    for (const auto& [key, values] : tree) {
        if (_wcsicmp(key.c_str(), path.c_str()) == 0)
            part[L""] = values;
        else if (key.size() > path.size() && key[path.size()] == L'\\' &&
                 _wcsnicmp(key.c_str(), path.c_str(), path.size()) == 0)
            part[key.substr(path.size() + 1)] = values;
    }
    return part;
}

std::string KnownFolder(int csidl)
{
    char path[MAX_PATH] = {};
    ::SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

const std::string Folder64 = KnownFolder(CSIDL_PROGRAM_FILES) + "\\Orlenwick";
const std::string Folder32 = KnownFolder(CSIDL_PROGRAM_FILESX86) + "\\Orlenwick";
const std::string Dll64 = Folder64 + "\\Orlenwick.dll";
const std::string Dll32 = Folder32 + "\\Orlenwick.dll";

// "a.b.c.d" of the file's fixed version information, or "".
std::string FileVersion(const std::string& file)
{
    std::string fileVersion;
    std::string productVersion;
    if (!ReadFileVersion(Widen(file), fileVersion, productVersion))
        return "";
    EXPECT_EQ(fileVersion, productVersion) << file;
    return fileVersion;
}

// The machine type in the file's PE header, or 0.
WORD MachineOf(const std::string& file)
{
    const std::vector<unsigned char> bytes = ReadBytes(file);
    if (bytes.size() < 0x40)
        return 0;
    DWORD header = 0;
    memcpy(&header, &bytes[0x3C], sizeof header);
    if (bytes.size() < header + 6 || memcmp(&bytes[header], "PE\0\0", 4) != 0)
        return 0;
    WORD machine = 0;
    memcpy(&machine, &bytes[header + 4], sizeof machine);
    return machine;
}

// The product codes installed from this package's upgrade code.
std::vector<std::wstring> InstalledProducts()
{
    std::vector<std::wstring> products;
    wchar_t product[39];
    for (DWORD i = 0;
         ::MsiEnumRelatedProductsW(Widen(UpgradeCode).c_str(), 0, i, product) == ERROR_SUCCESS; ++i)
        products.push_back(product);
    return products;
}

// What the installer tells about an installed product, "" when it tells nothing.
std::wstring ProductInfo(const std::wstring& product, const wchar_t* property)
{
    wchar_t text[1024] = {};
    DWORD length = 1024;
    if (::MsiGetProductInfoW(product.c_str(), property, text, &length) != ERROR_SUCCESS)
        return L"";
    return text;
}

// The versions of the installed products of this package's upgrade code.
std::vector<std::string> InstalledVersions()
{
    std::vector<std::string> versions;
    for (const std::wstring& product : InstalledProducts())
        versions.push_back(NarrowWithSubstitutes(ProductInfo(product, L"VersionString")));
    return versions;
}

// Unattended, as a deployment runs it: no dialog, and never a restart of the machine.
DWORD Msiexec(const std::string& action, const std::string& package,
              const std::string& properties = "")
{
    return RunSystemProgram("msiexec.exe",
                            action + " " + Quoted(package) + " " + properties + " /qn /norestart",
                            MsiexecTimeoutMs)
        .ExitCode;
}

// A foreign handler in each shared handler key and a foreign extension on the approved list, in
// both views, as every real system has them: removal must leave them and the keys that hold
// them. The approved list is put back as it was, with this class's value if it had one.
class ForeignEntries
{
public:
    ForeignEntries()
        : approvedBefore({{HKEY_LOCAL_MACHINE, ShellExtensionsKey, View64},
                          {HKEY_LOCAL_MACHINE, ShellExtensionsKey, View32}})
    {
        for (REGSAM view : {View64, View32}) {
            shellKeys.push_back(ShellKeysSnapshot::Take(view));
            for (const auto& [container, handlerClass] : Handlers)
                WriteRegistryTree(HKEY_LOCAL_MACHINE, Path(container), Handler(), view);
            RegistryTree approved = ReadRegistryTree(HKEY_LOCAL_MACHINE, ApprovedKey, view);
            approved[L""].erase(ServerClassId);
            approved[L""].erase(DriveClassId);
            approved[L""][ForeignClassId] = RegistryString(L"Orlenwick Test Foreign Extension");
            DeleteRegistryTree(HKEY_LOCAL_MACHINE, ApprovedKey, view);
            WriteRegistryTree(HKEY_LOCAL_MACHINE, ApprovedKey, approved, view);
            approvedLists[view] = approved[L""];
        }
    }
    ~ForeignEntries()
    {
        for (REGSAM view : {View64, View32}) {
            for (const auto& [container, handlerClass] : Handlers)
                DeleteRegistryTree(HKEY_LOCAL_MACHINE, Path(container), view);
        }
        approvedBefore.Restore();
        for (const ShellKeysSnapshot& snapshot : shellKeys)
            snapshot.Restore();
    }
    ForeignEntries(const ForeignEntries&) = delete;
    ForeignEntries& operator=(const ForeignEntries&) = delete;

    static std::wstring Path(const std::wstring& container)
    {
        return ClassesPrefix + container + L"\\" + ForeignHandler;
    }
    static RegistryTree Handler() { return {{L"", {{L"", RegistryString(ForeignClassId)}}}}; }
    // The approved list of one view as the test found it, with the foreign extension and
    // without this class.
    const RegistryValues& ApprovedList(REGSAM view) const { return approvedLists.at(view); }

private:
    RegistrySnapshot approvedBefore;
    std::vector<ShellKeysSnapshot> shellKeys;
    std::map<REGSAM, RegistryValues> approvedLists;
};

std::vector<RegistryPlace> PlacesTheTestChanges()
{
    std::vector<RegistryPlace> places;
    for (REGSAM view : {View64, View32}) {
        for (const std::wstring& key : PackageKeys())
            places.push_back({HKEY_LOCAL_MACHINE, ClassesPrefix + key, view});
    }
    // The settings key and the vendor key above it, which a saved setting creates.
    places.push_back({HKEY_CURRENT_USER, L"Software\\Quorvane", 0});
    return places;
}

class InstallerTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        Packages = new TempFolder;
        ASSERT_TRUE(CopyFromBuild(ORLENWICK_PACKAGE, Current())) << ORLENWICK_PACKAGE;
        ASSERT_TRUE(CopyFromBuild(ORLENWICK_NEXT_PACKAGE, Next())) << ORLENWICK_NEXT_PACKAGE;
        // A registration left in the prefix (the main job's regsvr32, say) is set aside for the
        // test and put back after it, with the user's settings.
        Before = new RegistrySnapshot(PlacesTheTestChanges());
        for (const RegistryPlace& place : PlacesTheTestChanges())
            DeleteRegistryTree(place.Root, place.Path, place.View);
        Foreign = new ForeignEntries;
    }

    static void TearDownTestSuite()
    {
        delete Foreign;
        Foreign = nullptr;
        if (Before)
            Before->Restore();
        delete Before;
        Before = nullptr;
        delete Packages;
        Packages = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(InstalledVersions().empty())
            << "the package is installed in the prefix already: uninstall it first";
        ASSERT_FALSE(Exists(Folder64));
        ASSERT_FALSE(Exists(Folder32));
    }

    // Whatever a test leaves installed is removed after it.
    void TearDown() override
    {
        if (!InstalledVersions().empty())
            Msiexec("/x",
                    InstalledVersions().front() == ORLENWICK_NEXT_VERSION ? Next() : Current());
    }

    // One installation of `version`: one DLL of that version in each folder.
    static void ExpectInstalled(const std::string& version)
    {
        EXPECT_EQ(Names{version}, InstalledVersions());
        for (const auto& [folder, dll] : {std::pair{Folder64, Dll64}, std::pair{Folder32, Dll32}}) {
            EXPECT_EQ(Names{"Orlenwick.dll"}, ListFolder(folder));
            EXPECT_EQ(version, FileVersion(dll));
        }
    }

    static std::string Current() { return *Packages / "Orlenwick-" ORLENWICK_VERSION ".msi"; }
    static std::string Next() { return *Packages / "Orlenwick-" ORLENWICK_NEXT_VERSION ".msi"; }

    // The registration table in both views, each pointing at its own installed DLL, and the
    // class approved in each beside the foreign extension.
    static void ExpectRegistrationTableInBothViews()
    {
        for (const auto& [view, dll] : {std::pair{View64, Dll64}, std::pair{View32, Dll32}}) {
            SCOPED_TRACE(view == View64 ? "64-bit view" : "32-bit view");
            ExpectRegistrationTable(HKEY_LOCAL_MACHINE, ClassesPrefix, view, Widen(dll));
            RegistryValues approved = Foreign->ApprovedList(view);
            approved[ServerClassId] = RegistryString(ApprovalName);
            approved[DriveClassId] = RegistryString(ApprovalName);
            EXPECT_EQ(approved, ApprovedExtensions(view));
        }
    }

    // Nothing of the package in either view's classes or approved list; the shared keys, the
    // foreign entries and the approved list itself are as the test found them.
    static void ExpectNothingOfThePackageInTheRegistry()
    {
        for (REGSAM view : {View64, View32}) {
            SCOPED_TRACE(view == View64 ? "64-bit view" : "32-bit view");
            for (const std::wstring& key : PackageKeys())
                EXPECT_FALSE(ClassesKeyExists(key, view)) << NarrowWithSubstitutes(key);
            EXPECT_TRUE(ClassesKeyExists(L"CLSID", view));
            for (const std::string& shared : ShellHandlerParentKeys())
                EXPECT_TRUE(ClassesKeyExists(Widen(shared), view)) << shared;
            for (const auto& [container, handlerClass] : Handlers)
                EXPECT_EQ(
                    ForeignEntries::Handler(),
                    ReadRegistryTree(HKEY_LOCAL_MACHINE, ForeignEntries::Path(container), view))
                    << NarrowWithSubstitutes(container);
            EXPECT_EQ(Foreign->ApprovedList(view), ApprovedExtensions(view));
        }
    }

    static TempFolder* Packages;
    static RegistrySnapshot* Before;
    static ForeignEntries* Foreign;
};

TempFolder* InstallerTest::Packages = nullptr;
RegistrySnapshot* InstallerTest::Before = nullptr;
ForeignEntries* InstallerTest::Foreign = nullptr;

TEST_F(InstallerTest, InstallPutsEachDllInItsFolderAndItsRegistrationInItsView)
{
    ASSERT_EQ(0u, Msiexec("/i", Current()));

    ExpectInstalled(ORLENWICK_VERSION);
    // Exactly the files the package carries (signed when it was built with a certificate).
    EXPECT_EQ(ReadBytes(FromUnixPath(ORLENWICK_PACKAGED_DLL64)), ReadBytes(Dll64));
    EXPECT_EQ(ReadBytes(FromUnixPath(ORLENWICK_PACKAGED_DLL32)), ReadBytes(Dll32));
    EXPECT_EQ(IMAGE_FILE_MACHINE_AMD64, MachineOf(Dll64));
    EXPECT_EQ(IMAGE_FILE_MACHINE_I386, MachineOf(Dll32));

    ExpectRegistrationTableInBothViews();

    // The type library is one key for both views, with each bitness' module under its platform.
    const RegistryTree typeLibrary = ClassesTree(TypeLibKey, View64);
    EXPECT_EQ(typeLibrary, ClassesTree(TypeLibKey, View32));
    const RegistryTree version = Subtree(typeLibrary, L"1.0");
    EXPECT_EQ(RegistryString(L"Orlenwick 1.0 Type Library"), version.at(L"").at(L""));
    EXPECT_EQ(RegistryString(Widen(Dll64)), version.at(L"409\\win64").at(L""));
    EXPECT_EQ(RegistryString(Widen(Dll32)), version.at(L"409\\win32").at(L""));
    // The interfaces are kept apart by view, with the same content in each.
    for (const GUID* iid : {&IID_IQuorvaneShlExt, &IID_IShredConfDlg}) {
        const std::wstring key = L"Interface\\" + RegistryForm(*iid);
        const RegistryTree interface64 = ClassesTree(key, View64);
        EXPECT_EQ(RegistryString(ServerLibraryId), interface64.at(L"TypeLib").at(L""));
        EXPECT_EQ(interface64, ClassesTree(key, View32)) << Describe(interface64);
    }
}

TEST_F(InstallerTest, PackageRegistrationIsTheDllsOwnSelfRegistration)
{
    ASSERT_EQ(0u, Msiexec("/i", Current()));

    // The installed 64-bit DLL registers itself into scratch keys standing in for
    // HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE; what it writes there is what the package wrote,
    // key for key.
    const std::wstring scratchParent = L"Software\\Orlenwick Installer Test";
    const std::wstring scratchPath =
        scratchParent + L"\\" + std::to_wstring(::GetCurrentProcessId());
    RegistryTree selfRegistration;
    RegistryTree machineSelfRegistration;
    {
        // The type library's interfaces also go to the 32-bit view, which is not redirected.
        const RegistrySnapshot interfaces32(
            {{HKEY_CLASSES_ROOT, L"Interface\\" + RegistryForm(IID_IQuorvaneShlExt), View32},
             {HKEY_CLASSES_ROOT, L"Interface\\" + RegistryForm(IID_IShredConfDlg), View32}});
        UniqueRegistryKey classes = CreateKey(HKEY_CURRENT_USER, scratchPath + L"\\Classes");
        UniqueRegistryKey machine = CreateKey(HKEY_CURRENT_USER, scratchPath + L"\\Machine");
        ASSERT_TRUE(classes && machine);
        std::optional<LoadedServer> server(std::in_place, Dll64);
        ASSERT_TRUE(server->IsLoaded());
        ASSERT_EQ(ERROR_SUCCESS, ::RegOverridePredefKey(HKEY_CLASSES_ROOT, classes.Get()));
        ASSERT_EQ(ERROR_SUCCESS, ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine.Get()));
        const HRESULT hr = server->Call("DllRegisterServer");
        ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        ::RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        server.reset();
        classes.Reset();
        machine.Reset();
        EXPECT_EQ(S_OK, hr);
        selfRegistration = ReadRegistryTree(HKEY_CURRENT_USER, scratchPath + L"\\Classes", 0);
        machineSelfRegistration =
            ReadRegistryTree(HKEY_CURRENT_USER, scratchPath + L"\\Machine", 0);
        DeleteRegistryTree(HKEY_CURRENT_USER, scratchPath, 0);
        ::RegDeleteKeyW(HKEY_CURRENT_USER, scratchParent.c_str());
        interfaces32.Restore();
    }

    size_t keysWithValues = 0;
    for (const std::wstring& key : PackageKeys()) {
        const RegistryTree own = Subtree(selfRegistration, key);
        RegistryTree package = ClassesTree(key, View64);
        // The type library's key is shared with the 32-bit view, where the package registers
        // the 32-bit module beside this one.
        if (key == TypeLibKey) {
            EXPECT_EQ(1u, package.erase(L"1.0\\409\\win32"));
        }
        EXPECT_FALSE(own.empty()) << NarrowWithSubstitutes(key);
        EXPECT_EQ(own, package) << NarrowWithSubstitutes(key) << ": self-registration\n"
                                << Describe(own) << "package\n"
                                << Describe(package);
        for (const auto& entry : own)
            keysWithValues += !entry.second.empty();
    }
    // Nothing the DLL registers lies outside the package's keys.
    size_t allWithValues = 0;
    for (const auto& entry : selfRegistration)
        allWithValues += !entry.second.empty();
    EXPECT_EQ(allWithValues, keysWithValues) << Describe(selfRegistration);

    // Under HKEY_LOCAL_MACHINE it approves the class, as the package did; each value it writes
    // there the package wrote in the same place.
    for (const std::wstring& approvedClass : {ServerClassId, DriveClassId})
        EXPECT_EQ(RegistryString(ApprovalName), machineSelfRegistration[ApprovedKey][approvedClass])
            << Describe(machineSelfRegistration);
    for (const auto& [key, values] : machineSelfRegistration) {
        const RegistryValues package = KeyValues(HKEY_LOCAL_MACHINE, key, View64);
        for (const auto& [name, data] : values) {
            const auto installed = package.find(name);
            EXPECT_TRUE(installed != package.end() && installed->second == data)
                << NarrowWithSubstitutes(key) << ": " << NarrowWithSubstitutes(name);
        }
    }
}

TEST_F(InstallerTest, ProgramsAndFeaturesShowTheIconTheLinksAndTheComments)
{
    ASSERT_EQ(0u, Msiexec("/i", Current()));
    const std::vector<std::wstring> products = InstalledProducts();
    ASSERT_EQ(1u, products.size());
    const std::wstring& product = products.front();

    // The icon the installer keeps for the entry is the product's own.
    const std::wstring icon = ProductInfo(product, L"ProductIcon");
    ASSERT_FALSE(icon.empty());
    EXPECT_EQ(ReadBytes(FromUnixPath(ORLENWICK_ICON_PATH)), ReadBytes(NarrowWithSubstitutes(icon)));
    for (const wchar_t* link : {L"URLInfoAbout", L"HelpLink"}) {
        const std::wstring url = ProductInfo(product, link);
        EXPECT_EQ(0u, url.rfind(L"https://", 0))
            << NarrowWithSubstitutes(link) << " is \"" << NarrowWithSubstitutes(url) << "\"";
    }
    const RegistryValues entry =
        KeyValues(HKEY_LOCAL_MACHINE, std::wstring(UninstallKey) + L"\\" + product, View64);
    const auto comments = entry.find(L"Comments");
    ASSERT_NE(entry.end(), comments);
    EXPECT_NE(std::wstring::npos, RegistryText(comments->second).find(L"Shred Item(s)"));
}

TEST_F(InstallerTest, InstalledClassShredsThroughTheShellRoad)
{
    ASSERT_EQ(0u, Msiexec("/i", Current()));
    // The shell stand-in and the files live under T:, the prefix's scratch drive.
    const std::string work = "T:\\installer-test-" + std::to_string(::GetCurrentProcessId());
    RemoveTree(work);
    MakeFolder(work);
    ASSERT_TRUE(::CopyFileA(FromUnixPath(ORLENWICK_STANDIN_PATH).c_str(),
                            (work + "\\ShellStandIn.exe").c_str(), FALSE));
    WriteText(work + "\\sample.txt", "account 1234-5678\n");
    WriteText(work + "\\neighbour.txt", "keep me\n");

    const ProgramRun run =
        RunProgram(Quoted(work + "\\ShellStandIn.exe") + " --progid Orlenwick.QuorvaneShlExt" +
                       " --confirm " + Quoted(work + "\\sample.txt"),
                   work, 120000);

    SCOPED_TRACE(run.Output);
    EXPECT_EQ(0u, run.ExitCode);
    EXPECT_NE(std::string::npos, run.Output.find("CLSIDFromProgID: 0x00000000"));
    EXPECT_NE(std::string::npos, run.Output.find("CoCreateInstance: 0x00000000"));
    EXPECT_NE(std::string::npos, run.Output.find("InvokeCommand: 0x00000000"));
    EXPECT_EQ(std::string::npos, run.Output.find("message box:"));
    EXPECT_EQ((Names{"ShellStandIn.exe", "neighbour.txt"}), ListFolder(work));
    const std::vector<unsigned char> neighbour = ReadBytes(work + "\\neighbour.txt");
    EXPECT_EQ("keep me\n", std::string(neighbour.begin(), neighbour.end()));
    RemoveTree(work);
}

TEST_F(InstallerTest, UninstallLeavesNothingOfThePackageButTheSharedKeysAndTheSettings)
{
    ASSERT_EQ(0u, Msiexec("/i", Current()));
    // The user's settings, as the confirm dialog saves them.
    const RegistryTree settings = {{L"", {{L"Passes", RegistryData{REG_DWORD, {3, 0, 0, 0}}}}}};
    DeleteRegistryTree(HKEY_CURRENT_USER, SettingsKey, 0);
    ASSERT_TRUE(WriteRegistryTree(HKEY_CURRENT_USER, SettingsKey, settings, 0));

    ASSERT_EQ(0u, Msiexec("/x", Current()));

    EXPECT_TRUE(InstalledVersions().empty());
    EXPECT_FALSE(Exists(Folder64));
    EXPECT_FALSE(Exists(Folder32));
    ExpectNothingOfThePackageInTheRegistry();
    EXPECT_EQ(settings, ReadRegistryTree(HKEY_CURRENT_USER, SettingsKey, 0));
}

TEST_F(InstallerTest, RepairRestoresAMissingDllAndRegistration)
{
    ASSERT_EQ(0u, Msiexec("/i", Current()));
    const std::vector<unsigned char> installed = ReadBytes(Dll32);
    ASSERT_TRUE(::DeleteFileA(Dll32.c_str()));
    ASSERT_TRUE(DeleteRegistryTree(HKEY_LOCAL_MACHINE,
                                   ClassesPrefix + ServerClassKey + L"\\InprocServer32", View32));
    ASSERT_TRUE(DeleteRegistryTree(HKEY_LOCAL_MACHINE, ClassesPrefix + ServerProgId, View64));

    // Wine's msiexec cannot repair with /f (it takes the package for a product code); the
    // properties say the same to the installer.
    ASSERT_EQ(0u, Msiexec("/i", Current(), "REINSTALL=ALL REINSTALLMODE=omus"));

    EXPECT_EQ(installed, ReadBytes(Dll32));
    ExpectRegistrationTableInBothViews();
}

TEST_F(InstallerTest, NextVersionReplacesTheInstalledOneAndCannotBeDowngraded)
{
    ASSERT_EQ(0u, Msiexec("/i", Current()));
    ASSERT_EQ(0u, Msiexec("/i", Next()));

    // One installation, one registration, pointing at the new files.
    ExpectInstalled(ORLENWICK_NEXT_VERSION);
    ExpectRegistrationTableInBothViews();
    const RegistryTree version = Subtree(ClassesTree(TypeLibKey, View64), L"1.0");
    EXPECT_EQ(RegistryString(Widen(Dll64)), version.at(L"409\\win64").at(L""));
    EXPECT_EQ(RegistryString(Widen(Dll32)), version.at(L"409\\win32").at(L""));

    // The older package refuses to replace the newer one, which stays whole.
    EXPECT_NE(0u, Msiexec("/i", Current()));
    EXPECT_EQ(Names{ORLENWICK_NEXT_VERSION}, InstalledVersions());
    EXPECT_EQ(ORLENWICK_NEXT_VERSION, FileVersion(Dll64));
    ExpectRegistrationTableInBothViews();

    ASSERT_EQ(0u, Msiexec("/x", Next()));
    EXPECT_TRUE(InstalledVersions().empty());
    EXPECT_FALSE(Exists(Folder64));
    ExpectNothingOfThePackageInTheRegistry();
}

} // namespace
