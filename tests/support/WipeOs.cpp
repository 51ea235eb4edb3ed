#include "WipeOs.h"

#include "VolumeRun.h"

#include "common/TextConversion.h"
#include "engine/FreeSpaceWipe.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

bool StartsWithNoCase(const std::string& text, const std::string& start)
{
    return text.size() >= start.size() &&
           ::CompareStringOrdinal(Widen(text.substr(0, start.size())).c_str(), -1,
                                  Widen(start).c_str(), -1, TRUE) == CSTR_EQUAL;
}

} // namespace

WipeOs::WipeOs(const TestVolume& volume) : root(volume.Root), device("\\\\.\\" + volume.Drive) {}

bool WipeOs::Inside(const char* path)
{
    const std::string name = path ? path : "";
    if (!root.empty() && (StartsWithNoCase(name, root) ||
                          (name.size() == device.size() && StartsWithNoCase(name, device))))
        return true;
    Calls.Add("outside", name);
    ::SetLastError(ERROR_ACCESS_DENIED);
    return false;
}

std::map<std::string, uint64_t> WipeOs::WrittenLengths()
{
    std::lock_guard<std::mutex> held(lock);
    return lengths;
}

std::map<std::string, std::vector<std::vector<BYTE>>> WipeOs::PassStarts()
{
    std::lock_guard<std::mutex> held(lock);
    return passStarts;
}

HANDLE WipeOs::CreateFileA(const char* name, DWORD access, DWORD share, DWORD disposition,
                           DWORD flags)
{
    if (!Inside(name))
        return INVALID_HANDLE_VALUE;
    const HANDLE file = ShredOs::CreateFileA(name, access, share, disposition, flags);
    if (file != INVALID_HANDLE_VALUE) {
        std::lock_guard<std::mutex> held(lock);
        open[file] = OpenFile{name, 0};
        if (disposition == CREATE_NEW)
            Calls.Add("create", name);
    }
    return file;
}

BOOL WipeOs::CloseHandle(HANDLE handle)
{
    {
        std::lock_guard<std::mutex> held(lock);
        open.erase(handle);
    }
    return ShredOs::CloseHandle(handle);
}

BOOL WipeOs::CreateDirectoryA(const char* path)
{
    if (!Inside(path))
        return FALSE;
    const BOOL made = ShredOs::CreateDirectoryA(path);
    if (made)
        Calls.Add("mkdir", path);
    return made;
}

BOOL WipeOs::WriteFile(HANDLE file, const void* data, DWORD count, DWORD* written)
{
    if (WriteDelayMs)
        ::Sleep(WriteDelayMs);
    std::string path;
    {
        std::lock_guard<std::mutex> held(lock);
        const auto found = open.find(file);
        path = found == open.end() ? std::string() : found->second.Path;
    }
    if (!FailingWritesOf.empty() && path.size() >= FailingWritesOf.size() &&
        path.compare(path.size() - FailingWritesOf.size(), FailingWritesOf.size(),
                     FailingWritesOf) == 0) {
        *written = 0;
        ::SetLastError(WriteError);
        return FALSE;
    }
    const BOOL ok = ShredOs::WriteFile(file, data, count, written);
    std::lock_guard<std::mutex> held(lock);
    const auto found = open.find(file);
    if (found != open.end()) {
        if (found->second.Position == 0 && *written > 0) {
            const auto* bytes = static_cast<const BYTE*>(data);
            passStarts[found->second.Path].emplace_back(bytes,
                                                        bytes + std::min<DWORD>(*written, 6));
        }
        found->second.Position += *written;
        uint64_t& length = lengths[found->second.Path];
        length = std::max(length, found->second.Position);
    }
    return ok;
}

BOOL WipeOs::SetFilePointerEx(HANDLE file, LONGLONG distance, LONGLONG* position, DWORD method)
{
    LONGLONG reached = 0;
    const BOOL moved = ShredOs::SetFilePointerEx(file, distance, &reached, method);
    if (moved) {
        std::lock_guard<std::mutex> held(lock);
        const auto found = open.find(file);
        if (found != open.end())
            found->second.Position = static_cast<uint64_t>(reached);
    }
    if (position)
        *position = reached;
    return moved;
}

BOOL WipeOs::GetVolumeInformationA(const char* rootPath, char* volumeName, DWORD volumeNameSize,
                                   DWORD* serialNumber, DWORD* maximumComponentLength,
                                   DWORD* fileSystemFlags, char* fileSystemName,
                                   DWORD fileSystemNameSize)
{
    DWORD flags = 0;
    const BOOL answered = ShredOs::GetVolumeInformationA(
        rootPath, volumeName, volumeNameSize, serialNumber, maximumComponentLength, &flags,
        fileSystemName, fileSystemNameSize);
    if (fileSystemFlags)
        *fileSystemFlags = flags | ExtraVolumeFlags;
    return answered;
}

void RequireMountedTestVolume(std::optional<TestVolume>& volume)
{
    ASSERT_EQ(CurrentVolumeRun().Phase, VolumePhase::Mounted)
        << "this case needs a volume of its own: run it through tests/VolumeScenario.sh "
           "(ctest -L wipe), which mounts one";
    std::string why;
    volume = ScenarioTestVolume(why);
    ASSERT_TRUE(volume) << "refusing to wipe: " << why;
}

WipeResult WipeTestVolume(const TestVolume& volume, WipeOs& os, const WipeOptions& options,
                          WipeProgress& progress)
{
    // The volume was proven a test volume when it was named; the seam refuses everything else.
    const Seam<ShredOs>::Substitute inPlace(os);
    FreeSpaceWipe wipe(os, options, progress);
    return wipe.Run(volume.Root);
}

uint64_t FreeBytesOf(const TestVolume& volume)
{
    ULARGE_INTEGER available{};
    ULARGE_INTEGER total{};
    ULARGE_INTEGER totalFree{};
    EXPECT_TRUE(::GetDiskFreeSpaceExA(volume.Root.c_str(), &available, &total, &totalFree));
    return available.QuadPart;
}
