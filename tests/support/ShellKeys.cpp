#include "ShellKeys.h"

#include "RegistryKeys.h"

#include <utility>

namespace {

// Every key of the snapshot with its root, parents first within each root.
std::vector<std::pair<HKEY, std::string>> SnapshotKeys()
{
    std::vector<std::pair<HKEY, std::string>> keys;
    for (const std::string& key : ShellHandlerParentKeys())
        keys.push_back({HKEY_CLASSES_ROOT, key});
    for (const std::string& key : ApprovedListKeys())
        keys.push_back({HKEY_LOCAL_MACHINE, key});
    return keys;
}

void RemoveIfEmpty(HKEY root, const std::string& path, REGSAM view)
{
    DWORD subkeys = 1;
    DWORD values = 1;
    {
        const UniqueRegistryKey key = OpenKey(root, path, KEY_READ | view);
        if (!key)
            return;
        ::RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                           &values, nullptr, nullptr, nullptr, nullptr);
    }
    if (subkeys == 0 && values == 0)
        ::RegDeleteKeyExA(root, path.c_str(), view, 0);
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
        "Drive",
        "Drive\\shellex",
        "Drive\\shellex\\ContextMenuHandlers",
    };
    return keys;
}

const std::vector<std::string>& ApprovedListKeys()
{
    static const std::vector<std::string> keys = {
        "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions",
        ApprovedExtensionsKey,
    };
    return keys;
}

ShellKeysSnapshot ShellKeysSnapshot::Take(REGSAM view)
{
    ShellKeysSnapshot snapshot;
    snapshot.view = view;
    for (const auto& [root, key] : SnapshotKeys())
        snapshot.existed.push_back(KeyExists(root, key, view));
    return snapshot;
}

void ShellKeysSnapshot::Restore() const
{
    const std::vector<std::pair<HKEY, std::string>> keys = SnapshotKeys();
    for (size_t i = existed.size(); i-- > 0;) {
        if (!existed[i])
            RemoveIfEmpty(keys[i].first, keys[i].second, view);
    }
}
