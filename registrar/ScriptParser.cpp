#include "registrar/ScriptParser.h"

#include "common/TextConversion.h"
#include "registrar/ScriptText.h"

#include <oleauto.h>

#include <optional>
#include <vector>

namespace {

// A token and its terminator fill at most this buffer.
constexpr size_t TokenBufferSize = 4096;
constexpr size_t ValueNameBufferSize = 256;
// The registry's own limit: no key lies deeper below its root.
constexpr unsigned DeepestKeyLevel = 512;

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

struct ValueKind
{
    const char* Letter;
    DWORD Type;
};

const ValueKind ValueKindTable[] = {
    {"S", REG_SZ},
    {"D", REG_DWORD},
    {"B", REG_BINARY},
};

bool Equals(const std::string& text, const char* word)
{
    return ::lstrcmpiA(text.c_str(), word) == 0;
}

bool IsBlank(char c)
{
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

bool IsProtectedKeyName(const std::string& name)
{
    return Equals(name, "CLSID") || Equals(name, "TYPELIB");
}

HKEY FindRootKey(const std::string& name)
{
    for (const RootKey& root : RootKeyTable) {
        if (Equals(name, root.Name))
            return root.Key;
    }
    return nullptr;
}

const ValueKind* FindValueKind(const std::string& letter)
{
    for (const ValueKind& kind : ValueKindTable) {
        if (Equals(letter, kind.Letter))
            return &kind;
    }
    return nullptr;
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

// A value that cannot be written is not reported; only odd binary digits fail.
HRESULT StoreValue(HKEY key, const char* valueName, DWORD type, const std::string& text)
{
    HRESULT hr = S_OK;
    if (type == REG_SZ) {
        ::RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                         static_cast<DWORD>(text.size() + 1));
    } else if (type == REG_BINARY) {
        if (text.size() % 2 != 0)
            hr = E_FAIL;
        std::vector<BYTE> bytes(text.size() / 2);
        for (size_t k = 0; k < bytes.size(); ++k)
            bytes[k] = static_cast<BYTE>(HexDigit(text[2 * k]) << 4 | HexDigit(text[2 * k + 1]));
        if (SUCCEEDED(hr))
            ::RegSetValueExA(key, valueName, 0, REG_BINARY, bytes.data(),
                             static_cast<DWORD>(bytes.size()));
    } else {
        // Text that is not valid in the code page is no number either.
        ULONG number = 0;
        if (std::optional<std::wstring> wide = WidenExactly(text))
            ::VarUI4FromStr(wide->data(), 0, 0, &number);
        const DWORD data = number;
        ::RegSetValueExA(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                         sizeof data);
    }
    return hr;
}

// Registration takes the key with every right it is granted, creating it when it is missing.
bool OpenOrCreateKey(HKEY parent, const std::string& name, RegistryKey& key)
{
    return ::RegOpenKeyExA(parent, name.c_str(), 0, KEY_ALL_ACCESS, key.Receive()) ==
               ERROR_SUCCESS ||
           ::RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ, key.Receive()) == ERROR_SUCCESS ||
           ::RegCreateKeyExA(parent, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, key.Receive(), nullptr) == ERROR_SUCCESS;
}

// Values named inside the key are deleted through this handle, which therefore asks for the
// right to change values; a key that grants only reading is still walked.
bool OpenForRemoval(HKEY parent, const std::string& name, RegistryKey& key)
{
    return ::RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ | KEY_SET_VALUE, key.Receive()) ==
               ERROR_SUCCESS ||
           ::RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ, key.Receive()) == ERROR_SUCCESS;
}

} // namespace

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
    std::string letter;
    HRESULT hr = ReadToken(letter);
    const ValueKind* kind = nullptr;
    if (SUCCEEDED(hr)) {
        kind = FindValueKind(letter);
        if (!kind)
            hr = DISP_E_EXCEPTION;
    }
    std::string text;
    if (SUCCEEDED(hr)) {
        SkipBlanks();
        hr = ReadToken(text);
    }
    if (SUCCEEDED(hr))
        hr = StoreValue(key, valueName, kind->Type, text);
    if (SUCCEEDED(hr))
        hr = ReadToken(token);
    return hr;
}

