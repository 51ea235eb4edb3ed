#include "registrar/RegistryScript.h"

#include <oleauto.h>

#include <cstring>

namespace {

constexpr size_t TokenBufferSize = 4096;
constexpr size_t ValueNameBufferSize = 256;
constexpr size_t LongestVariableName = 31;

struct RootKey
{
    const char* Name;
    HKEY Key;
};

const RootKey RootKeyTable[] = {
    {"HKCR", HKEY_CLASSES_ROOT},
    {"HKCU", HKEY_CURRENT_USER},
    {"HKLM", HKEY_LOCAL_MACHINE},
    {"HKU", HKEY_USERS},
    {"HKPD", HKEY_PERFORMANCE_DATA},
    {"HKDD", HKEY_DYN_DATA},
    {"HKCC", HKEY_CURRENT_CONFIG},
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", HKEY_USERS},
    {"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
    {"HKEY_DYN_DATA", HKEY_DYN_DATA},
    {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

bool Equals(const std::string& text, const char* word)
{
    return ::lstrcmpiA(text.c_str(), word) == 0;
}

bool IsBlank(char c)
{
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

// Bytes of the character at `p`: a double-byte character is always taken whole.
size_t CharacterSize(const char* p)
{
    return ::IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0' ? 2 : 1;
}

bool IsProtectedKeyName(const std::string& name)
{
    return Equals(name, "CLSID") || Equals(name, "TYPELIB");
}

HRESULT HresultFromLastError()
{
    const auto error = static_cast<LONG>(::GetLastError());
    return error > 0 ? static_cast<HRESULT>(0x80070000u | (error & 0xFFFF)) : error;
}

std::wstring Widen(const std::string& text)
{
    const int size = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(size > 0 ? size : 1, L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), size);
    wide.resize(wide.size() - 1);
    return wide;
}

std::string Narrow(const wchar_t* text)
{
    const int size = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(size > 0 ? size : 1, '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.data(), size, nullptr, nullptr);
    narrow.resize(narrow.size() - 1);
    return narrow;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return 0;
}

// A registry key closed on every way out.
class OpenKey
{
public:
    OpenKey() = default;
    ~OpenKey() { Close(); }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;

    HKEY Get() const { return key; }
    HKEY* Receive()
    {
        Close();
        return &key;
    }
    LSTATUS Close()
    {
        LSTATUS status = ERROR_SUCCESS;
        if (key)
            status = ::RegCloseKey(key);
        key = nullptr;
        return status;
    }

private:
    HKEY key = nullptr;
};

bool KeyHasSubkeys(HKEY key)
{
    DWORD subkeys = 0;
    if (::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                           nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    return subkeys > 0;
}

LSTATUS DeleteKeyTree(HKEY parent, const std::string& name)
{
    OpenKey key;
    LSTATUS status = ::RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ | KEY_WRITE, key.Receive());
    if (status != ERROR_SUCCESS)
        return status;
    for (;;) {
        char child[256];
        DWORD size = sizeof child;
        if (::RegEnumKeyExA(key.Get(), 0, child, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        status = DeleteKeyTree(key.Get(), child);
        if (status != ERROR_SUCCESS)
            return status;
    }
    key.Close();
    return ::RegDeleteKeyA(parent, name.c_str());
}

class ScriptParser
{
public:
    explicit ScriptParser(const char* text) : position(text) {}

    HRESULT Run(bool registering);

private:
    void SkipBlanks();
    HRESULT ReadToken(std::string& token);
    HRESULT SkipValueClause(std::string& token);
    HRESULT WriteValue(HKEY key, const char* valueName, std::string& token);
    HRESULT ProcessKeyBlock(std::string& token, HKEY parent, bool registering, bool skipAtEntry);

    const char* position;
};

void ScriptParser::SkipBlanks()
{
    while (IsBlank(*position))
        ++position;
}

HRESULT ScriptParser::ReadToken(std::string& token)
{
    SkipBlanks();
    if (*position == '\0')
        return DISP_E_EXCEPTION;
    token.clear();
    if (*position == '\'') {
        ++position;
        for (;;) {
            if (*position == '\0')
                return DISP_E_EXCEPTION;
            size_t size = CharacterSize(position);
            if (*position == '\'') {
                if (position[1] != '\'')
                    break;
                // "''" stands for one quote.
                ++position;
                size = 1;
            }
            if (token.size() + 2 >= TokenBufferSize)
                return DISP_E_EXCEPTION;
            token.append(position, size);
            position += size;
        }
        ++position;
        return S_OK;
    }
    while (*position != '\0' && !IsBlank(*position)) {
        const size_t size = CharacterSize(position);
        // The token and its terminator must fit the token buffer.
        if (token.size() + size >= TokenBufferSize)
            return DISP_E_EXCEPTION;
        token.append(position, size);
        position += size;
    }
    return S_OK;
}

HRESULT ScriptParser::SkipValueClause(std::string& token)
{
    if (token != "=")
        return S_OK;
    std::string ignored;
    HRESULT hr = ReadToken(ignored);
    if (SUCCEEDED(hr)) {
        SkipBlanks();
        hr = ReadToken(ignored);
    }
    if (SUCCEEDED(hr))
        hr = ReadToken(token);
    return hr;
}

HRESULT ScriptParser::WriteValue(HKEY key, const char* valueName, std::string& token)
{
    std::string kind;
    HRESULT hr = ReadToken(kind);
    if (FAILED(hr))
        return hr;
    if (!Equals(kind, "S") && !Equals(kind, "D") && !Equals(kind, "B"))
        return DISP_E_EXCEPTION;
    SkipBlanks();
    std::string value;
    hr = ReadToken(value);
    if (FAILED(hr))
        return hr;

    if (Equals(kind, "S")) {
        ::RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>(value.size() + 1));
    } else if (Equals(kind, "B")) {
        if (value.size() % 2 != 0)
            return E_FAIL;
        std::vector<BYTE> bytes(value.size() / 2);
        for (size_t k = 0; k < bytes.size(); ++k)
            bytes[k] = static_cast<BYTE>(HexDigit(value[2 * k]) << 4 | HexDigit(value[2 * k + 1]));
        ::RegSetValueExA(key, valueName, 0, REG_BINARY, bytes.data(),
                         static_cast<DWORD>(bytes.size()));
    } else {
        std::wstring wide = Widen(value);
        ULONG number = 0;
        ::VarUI4FromStr(wide.data(), 0, 0, &number);
        const DWORD data = number;
        ::RegSetValueExA(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                         sizeof data);
    }
    return ReadToken(token);
}

HRESULT ScriptParser::ProcessKeyBlock(std::string& token, HKEY parent, bool registering,
                                      bool skipAtEntry)
{
    OpenKey current;
    bool deletable = true;
    bool skip = skipAtEntry;
    HRESULT hr = ReadToken(token);
    while (SUCCEEDED(hr) && token[0] != '}') {
        bool valueEntry = false;
        if (Equals(token, "ForceRemove") || Equals(token, "Delete")) {
            const bool deleteOnly = Equals(token, "Delete");
            if (FAILED(hr = ReadToken(token)))
                break;
            if (registering) {
                if (token.find('\\') != std::string::npos)
                    return DISP_E_EXCEPTION;
                if (!IsProtectedKeyName(token))
                    DeleteKeyTree(parent, token);
                if (deleteOnly) {
                    if (FAILED(hr = ReadToken(token)) || FAILED(hr = SkipValueClause(token)))
                        break;
                    // What a block after such an entry would mean is undefined: refuse it.
                    if (token == "{")
                        return DISP_E_EXCEPTION;
                    continue;
                }
            }
        } else if (Equals(token, "NoRemove")) {
            // Sticks to this entry and every later entry of the block.
            deletable = false;
            if (FAILED(hr = ReadToken(token)))
                break;
        } else if (Equals(token, "Val")) {
            std::string valueName;
            if (FAILED(hr = ReadToken(valueName)))
                break;
            if (valueName.size() >= ValueNameBufferSize)
                return DISP_E_EXCEPTION;
            if (FAILED(hr = ReadToken(token)))
                break;
            if (token != "=")
                return DISP_E_EXCEPTION;
            if (registering) {
                if (FAILED(hr = WriteValue(parent, valueName.c_str(), token)))
                    break;
                if (token == "{")
                    return DISP_E_EXCEPTION;
            } else {
                if (!skip)
                    ::RegDeleteValueA(parent, valueName.c_str());
                hr = SkipValueClause(token);
            }
            valueEntry = true;
        }
        if (valueEntry)
            continue;

        // One level per entry; an empty name would stand for the parent key itself, which a
        // removal pass would then delete.
        if (token.empty() || token.find('\\') != std::string::npos)
            return DISP_E_EXCEPTION;
        const std::string name = token;

        if (registering) {
            if (::RegOpenKeyExA(parent, name.c_str(), 0, KEY_ALL_ACCESS, current.Receive()) !=
                    ERROR_SUCCESS &&
                ::RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ, current.Receive()) !=
                    ERROR_SUCCESS &&
                ::RegCreateKeyExA(parent, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, current.Receive(),
                                  nullptr) != ERROR_SUCCESS)
                return DISP_E_EXCEPTION;
            if (FAILED(hr = ReadToken(token)))
                break;
            if (token == "=" && FAILED(hr = WriteValue(current.Get(), nullptr, token)))
                break;
            if (token == "{") {
                if (FAILED(hr = ProcessKeyBlock(token, current.Get(), true, false)))
                    break;
                hr = ReadToken(token);
            }
            continue;
        }

        // Removal. Values named inside the key are deleted through this handle, which
        // therefore needs the right to change values; a key that grants only reading is
        // still walked.
        if (!skip &&
            ::RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ | KEY_SET_VALUE, current.Receive()) !=
                ERROR_SUCCESS &&
            ::RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ, current.Receive()) != ERROR_SUCCESS)
            skip = true;
        if (FAILED(hr = ReadToken(token)) || FAILED(hr = SkipValueClause(token)))
            break;
        if (skip) {
            if (token == "{") {
                if (FAILED(hr = ProcessKeyBlock(token, current.Get(), false, true)) ||
                    FAILED(hr = ReadToken(token)) || FAILED(hr = SkipValueClause(token)))
                    break;
            }
            skip = skipAtEntry;
            continue;
        }
        if (token == "{") {
            if (FAILED(hr = ProcessKeyBlock(token, current.Get(), false, false)) ||
                FAILED(hr = ReadToken(token)) || FAILED(hr = SkipValueClause(token)))
                break;
        }
        if (KeyHasSubkeys(current.Get())) {
            if (!IsProtectedKeyName(name))
                DeleteKeyTree(current.Get(), name);
        } else {
            if (current.Close() != ERROR_SUCCESS)
                return DISP_E_EXCEPTION;
            if (deletable)
                ::RegDeleteKeyA(parent, name.c_str());
        }
    }
    return hr;
}

HRESULT ScriptParser::Run(bool registering)
{
    HRESULT hr = S_OK;
    std::string token;
    while (*position != '\0') {
        if (FAILED(hr = ReadToken(token)))
            return hr;
        HKEY root = nullptr;
        for (const RootKey& candidate : RootKeyTable) {
            if (Equals(token, candidate.Name)) {
                root = candidate.Key;
                break;
            }
        }
        if (!root)
            return DISP_E_EXCEPTION;
        if (FAILED(hr = ReadToken(token)))
            return hr;
        if (token[0] != '{')
            return DISP_E_EXCEPTION;
        const char* blockStart = position;
        hr = ProcessKeyBlock(token, root, registering, false);
        if (FAILED(hr)) {
            if (registering) {
                // Undo what this root block created; earlier root blocks stay.
                position = blockStart;
                ProcessKeyBlock(token, root, false, false);
            }
            return hr;
        }
        SkipBlanks();
    }
    return hr;
}

HRESULT ExpandVariables(const char* text, const ReplacementMap& replacements, std::string& out)
{
    out.clear();
    out.reserve(std::strlen(text) * 2);
    for (const char* p = text; *p != '\0';) {
        if (*p != '%') {
            const size_t size = CharacterSize(p);
            out.append(p, size);
            p += size;
            continue;
        }
        if (p[1] == '%') {
            out += '%';
            p += 2;
            continue;
        }
        const char* end = p + 1;
        while (*end != '\0' && *end != '%') {
            if (static_cast<size_t>(end - p) > LongestVariableName)
                return E_FAIL;
            ++end;
        }
        if (*end == '\0')
            return DISP_E_EXCEPTION;
        const std::string name(p + 1, end);
        const wchar_t* value = replacements.Find(name.c_str());
        if (!value)
            return DISP_E_EXCEPTION;
        out += Narrow(value);
        p = end + 1;
    }
    return S_OK;
}

wchar_t* TaskCopy(const wchar_t* text)
{
    const size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(::CoTaskMemAlloc(bytes));
    if (copy)
        std::memcpy(copy, text, bytes);
    return copy;
}

} // namespace

ReplacementMap::~ReplacementMap()
{
    for (auto& pair : pairs) {
        ::CoTaskMemFree(pair.first);
        ::CoTaskMemFree(pair.second);
    }
}

HRESULT ReplacementMap::Add(const wchar_t* name, const wchar_t* value)
{
    wchar_t* nameCopy = TaskCopy(name);
    wchar_t* valueCopy = TaskCopy(value);
    if (!nameCopy || !valueCopy) {
        ::CoTaskMemFree(nameCopy);
        ::CoTaskMemFree(valueCopy);
        return E_OUTOFMEMORY;
    }
    pairs.emplace_back(nameCopy, valueCopy);
    return S_OK;
}

const wchar_t* ReplacementMap::Find(const char* name) const
{
    for (const auto& pair : pairs) {
        if (::lstrcmpiA(Narrow(pair.first).c_str(), name) == 0)
            return pair.second;
    }
    return nullptr;
}

HRESULT RunScript(const char* text, bool registering, const ReplacementMap& replacements)
{
    std::string expanded;
    HRESULT hr = ExpandVariables(text, replacements, expanded);
    if (FAILED(hr))
        return hr;
    ScriptParser parser(expanded.c_str());
    return parser.Run(registering);
}

HRESULT RunScriptResource(const wchar_t* modulePath, UINT resourceId, const char* resourceType,
                          bool registering, const ReplacementMap& replacements)
{
    const std::string path = Narrow(modulePath);
    HMODULE module = ::LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return HresultFromLastError();
    HRESULT hr = S_OK;
    HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(resourceId), resourceType);
    HGLOBAL loaded = found ? ::LoadResource(module, found) : nullptr;
    if (!loaded) {
        hr = HresultFromLastError();
    } else {
        const auto* bytes = static_cast<const char*>(::LockResource(loaded));
        const std::string text(bytes, ::SizeofResource(module, found));
        hr = RunScript(text.c_str(), registering, replacements);
    }
    ::FreeLibrary(module);
    return hr;
}
