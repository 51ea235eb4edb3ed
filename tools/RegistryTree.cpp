#include "tools/RegistryTree.h"

#include "common/Unique.h"

#include <objbase.h>

#include <utility>

namespace {

std::wstring Join(const std::wstring& parent, const std::wstring& name)
{
    return parent.empty() ? name : parent + L"\\" + name;
}

void ReadKey(HKEY key, const std::wstring& relative, REGSAM view, RegistryTree& tree)
{
    DWORD subkeys = 0;
    DWORD longestSubkey = 0;
    DWORD values = 0;
    DWORD longestName = 0;
    DWORD longestData = 0;
    if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &longestSubkey, nullptr,
                           &values, &longestName, &longestData, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    RegistryValues& entry = tree[relative];
    std::vector<wchar_t> name(longestName + 2);
    std::vector<BYTE> data(longestData + 2);
    for (DWORD i = 0; i < values; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        if (::RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(),
                            &dataSize) != ERROR_SUCCESS)
            continue;
        entry[std::wstring(name.data(), nameLength)] =
            RegistryData{type, std::vector<BYTE>(data.begin(), data.begin() + dataSize)};
    }
    std::vector<wchar_t> subkey(longestSubkey + 2);
    for (DWORD i = 0; i < subkeys; ++i) {
        DWORD length = static_cast<DWORD>(subkey.size());
        if (::RegEnumKeyExW(key, i, subkey.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            continue;
        const std::wstring child(subkey.data(), length);
        UniqueRegistryKey opened;
        if (::RegOpenKeyExW(key, child.c_str(), 0, KEY_READ | view, opened.Receive()) ==
            ERROR_SUCCESS)
            ReadKey(opened.Get(), Join(relative, child), view, tree);
    }
}

} // namespace

RegistryTree ReadRegistryTree(HKEY root, const std::wstring& path, REGSAM view)
{
    RegistryTree tree;
    UniqueRegistryKey key;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.Receive()) == ERROR_SUCCESS)
        ReadKey(key.Get(), L"", view, tree);
    return tree;
}

bool WriteRegistryTree(HKEY root, const std::wstring& path, const RegistryTree& tree, REGSAM view)
{
    bool written = true;
    for (const auto& [relative, values] : tree) {
        UniqueRegistryKey key;
        if (::RegCreateKeyExW(root, Join(path, relative).c_str(), 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_WRITE | view, nullptr, key.Receive(),
                              nullptr) != ERROR_SUCCESS) {
            written = false;
            continue;
        }
        for (const auto& [name, data] : values)
            written &= ::RegSetValueExW(key.Get(), name.c_str(), 0, data.Type, data.Bytes.data(),
                                        static_cast<DWORD>(data.Bytes.size())) == ERROR_SUCCESS;
    }
    return written;
}

bool DeleteRegistryTree(HKEY root, const std::wstring& path, REGSAM view)
{
    {
        UniqueRegistryKey key;
        if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | view, key.Receive()) !=
            ERROR_SUCCESS)
            return true;
        ::RegDeleteTreeW(key.Get(), nullptr);
    }
    return ::RegDeleteKeyExW(root, path.c_str(), view, 0) == ERROR_SUCCESS;
}

RegistrySnapshot::RegistrySnapshot(std::vector<RegistryPlace> places) : places(std::move(places))
{
    for (const RegistryPlace& place : this->places)
        trees.push_back(ReadRegistryTree(place.Root, place.Path, place.View));
}

void RegistrySnapshot::Restore() const
{
    for (size_t i = 0; i < places.size(); ++i) {
        const RegistryPlace& place = places[i];
        if (ReadRegistryTree(place.Root, place.Path, place.View) == trees[i])
            continue;
        DeleteRegistryTree(place.Root, place.Path, place.View);
        if (!trees[i].empty())
            WriteRegistryTree(place.Root, place.Path, trees[i], place.View);
    }
}

std::wstring RegistryText(const RegistryData& data)
{
    std::wstring text(reinterpret_cast<const wchar_t*>(data.Bytes.data()),
                      data.Bytes.size() / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return text;
}

RegistryData RegistryString(const std::wstring& text)
{
    const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    return RegistryData{REG_SZ,
                        std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t))};
}

std::wstring RegistryForm(const GUID& guid)
{
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return text;
}
