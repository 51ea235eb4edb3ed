// Writes the installer package's registration, generated from the DLLs themselves: each DLL's
// own registry scripts (run by the interpreter self-registration uses, with "Module" replaced by
// the installer's reference to the installed file) and its own type library (registered by the
// system's RegisterTypeLib with the installed path and folder), into scratch keys of this
// program that stand in for HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE. Every key and value found
// there becomes a registry element of the component that installs the DLL.
//
//   PackageRegistration <x64 Orlenwick.dll> <x86 Orlenwick.dll> <output folder>
//
// writes Registration64.wxi and Registration32.wxi (the 64-bit DLL's registration in the 64-bit
// view, the 32-bit DLL's in the 32-bit view; what went to HKEY_CLASSES_ROOT under
// HKEY_LOCAL_MACHINE\Software\Classes, what went to HKEY_LOCAL_MACHINE where it went) and
// Version.wxi (the version both DLLs' version resources carry). A registration that writes
// under HKEY_CURRENT_USER has no place in a per-machine package: it fails the generator.
#include "registrar/RegistryScript.h"
#include "shellext/Guids.h"
#include "tools/FileVersion.h"
#include "tools/RegistryTree.h"
#include "tools/WixRegistryElements.h"

#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr wchar_t ScratchParent[] = L"Software\\Orlenwick Package Registration";

// The roots a registration writes under, each captured in a scratch key of its own, and where
// the package writes what was captured (below HKEY_LOCAL_MACHINE; none: refused).
struct CapturedRoot
{
    const char* Name;
    HKEY Predefined;
    const wchar_t* PackageKey;
};

const CapturedRoot CapturedRoots[] = {
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT, L"Software\\Classes"},
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE, L""},
    {"HKEY_CURRENT_USER", HKEY_CURRENT_USER, nullptr},
};
constexpr size_t ClassesRoot = 0;

// What one DLL registers, by captured root.
using Registration = std::vector<RegistryTree>;

struct Part
{
    const char* Name;
    std::wstring Dll;
    SYSKIND Kind;
    // The installer's formatted references to the installed file and its folder; the package
    // template gives the file and the folder these ids.
    std::wstring FileReference;
    std::wstring FolderReference;
};

class ScratchKey
{
public:
    explicit ScratchKey(const std::wstring& path) : path(path)
    {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
        ::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_ALL_ACCESS, nullptr, &key, nullptr);
    }
    ~ScratchKey()
    {
        if (key)
            ::RegCloseKey(key);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
        ::RegDeleteKeyW(HKEY_CURRENT_USER, ScratchParent);
    }
    ScratchKey(const ScratchKey&) = delete;
    ScratchKey& operator=(const ScratchKey&) = delete;

    HKEY Get() const { return key; }
    const std::wstring& Path() const { return path; }

private:
    std::wstring path;
    HKEY key = nullptr;
};

// A predefined root of this process is a scratch key while this lives.
class RootOverride
{
public:
    RootOverride(HKEY predefined, HKEY scratch)
        : predefined(predefined), status(::RegOverridePredefKey(predefined, scratch))
    {}
    ~RootOverride()
    {
        if (status == ERROR_SUCCESS)
            ::RegOverridePredefKey(predefined, nullptr);
    }
    RootOverride(const RootOverride&) = delete;
    RootOverride& operator=(const RootOverride&) = delete;

    LSTATUS Status() const { return status; }

private:
    HKEY predefined;
    LSTATUS status;
};

class TypeLibrary
{
public:
    explicit TypeLibrary(const std::wstring& path) : result(::LoadTypeLib(path.c_str(), &library))
    {}
    ~TypeLibrary()
    {
        if (library)
            library->Release();
    }
    TypeLibrary(const TypeLibrary&) = delete;
    TypeLibrary& operator=(const TypeLibrary&) = delete;

    HRESULT Result() const { return result; }
    ITypeLib* Get() const { return library; }

private:
    ITypeLib* library = nullptr;
    HRESULT result;
};

// The script's quoted tokens double a "'"; the replacement arrives in one.
std::wstring QuotedForScript(const std::wstring& text)
{
    std::wstring quoted;
    for (wchar_t c : text) {
        quoted += c;
        if (c == L'\'')
            quoted += L'\'';
    }
    return quoted;
}

bool Fail(const std::string& message)
{
    std::fprintf(stderr, "PackageRegistration: %s\n", message.c_str());
    return false;
}

