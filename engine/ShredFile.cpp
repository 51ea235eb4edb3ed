#include "engine/ScopedDescriptor.h"
#include "engine/ShredNames.h"
#include "jobs/ShredThread.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

ShredStatus StatusForOpenError(int error)
{
    switch (error) {
    case EEXIST:
        return StatusFileExists;
    case EINVAL:
        return StatusInvalidArguments;
    case EMFILE:
        return StatusNoHandles;
    case ENOENT:
        return StatusFileNotFound;
    default:
        // EACCES, and any error the open is not expected to give: nothing was written.
        return StatusAccessViolation;
    }
}

} // namespace

void CShredThread::SendStatus(ShredStatus status)
{
    Os->SendMessageA(ProgressWindow, WM_COMMAND,
                     MakeShredWParam(ItemIndex, ShredStatusCommand(status)), 0);
}

void CShredThread::ShredFile(std::string path, int tailLength, bool ntfs, std::string streamSuffix)
{
    std::string fullName = path + streamSuffix;
    if (!IsShreddableName(fullName)) {
        SendStatus(StatusInvalidArguments);
        return;
    }
    const int64_t cycles = Settings.ShreddingMethod == MethodRandomData ? Settings.Passes : 1;
    const int64_t passesPerCycle = Settings.ShreddingMethod == MethodDoD       ? 7
                                   : Settings.ShreddingMethod == MethodGutmann ? 35
                                                                               : 1;

    Os->SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    errno = 0;
    ScopedDescriptor file(*Os,
                          Os->Open(fullName.c_str(), _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE));
    if (!file.IsOpen()) {
        SendStatus(StatusForOpenError(errno));
        return;
    }

    const int64_t originalLength = Os->FileLength(file.Get());
    if (originalLength < 0) {
        file.Close();
        SendStatus(StatusOverwriteFailed);
        return;
    }
    const int64_t overwriteLength =
        originalLength + (Settings.OverwriteTails ? int64_t{tailLength} + 1 : 0);

    const int64_t progressRange = (overwriteLength / 1024 + 1) * cycles * passesPerCycle;
    char* nameBlock = AllocateShredFileNameBlock();
    std::memset(nameBlock, 0, ShredFileNameBlockSize);
    std::memcpy(nameBlock, fullName.c_str(), fullName.size());
    Os->SendMessageA(ProgressWindow, WM_SHRED_FILE, MakeShredWParam(ItemIndex, progressRange),
                     reinterpret_cast<LPARAM>(nameBlock));

    int64_t covered = INT64_MAX;
    for (int64_t cycle = 0; cycle < cycles; ++cycle) {
        Os->PostMessageA(ProgressWindow, WM_COMMAND,
                         MakeShredWParam(ItemIndex, ID_SHRED_PASS_BASE + cycle), 0);
        int64_t written;
        switch (Settings.ShreddingMethod) {
        case MethodDoD:
            written = WriteDoDPasses(file.Get(), overwriteLength);
            break;
        case MethodGutmann:
            written = WriteGutmannPasses(file.Get(), overwriteLength);
            break;
        default:
            written = WriteRandomPass(file.Get(), overwriteLength);
            break;
        }
        covered = std::min(covered, written);
    }
    file.Close();

    // A file whose old contents were not all overwritten is kept, under its own name, so the
    // user can try again; only the tail extension past the old end may fall short.
    if (covered < originalLength) {
        SendStatus(StatusOverwriteFailed);
        return;
    }

    if (Settings.MangleDateAndTime && streamSuffix.empty()) {
        BackdateLastWriteTime(fullName);
        if (!ScrambleName(fullName))
            return;
    }

    if (ntfs && streamSuffix.empty()) {
        for (const std::string& stream : EnumAlternateStreams(fullName))
            ShredFile(fullName, tailLength, ntfs, stream);
    }

    SendStatus(Os->Remove(fullName.c_str()) == -1 ? StatusRemoveFailed : StatusShredded);
}
