#include "engine/WipeTarget.h"

#include "common/TextConversion.h"
#include "engine/ItemVolume.h"
#include "engine/RandomBlocks.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr uint64_t TimedWriteBytes = 8ull << 20;
constexpr double TimedWriteSeconds = 0.5;
constexpr size_t TimedWriteBlock = 1u << 20;
constexpr size_t TimingNameLetters = 8;

std::string WithoutTrailingSeparator(std::string path)
{
    while (!path.empty() && (path.back() == '\\' || path.back() == '/'))
        path.pop_back();
    return path;
}

bool IsDriveLetterRoot(const std::string& root)
{
    return root.size() == 3 && root[1] == ':' && root[2] == '\\' &&
           ((root[0] >= 'A' && root[0] <= 'Z') || (root[0] >= 'a' && root[0] <= 'z'));
}

bool IsNetworkPath(const std::string& path)
{
    return path.size() >= 2 && (path[0] == '\\' || path[0] == '/') &&
           (path[1] == '\\' || path[1] == '/');
}

bool SameText(const std::wstring& a, const std::wstring& b)
{
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::string NetworkRefusal(const std::string& volume, const char* what)
{
    return volume + " is a network " + what +
           ": its free space can only be wiped on the computer that holds it.";
}

} // namespace

std::string WipeRootOf(const std::string& path)
{
    std::string root = WithoutTrailingSeparator(path);
    for (char& c : root)
        if (c == '/')
            c = '\\';
    return root + "\\";
}

std::string VolumeNameOf(const std::string& root)
{
    if (!IsDriveLetterRoot(root))
        return WithoutTrailingSeparator(root);
    const char letter = root[0] >= 'a' ? static_cast<char>(root[0] - 'a' + 'A') : root[0];
    return std::string{letter, ':'};
}

std::optional<std::string> WholeVolumeRoot(ShredOs& os, const std::wstring& item)
{
    const std::optional<std::wstring> root = VolumeRootOf(os, item);
    if (!root || root->empty() || root->back() != L'\\')
        return std::nullopt;
    // "N:" and "N:\" both name the drive's root; anything longer must be the root itself.
    std::wstring named = item;
    if (named.empty() || named.back() != L'\\')
        named += L'\\';
    if (!SameText(named, *root))
        return std::nullopt;
    return NarrowExactly(*root);
}

std::optional<std::string> WipeRefusal(ShredOs& os, const std::string& root)
{
    const std::string volume = VolumeNameOf(root);
    if (IsNetworkPath(root))
        return NetworkRefusal(volume, "path");
    // Only a whole volume has free space of its own.
    const std::optional<std::wstring> wide = WidenExactly(root);
    if (!wide || !WholeVolumeRoot(os, *wide))
        return volume + " is not the root of a volume: only a whole volume's free space can be "
                        "wiped.";
    switch (os.GetDriveTypeA(root.c_str())) {
    case DRIVE_REMOTE:
        return NetworkRefusal(volume, "drive");
    case DRIVE_NO_ROOT_DIR:
    case DRIVE_UNKNOWN:
        return "There is no volume at " + volume + ".";
    case DRIVE_CDROM:
        return volume + " is a CD or DVD drive: its free space cannot be wiped.";
    default:
        break;
    }
    DWORD flags = 0;
    char fileSystem[MAX_PATH + 1] = {};
    if (!os.GetVolumeInformationA(root.c_str(), nullptr, 0, nullptr, nullptr, &flags, fileSystem,
                                  sizeof fileSystem))
        return "The volume " + volume + " does not tell what it is (error " +
               std::to_string(os.GetLastError()) + "): its free space cannot be wiped.";
    if (flags & FILE_READ_ONLY_VOLUME)
        return ReadOnlyRefusal(volume);
    return std::nullopt;
}

std::string ReadOnlyRefusal(const std::string& volume)
{
    return volume + " is read-only: nothing can be written to it, so its free space cannot be "
                    "wiped.";
}

WipeTarget ReadWipeTarget(ShredOs& os, const std::string& root)
{
    WipeTarget target;
    target.Root = root;
    target.Volume = VolumeNameOf(root);
    char fileSystem[MAX_PATH + 1] = {};
    if (os.GetVolumeInformationA(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, fileSystem,
                                 sizeof fileSystem))
        target.FileSystem = fileSystem;
    ULARGE_INTEGER available{};
    ULARGE_INTEGER total{};
    ULARGE_INTEGER totalFree{};
    if (os.GetDiskFreeSpaceExA(root.c_str(), &available, &total, &totalFree)) {
        target.FreeBytes = available.QuadPart;
        target.TotalBytes = total.QuadPart;
    }
    return target;
}

std::optional<double> MeasureWriteRate(ShredOs& os, const std::string& root, uint64_t freeBytes)
{
    const uint64_t limit = std::min(TimedWriteBytes, freeBytes / 4);
    if (limit < TimedWriteBlock)
        return std::nullopt;
    RandomBlocks random(os, TimedWriteBlock);
    // A name of its own, so that nothing already there is ever opened; the file goes when its
    // handle is closed, even if this process ends first.
    BYTE letters[TimingNameLetters];
    random.Take(letters, sizeof letters);
    std::string name = root + "Orlenwick timing write ";
    for (BYTE letter : letters)
        name += static_cast<char>('A' + letter % 26);
    name += ".tmp";
    const UniqueFileHandle file =
        OwnFileHandle(os, os.CreateFileA(name.c_str(), GENERIC_WRITE | DELETE, 0, CREATE_NEW,
                                         FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_SEQUENTIAL_SCAN));
    if (!file)
        return std::nullopt;
    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    uint64_t written = 0;
    while (written < limit && elapsed() < TimedWriteSeconds) {
        DWORD wrote = 0;
        if (!os.WriteFile(file.Get(), random.Next(), TimedWriteBlock, &wrote) || wrote == 0)
            return std::nullopt;
        written += wrote;
    }
    if (!os.FlushFileBuffers(file.Get()))
        return std::nullopt;
    const double seconds = elapsed();
    if (seconds <= 0)
        return std::nullopt;
    return written / seconds;
}