std::string AsciiText(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

std::string Hex(long value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
    return text;
}

bool RegisterTypeLibrary(const Part& part)
{
    TypeLibrary library(part.Dll);
    if (FAILED(library.Result()))
        return Fail(std::string(part.Name) + ": LoadTypeLib " + Hex(library.Result()));
    TLIBATTR* attributes = nullptr;
    if (FAILED(library.Get()->GetLibAttr(&attributes)))
        return Fail(std::string(part.Name) + ": GetLibAttr");
    const SYSKIND kind = attributes->syskind;
    library.Get()->ReleaseTLibAttr(attributes);
    if (kind != part.Kind)
        return Fail(std::string(part.Name) + ": the type library's system kind is " +
                    std::to_string(kind) + ", not " + std::to_string(part.Kind));
    // What self-registration passes: the module's path and its folder up to the last "\" (a
    // folder reference resolves with its trailing "\").
    std::wstring path = part.FileReference;
    std::wstring folder = part.FolderReference;
    const HRESULT hr = ::RegisterTypeLib(library.Get(), path.data(), folder.data());
    if (FAILED(hr))
        return Fail(std::string(part.Name) + ": RegisterTypeLib " + Hex(hr));
    return true;
}

std::wstring ScratchPath(const Part& part, const CapturedRoot& root)
{
    const std::string name = std::string(part.Name) + "-" + root.Name;
    return std::wstring(ScratchParent) + L"\\" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
           std::wstring(name.begin(), name.end());
}

using ScratchKeys = std::vector<std::unique_ptr<ScratchKey>>;

BOOL CALLBACK CollectScriptId(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR ids)
{
    if (IS_INTRESOURCE(name))
        reinterpret_cast<std::vector<UINT>*>(ids)->push_back(
            static_cast<UINT>(reinterpret_cast<ULONG_PTR>(name)));
    return TRUE;
}

// The ids of every registry script the DLL carries, in the order the resources list them.
std::vector<UINT> RegistryScriptIds(const std::wstring& dll)
{
    std::vector<UINT> ids;
    HMODULE module = ::LoadLibraryExW(dll.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return ids;
    ::EnumResourceNamesW(module, L"REGISTRY", &CollectScriptId, reinterpret_cast<LONG_PTR>(&ids));
    ::FreeLibrary(module);
    return ids;
}

// Every captured root stands in its scratch key while the scripts run.
bool RunRegistryScripts(const Part& part, const ScratchKeys& scratch)
{
    std::vector<std::unique_ptr<RootOverride>> overrides;
    for (size_t i = 0; i < std::size(CapturedRoots); ++i) {
        overrides.push_back(
            std::make_unique<RootOverride>(CapturedRoots[i].Predefined, scratch[i]->Get()));
        if (overrides.back()->Status() != ERROR_SUCCESS)
            return Fail(std::string("RegOverridePredefKey ") + CapturedRoots[i].Name + " " +
                        std::to_string(overrides.back()->Status()));
    }
    const std::vector<UINT> scripts = RegistryScriptIds(part.Dll);
    if (scripts.empty())
        return Fail(std::string(part.Name) + ": no registry script in the DLL");
    ReplacementMap replacements;
    HRESULT hr = replacements.Add(L"Module", QuotedForScript(part.FileReference).c_str());
    for (size_t i = 0; i < scripts.size() && SUCCEEDED(hr); ++i) {
        hr = RunScriptResource(part.Dll.c_str(), scripts[i], "REGISTRY", true, replacements);
        if (FAILED(hr))
            return Fail(std::string(part.Name) + ": the registry script " +
                        std::to_string(scripts[i]) + " " + Hex(hr));
    }
    return SUCCEEDED(hr) || Fail(std::string(part.Name) + ": the replacement " + Hex(hr));
}

bool Capture(const Part& part, Registration& registration)
{
    ScratchKeys scratch;
    for (const CapturedRoot& root : CapturedRoots) {
        scratch.push_back(std::make_unique<ScratchKey>(ScratchPath(part, root)));
        if (!scratch.back()->Get())
            return Fail("cannot create the scratch keys");
    }
    if (!RunRegistryScripts(part, scratch))
        return false;
    {
        // The type library registers under HKEY_CLASSES_ROOT alone: the system's other reads
        // meanwhile reach the machine.
        RootOverride classesRoot(HKEY_CLASSES_ROOT, scratch[ClassesRoot]->Get());
        if (classesRoot.Status() != ERROR_SUCCESS)
            return Fail("RegOverridePredefKey " + std::to_string(classesRoot.Status()));
        if (!RegisterTypeLibrary(part))
            return false;
    }
    registration.clear();
    for (size_t i = 0; i < std::size(CapturedRoots); ++i) {
        RegistryTree tree = ReadRegistryTree(HKEY_CURRENT_USER, scratch[i]->Path(), 0);
        tree.erase(L"");
        if (!CapturedRoots[i].PackageKey && !tree.empty())
            return Fail(std::string(part.Name) + ": the registration writes under " +
                        CapturedRoots[i].Name + ", which a per-machine package cannot carry");
        registration.push_back(std::move(tree));
    }
    // The scripts and the type library must all have written into the stand-in root.
    const RegistryTree& classes = registration[ClassesRoot];
    for (const std::wstring& expected :
         {L"CLSID\\" + RegistryForm(CLSID_QuorvaneShlExt) + L"\\InprocServer32",
          L"CLSID\\" + RegistryForm(CLSID_DriveWipeShlExt) + L"\\InprocServer32",
          L"TypeLib\\" + RegistryForm(LIBID_ORLENWICKLib)}) {
        const auto found = std::find_if(classes.begin(), classes.end(), [&](const auto& key) {
            return _wcsicmp(key.first.c_str(), expected.c_str()) == 0;
        });
        if (found == classes.end())
            return Fail(std::string(part.Name) + ": the scratch key lacks " + AsciiText(expected));
    }
    return true;
}

// The machine's own registration of the server, in both views. RegisterTypeLib also writes the
// interfaces into the 32-bit view, and that view of HKEY_CLASSES_ROOT is not redirected to the
// scratch key: what it writes there is put back as it was. The 32-bit part's own capture brings
// the same interface keys into the 32-bit view of the package.
std::vector<RegistryPlace> MachineRegistration()
{
    std::vector<RegistryPlace> places;
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        for (const std::wstring& path : {L"CLSID\\" + RegistryForm(CLSID_QuorvaneShlExt),
                                         L"TypeLib\\" + RegistryForm(LIBID_ORLENWICKLib),
                                         L"Interface\\" + RegistryForm(IID_IQuorvaneShlExt),
                                         L"Interface\\" + RegistryForm(IID_IShredConfDlg)})
            places.push_back({HKEY_CLASSES_ROOT, path, view});
    }
    return places;
}

// Keys that the system keeps once for both views: a value the 64-bit part writes there is not
// written again by the 32-bit part (their help folders differ; the 64-bit one stands, as when
// a 64-bit registration follows a 32-bit one).
bool IsSharedBetweenViews(const std::wstring& path)
{
    for (const wchar_t* shared : {L"TypeLib", L"AppID"}) {
        const size_t length = wcslen(shared);
        if (path.size() >= length && _wcsnicmp(path.c_str(), shared, length) == 0 &&
            (path.size() == length || path[length] == L'\\'))
            return true;
    }
    return false;
}

void DropSharedValues(const RegistryTree& tree64, RegistryTree& tree32)
{
    for (auto key = tree32.begin(); key != tree32.end();) {
        const auto other = tree64.find(key->first);
        if (!IsSharedBetweenViews(key->first) || other == tree64.end()) {
            ++key;
            continue;
        }
        for (const auto& value : other->second)
            key->second.erase(value.first);
        key = key->second.empty() ? tree32.erase(key) : std::next(key);
    }
}

bool ReadVersion(const std::wstring& dll, std::string& version)
{
    std::string productVersion;
    if (!ReadFileVersion(dll, version, productVersion))
        return Fail("no version resource in the DLL");
    return version == productVersion || Fail("the DLL's file and product versions differ");
}

bool WriteFile(const std::wstring& path, const std::string& text)
{
    std::ofstream file(path.c_str(), std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    return file.good() || Fail("cannot write the output");
}

const char Header[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                      "<!-- Generated by PackageRegistration from the built DLLs. -->\n"
                      "<Include>\n";

bool WriteRegistration(const Part& part, const Registration& registration, const std::wstring& file)
{
    std::string elements;
    std::string error;
    for (size_t i = 0; i < std::size(CapturedRoots); ++i) {
        if (CapturedRoots[i].PackageKey &&
            !WriteRegistryElements(registration[i], CapturedRoots[i].PackageKey,
                                   {part.FileReference, part.FolderReference}, elements, error))
            return Fail(std::string(part.Name) + ": " + error);
    }
    return WriteFile(file, Header + elements + "</Include>\n");
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: PackageRegistration <x64 dll> <x86 dll> <output folder>\n");
        return 2;
    }
    const std::wstring output = argv[3];
    const Part part64 = {"x64", argv[1], SYS_WIN64, L"[#OrlenwickDll64]", L"[OrlenwickFolder64]"};
    const Part part32 = {"x86", argv[2], SYS_WIN32, L"[#OrlenwickDll32]", L"[OrlenwickFolder32]"};

    std::string version64;
    std::string version32;
    if (!ReadVersion(part64.Dll, version64) || !ReadVersion(part32.Dll, version32))
        return 1;
    if (version64 != version32) {
        Fail("the DLLs carry different versions: " + version64 + " and " + version32);
        return 1;
    }
    Registration registration64;
    Registration registration32;
    const RegistrySnapshot machine(MachineRegistration());
    const bool captured = Capture(part64, registration64) && Capture(part32, registration32);
    machine.Restore();
    if (!captured)
        return 1;
    DropSharedValues(registration64[ClassesRoot], registration32[ClassesRoot]);
    if (!WriteRegistration(part64, registration64, output + L"\\Registration64.wxi") ||
        !WriteRegistration(part32, registration32, output + L"\\Registration32.wxi") ||
        !WriteFile(output + L"\\Version.wxi", std::string(Header) + "<?define ProductVersion = \"" +
                                                  version64 + "\" ?>\n</Include>\n"))
        return 1;
    std::printf("%s\n", version64.c_str());
    return 0;
}
