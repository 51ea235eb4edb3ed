#include "ShellKeys.h"

#include "RegistryKeys.h"

namespace {

constexpr char RecycleBinKey[] = "CLSID\\{645FF040-5081-101B-9F08-00AA002F954E}";

void RemoveIfEmpty(const std::string& path, REGSAM view)
{
    DWORD subkeys = 1;
    DWORD values = 1;
    {
        const UniqueRegistryKey key = OpenKey(HKEY_CLASSES_ROOT, path, KEY_READ | view);
        if (!key)
            return;
        ::RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                           &values, nullptr, nullptr, nullptr, nullptr);
    }
    if (subkeys == 0 && values == 0)
        ::RegDeleteKeyExA(HKEY_CLASSES_ROOT, path.c_str(), view, 0);
}

} // namespace

const std::vector<std::string>& ShellHandlerParentKeys()
{
    static const std::vector<std::string> keys = {
        "*",
        "*\\shellex",
        "*\\shellex\\ContextMenuHandlers",
        "AllFileSystemObjects",
        "AllFileSystemObjects\\shellex",
        "AllFileSystemObjects\\shellex\\ContextMenuHandlers",
        std::string(RecycleBinKey) + "\\shellex",
        std::string(RecycleBinKey) + "\\shellex\\ContextMenuHandlers",
        "Directory",
        "Directory\\shellex",
        "Directory\\shellex\\DragDropHandlers",
    };
    return keys;
}

ShellKeysSnapshot ShellKeysSnapshot::Take(REGSAM view)
{
    ShellKeysSnapshot snapshot;
    snapshot.view = view;
    for (const std::string& key : ShellHandlerParentKeys())
        snapshot.existed.push_back(KeyExists(HKEY_CLASSES_ROOT, key, view));
    return snapshot;
}

void ShellKeysSnapshot::Restore() const
{
    const std::vector<std::string>& keys = ShellHandlerParentKeys();
    for (size_t i = existed.size(); i-- > 0;) {
        if (!existed[i])
            RemoveIfEmpty(keys[i], view);
    }
}