HRESULT ScriptParser::Run(bool registering)
{
    HRESULT hr = S_OK;
    std::string token;
    while (SUCCEEDED(hr) && *position != '\0')
        hr = ProcessRootBlock(token, registering);
    return hr;
}

HRESULT ScriptParser::ProcessRootBlock(std::string& token, bool registering)
{
    HRESULT hr = ReadToken(token);
    HKEY root = nullptr;
    if (SUCCEEDED(hr)) {
        root = FindRootKey(token);
        if (!root)
            hr = DISP_E_EXCEPTION;
    }
    if (SUCCEEDED(hr))
        hr = ReadToken(token);
    if (SUCCEEDED(hr) && token[0] != '{')
        hr = DISP_E_EXCEPTION;
    if (SUCCEEDED(hr)) {
        const char* blockStart = position;
        hr = ProcessKeyBlock(token, root, registering, false, 1);
        if (FAILED(hr) && registering) {
            // Undo what this root block created; earlier root blocks stay.
            position = blockStart;
            ProcessKeyBlock(token, root, false, false, 1);
        }
    }
    if (SUCCEEDED(hr))
        SkipBlanks();
    return hr;
}

HRESULT ScriptParser::ProcessKeyBlock(std::string& token, HKEY parent, bool registering,
                                      bool skipAtEntry, unsigned level)
{
    Block block(parent, registering, skipAtEntry, level);
    HRESULT hr = ReadToken(token);
    while (SUCCEEDED(hr) && token[0] != '}')
        hr = ProcessEntry(token, block);
    return hr;
}

HRESULT ScriptParser::ProcessEntry(std::string& token, Block& block)
{
    TreeDeletion deletion = TreeDeletion::None;
    HRESULT hr = ReadKeywords(token, block, deletion);
    if (SUCCEEDED(hr)) {
        if (!Equals(token, "Val"))
            hr = ProcessKeyEntry(token, block, deletion);
        else if (deletion == TreeDeletion::Only)
            // "Delete" deletes a key and creates nothing: a value after it has no meaning.
            hr = DISP_E_EXCEPTION;
        else
            hr = ProcessValueEntry(token, block);
    }
    return hr;
}

// The keywords come in their order, each read only where it may stand, so that a keyword after
// "ForceRemove" is taken as a keyword, never as the name of a key to delete.
HRESULT ScriptParser::ReadKeywords(std::string& token, Block& block, TreeDeletion& deletion)
{
    HRESULT hr = S_OK;
    if (Equals(token, "ForceRemove") || Equals(token, "Delete")) {
        deletion = Equals(token, "Delete") ? TreeDeletion::Only : TreeDeletion::BeforeCreating;
        hr = ReadToken(token);
    }
    if (SUCCEEDED(hr) && Equals(token, "NoRemove")) {
        block.Deletable = false;
        hr = ReadToken(token);
    }
    return hr;
}

HRESULT ScriptParser::ProcessValueEntry(std::string& token, Block& block)
{
    std::string valueName;
    HRESULT hr = ReadToken(valueName);
    // An empty name is the enclosing key's default value: at the first level that of a root
    // key, under "NoRemove" that of a shared key. A default value is written by its key's own
    // value clause and goes only with its key, so an empty name is refused in both passes.
    if (SUCCEEDED(hr) && (valueName.empty() || valueName.size() >= ValueNameBufferSize))
        hr = DISP_E_EXCEPTION;
    if (SUCCEEDED(hr))
        hr = ReadToken(token);
    if (SUCCEEDED(hr) && token != "=")
        hr = DISP_E_EXCEPTION;
    if (SUCCEEDED(hr) && block.Registering) {
        hr = WriteValue(block.Parent, valueName.c_str(), token);
    } else if (SUCCEEDED(hr)) {
        if (!block.Skip)
            ::RegDeleteValueA(block.Parent, valueName.c_str());
        hr = SkipValueClause(token);
    }
    // What a block after a value would mean is undefined. Refused in both passes, the undo walk
    // stops where the registration did instead of reading the block's entries one level up.
    if (SUCCEEDED(hr) && token == "{")
        hr = DISP_E_EXCEPTION;
    return hr;
}

