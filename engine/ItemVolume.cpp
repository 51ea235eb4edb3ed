#include "engine/ItemVolume.h"

#include "common/TextConversion.h"

#include <cwctype>

namespace {

// The engine's paths are shorter than MAX_PATH, and so is the root of each.
constexpr DWORD RootBufferSize = MAX_PATH;

std::wstring WithoutTrailingSeparator(std::wstring path)
{
    while (!path.empty() && path.back() == L'\\')
        path.pop_back();
    return path;
}

} // namespace

std::optional<std::wstring> VolumeRootOf(ShredOs& os, const std::wstring& path)
{
    std::wstring root(RootBufferSize, L'\0');
    if (!os.GetVolumePathNameW(path.c_str(), root.data(), RootBufferSize))
        return std::nullopt;
    root.resize(wcsnlen(root.c_str(), RootBufferSize));
    return root;
}

bool IsVolumeRoot(ShredOs& os, const std::wstring& path)
{
    const std::wstring item = WithoutTrailingSeparator(path);
    // "C:" names the current folder of drive C, not a file on it.
    if (item.size() <= 2)
        return true;
    const std::optional<std::wstring> root = VolumeRootOf(os, path);
    if (!root)
        return true;
    const std::wstring volume = WithoutTrailingSeparator(*root);
    return ::CompareStringOrdinal(item.c_str(), static_cast<int>(item.size()), volume.c_str(),
                                  static_cast<int>(volume.size()), TRUE) == CSTR_EQUAL;
}

std::optional<DWORD> VolumeSerialOf(ShredOs& os, const std::wstring& path)
{
    // Read from the root's own handle, as it is read from every handle it is compared with.
    const std::optional<std::wstring> root = VolumeRootOf(os, path);
    const std::optional<std::string> narrowRoot = root ? NarrowExactly(*root) : std::nullopt;
    if (!narrowRoot)
        return std::nullopt;
    const UniqueFileHandle rootFolder =
        OwnFileHandle(os, os.CreateFileA(narrowRoot->c_str(), FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!rootFolder || !os.GetFileInformationByHandle(rootFolder.Get(), &information))
        return std::nullopt;
    return information.dwVolumeSerialNumber;
}
