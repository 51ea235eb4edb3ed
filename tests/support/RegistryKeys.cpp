#include "RegistryKeys.h"

#include "common/TextConversion.h"

UniqueRegistryKey OpenKey(HKEY root, const std::string& path, REGSAM access)
{
    return OpenKey(root, Widen(path), access);
}

UniqueRegistryKey OpenKey(HKEY root, const std::wstring& path, REGSAM access)
{
    UniqueRegistryKey key;
    if (::RegOpenKeyExW(root, path.c_str(), 0, access, key.Receive()) != ERROR_SUCCESS)
        key.Release();
    return key;
}

UniqueRegistryKey CreateKey(HKEY root, const std::string& path, REGSAM access)
{
    return CreateKey(root, Widen(path), access);
}

UniqueRegistryKey CreateKey(HKEY root, const std::wstring& path, REGSAM access)
{
    UniqueRegistryKey key;
    if (::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, access, nullptr, key.Receive(),
                          nullptr) != ERROR_SUCCESS)
        key.Release();
    return key;
}

bool KeyExists(HKEY root, const std::string& path, REGSAM view)
{
    return KeyExists(root, Widen(path), view);
}

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view)
{
    return OpenKey(root, path, KEY_READ | view).IsValid();
}

LSTATUS SetString(HKEY key, const char* name, const std::string& value)
{
    return ::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1));
}
