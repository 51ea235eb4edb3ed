// A registry key and everything below it, read into memory and written back: the package tool
// reads the registration it made in a scratch key, the installer test reads what a package left
// in the system and restores what it set aside, and the tests compare keys through it.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

struct RegistryData
{
    DWORD Type = REG_NONE;
    std::vector<BYTE> Bytes;

    bool operator==(const RegistryData& other) const
    {
        return Type == other.Type && Bytes == other.Bytes;
    }
    bool operator!=(const RegistryData& other) const { return !(*this == other); }
};

// Value name ("" for the default value) to data.
using RegistryValues = std::map<std::wstring, RegistryData>;
// Key path below the root ("" for the root itself) to its values; every key is listed, also one
// without values.
using RegistryTree = std::map<std::wstring, RegistryValues>;

// `view` is 0, KEY_WOW64_64KEY or KEY_WOW64_32KEY. A key that cannot be opened gives an empty
// tree.
RegistryTree ReadRegistryTree(HKEY root, const std::wstring& path, REGSAM view);
// Creates the keys and sets the values of `tree` below root\path.
bool WriteRegistryTree(HKEY root, const std::wstring& path, const RegistryTree& tree, REGSAM view);

// Removes root\path with everything below it; true when it is gone.
bool DeleteRegistryTree(HKEY root, const std::wstring& path, REGSAM view);

struct RegistryPlace
{
    HKEY Root;
    std::wstring Path;
    REGSAM View;
};

// Keys remembered with everything below them when this is made, to be put back as they were.
class RegistrySnapshot
{
public:
    explicit RegistrySnapshot(std::vector<RegistryPlace> places);

    // Each key that differs now is removed and written again as it was (or left removed).
    void Restore() const;

private:
    std::vector<RegistryPlace> places;
    std::vector<RegistryTree> trees;
};

// The text of a REG_SZ or REG_EXPAND_SZ value, without its terminating NUL.
std::wstring RegistryText(const RegistryData& data);
RegistryData RegistryString(const std::wstring& text);

// A GUID as registry keys name it: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::wstring RegistryForm(const GUID& guid);
