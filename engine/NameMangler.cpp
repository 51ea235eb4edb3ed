#include "common/TextConversion.h"
#include "engine/ShredNames.h"
#include "engine/ShredOs.h"
#include "core/ShredThread.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// Draws of a new name before the last one is taken whatever it spells: a device's name comes
// out about once in 3,900 draws of a three-letter name.
constexpr int MaxNameDraws = 16;

// "A" + 25 * r / 32767, capped at "Y": the letters run from A to Y.
char RandomLetter()
{
    const int r = std::rand();
    return static_cast<char>('A' + std::min(24, 25 * r / 32767));
}

void ShowRenameFailure(int error, const std::string& oldName, const std::string& newName)
{
    switch (error) {
    case EACCES:
        AfxMessageBox("Access violation", 0, 0);
        break;
    case EINVAL:
        AfxMessageBox("Invalid arguments", 0, 0);
        break;
    case ENOENT:
        AfxMessageBox("Not found", 0, 0);
        break;
    case EEXIST:
        AfxMessageBox("Already Exists", 0, 0);
        AfxMessageBox(newName.c_str(), 0, 0);
        AfxMessageBox(oldName.c_str(), 0, 0);
        break;
    case EMFILE:
        AfxMessageBox("EMFILE", 0, 0);
        break;
    default:
        AfxMessageBox("Could not mangle file name!", 0, 0);
        break;
    }
}

} // namespace

void CShredThread::BackdateLastWriteTime(const std::string& fullName)
{
    SYSTEMTIME time{};
    Os().GetSystemTime(&time);
    time.wYear = static_cast<WORD>(time.wYear - 5);
    // 29 February five years back does not exist; Wine's conversion turns it into 1 March
    // instead of failing, so the date is mended before converting.
    const bool leapYear = (time.wYear % 4 == 0 && time.wYear % 100 != 0) || time.wYear % 400 == 0;
    if (time.wMonth == 2 && time.wDay == 29 && !leapYear)
        time.wDay = 28;
    FILETIME lastWrite{};
    if (!Os().SystemTimeToFileTime(&time, &lastWrite))
        return;
    const UniqueFileHandle file =
        OwnFileHandle(Os(), Os().CreateFileA(fullName.c_str(), FILE_WRITE_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT));
    if (file.IsValid())
        Os().SetFileTime(file.Get(), &lastWrite);
}

std::optional<ShreddablePath> CShredThread::ScrambleName(const ShreddablePath& path)
{
    int error = EINVAL;
    std::string newName = path.Narrow();
    std::optional<ShreddablePath> renamed = RenameScrambled(path, &error, &newName);
    if (!renamed)
        ShowRenameFailure(error, path.Narrow(), newName);
    return renamed;
}

std::optional<ShreddablePath> CShredThread::RenameScrambled(const ShreddablePath& path, int* error,
                                                            std::string* newName)
{
    char drive[_MAX_DRIVE];
    char directory[_MAX_DIR];
    char baseName[_MAX_FNAME];
    char extension[_MAX_EXT];
    int failure = EINVAL;
    if (_splitpath_s(path.c_str(), drive, sizeof drive, directory, sizeof directory, baseName,
                     sizeof baseName, extension, sizeof extension) != 0) {
        if (error)
            *error = failure;
        return std::nullopt;
    }

    uint32_t seed = 0;
    FillRandomOrFallback(reinterpret_cast<BYTE*>(&seed), sizeof seed);
    std::srand(seed);
    // Random letters may spell a device's name (CON, NUL...), which no file can take: such a
    // name is drawn again.
    for (int draw = 0; draw < MaxNameDraws; ++draw) {
        for (char* c = baseName; *c; ++c)
            *c = RandomLetter();
        for (char* c = extension + (extension[0] ? 1 : 0); *c; ++c)
            *c = RandomLetter();
        if (IsJoinableName(Widen(std::string(baseName) + extension)))
            break;
    }

    char scrambled[_MAX_PATH];
    // The folder part of a shreddable path, and letters: a shreddable path again.
    std::optional<ShreddablePath> renamed;
    if (_makepath_s(scrambled, sizeof scrambled, drive, directory, baseName, extension) == 0)
        renamed = NameRules::FromNarrow(scrambled);
    if (renamed) {
        errno = 0;
        if (Os().Rename(path.c_str(), renamed->c_str()) == 0)
            return renamed;
        failure = errno;
        if (newName)
            *newName = scrambled;
    }
    if (error)
        *error = failure;
    return std::nullopt;
}