HRESULT ScriptParser::ProcessKeyEntry(std::string& token, Block& block, TreeDeletion deletion)
{
    const std::string name = token;
    // Refused before any call: an empty name would open, and could delete, the parent itself.
    // The depth bound also bounds the walk's recursion.
    HRESULT hr = IsSingleKeyName(name) && block.Level <= DeepestKeyLevel ? S_OK : DISP_E_EXCEPTION;
    if (SUCCEEDED(hr))
        hr = block.Registering ? RegisterKeyEntry(token, name, block, deletion)
                               : RemoveKeyEntry(token, name, block);
    return hr;
}

HRESULT ScriptParser::RegisterKeyEntry(std::string& token, const std::string& name, Block& block,
                                       TreeDeletion deletion)
{
    // A failed deletion leaves the old key to be opened again.
    if (deletion != TreeDeletion::None && !IsProtectedKeyName(name))
        DeleteKeyTree(block.Parent, name);
    return deletion == TreeDeletion::Only ? SkipDeletedKeyEntry(token)
                                          : CreateKeyEntry(token, name, block);
}

HRESULT ScriptParser::SkipDeletedKeyEntry(std::string& token)
{
    HRESULT hr = ReadToken(token);
    if (SUCCEEDED(hr))
        hr = SkipValueClause(token);
    // What a block after a deleted key would mean is undefined.
    if (SUCCEEDED(hr) && token == "{")
        hr = DISP_E_EXCEPTION;
    return hr;
}

HRESULT ScriptParser::CreateKeyEntry(std::string& token, const std::string& name, Block& block)
{
    HRESULT hr = OpenOrCreateKey(block.Parent, name, block.Current) ? S_OK : DISP_E_EXCEPTION;
    if (SUCCEEDED(hr))
        hr = ReadToken(token);
    if (SUCCEEDED(hr) && token == "=")
        hr = WriteValue(block.Current.Get(), nullptr, token);
    // Only "{" alone opens a block: a class identifier begins with "{" and is the next key.
    if (SUCCEEDED(hr) && token == "{")
        hr = WalkInnerBlock(token, block);
    return hr;
}

HRESULT ScriptParser::RemoveKeyEntry(std::string& token, const std::string& name, Block& block)
{
    if (!block.Skip && !OpenForRemoval(block.Parent, name, block.Current))
        block.Skip = true;
    HRESULT hr = ReadToken(token);
    if (SUCCEEDED(hr))
        hr = SkipValueClause(token);
    if (SUCCEEDED(hr) && token == "{")
        hr = WalkInnerBlock(token, block);
    if (SUCCEEDED(hr)) {
        // A missing key's block has been walked without deleting anything.
        if (block.Skip)
            block.Skip = block.SkipAtEntry;
        else
            hr = DeleteEntryKey(name, block);
    }
    return hr;
}

HRESULT ScriptParser::DeleteEntryKey(const std::string& name, Block& block)
{
    HRESULT hr = S_OK;
    if (KeyHasSubkeys(block.Current.Get())) {
        // Kept for the subkeys the script does not name; only a subkey of its own name goes, and
        // never under a key the script does not remove: what lies under a shared key (Software,
        // Windows, a shell handler list) is other programs', whatever its name.
        if (block.Deletable && !IsProtectedKeyName(name))
            DeleteKeyTree(block.Current.Get(), name);
    } else if (CloseChecked(block.Current) != ERROR_SUCCESS) {
        hr = DISP_E_EXCEPTION;
    } else if (block.Deletable) {
        ::RegDeleteKeyA(block.Parent, name.c_str());
    }
    return hr;
}

// The block of the latest key entry, then the token after its "}".
HRESULT ScriptParser::WalkInnerBlock(std::string& token, Block& block)
{
    HRESULT hr =
        ProcessKeyBlock(token, block.Current.Get(), block.Registering, block.Skip, block.Level + 1);
    if (SUCCEEDED(hr))
        hr = ReadToken(token);
    // A value clause stands before its key's block. After it, registration would take "=" for
    // the next key and removal would skip it as a value clause: the two passes would then read
    // the rest of the block at different levels.
    if (SUCCEEDED(hr) && token == "=")
        hr = DISP_E_EXCEPTION;
    return hr;
}
