#include "TestVolume.h"

#include "ProgramRunner.h"
#include "TestOwners.h"

#include <windows.h>

#include <algorithm>
#include <cctype>

namespace {

constexpr char TokenName[] = ".orlenwick-test-volume";
constexpr size_t TokenLength = 32;

std::string Variable(const char* name)
{
    char value[1024] = {};
    const DWORD length = ::GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

// A short file's whole text; empty when it cannot be read.
std::string ReadToken(const std::string& path)
{
    const UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
    char text[TokenLength + 1] = {};
    DWORD read = 0;
    if (!file || !::ReadFile(file.Get(), text, sizeof text, &read, nullptr))
        return "";
    return std::string(text, read);
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

} // namespace

std::optional<TestVolume> ProveTestVolume(const std::string& drive, const std::string& unixFolder,
                                          std::string& why)
{
    if (drive.size() != 2 || drive[1] != ':' ||
        !std::isalpha(static_cast<unsigned char>(drive[0]))) {
        why = "'" + drive + "' is not a drive";
        return std::nullopt;
    }
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(drive[0])));
    if (letter == 'c' || letter == 't' || letter == 'z') {
        why = drive + " lies on the machine's own disk: never a test volume";
        return std::nullopt;
    }
    if (unixFolder.empty() || unixFolder[0] != '/' ||
        !EndsWith(unixFolder, std::string("/volumes/") + letter)) {
        why = "'" + unixFolder + "' is not the build's folder of volume " + drive;
        return std::nullopt;
    }
    TestVolume volume{drive, drive + "\\", unixFolder};
    ULARGE_INTEGER available{};
    ULARGE_INTEGER total{};
    ULARGE_INTEGER totalFree{};
    if (!::GetDiskFreeSpaceExA(volume.Root.c_str(), &available, &total, &totalFree)) {
        why = "the size of " + drive + " cannot be read (error " +
              std::to_string(::GetLastError()) + ")";
        return std::nullopt;
    }
    if (total.QuadPart > LargestTestVolume) {
        why = drive + " holds " + std::to_string(total.QuadPart) +
              " bytes: far larger than any test volume";
        return std::nullopt;
    }
    const std::string onVolume = ReadToken(volume.Root + TokenName);
    const std::string beside = ReadToken(FromUnixPath(unixFolder + "/token"));
    if (onVolume.size() != TokenLength || onVolume != beside) {
        why = drive + " does not carry the token test-volume.sh left in " + unixFolder;
        return std::nullopt;
    }
    return volume;
}

std::optional<TestVolume> ScenarioTestVolume(std::string& why)
{
    return ProveTestVolume(Variable("ORLENWICK_VOLUME_DRIVE"), Variable("ORLENWICK_VOLUME_FOLDER"),
                           why);
}
