#include "common/TextConversion.h"
#include "engine/ShredNames.h"
#include "engine/ShredOs.h"
#include "core/ShredThread.h"

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

// The file itself, or one of its streams named exactly; a name cut short or rewritten by the
// system could be another file, and a stream suffix that is not one would be the file again.
bool IsShreddableFullName(const std::string& path, const std::string& streamSuffix)
{
    if (!IsShreddablePath(path) || path.size() + streamSuffix.size() >= MAX_PATH)
        return false;
    if (streamSuffix.empty())
        return true;
    const std::optional<std::wstring> wide = WidenExactly(streamSuffix);
    return wide && IsStreamSuffix(*wide);
}

// Where streams decide the file's fate: any stream not overwritten keeps the file, and says why.
ShredStatus CombineStreamStatus(ShredStatus kept, ShredStatus stream)
{
    if (stream == StatusShredded || stream == StatusRemoveFailed)
        return kept; // overwritten; deleting the file removes a stream left behind
    if (kept == StatusOverwriteFailed || stream == StatusOverwriteFailed)
        return StatusOverwriteFailed;
    return kept == StatusShredded ? stream : kept;
}

} // namespace

void CShredThread::SendStatus(ShredStatus status)
{
    Os().SendMessageA(ProgressWindow, WM_COMMAND,
                      MakeShredWParam(ItemIndex, ShredStatusCommand(status)), 0);
}

ShredStatus CShredThread::ShredFile(std::string path, int tailLength, bool ntfs,
                                    std::string streamSuffix)
{
    std::string fullName = path + streamSuffix;
    if (!IsShreddableFullName(path, streamSuffix)) {
        SendStatus(StatusInvalidArguments);
        return StatusInvalidArguments;
    }
    const int64_t cycles = Settings.ShreddingMethod == MethodRandomData ? Settings.Passes : 1;
    const int64_t passesPerCycle = Settings.ShreddingMethod == MethodDoD       ? 7
                                   : Settings.ShreddingMethod == MethodGutmann ? 35
                                                                               : 1;

    Os().SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    errno = 0;
    UniqueDescriptor file = OwnDescriptor(
        Os(), Os().Open(fullName.c_str(), _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE));
    if (!file.IsValid()) {
        const ShredStatus status = StatusForOpenError(errno);
        SendStatus(status);
        return status;
    }

    const int64_t originalLength = Os().FileLength(file.Get());
    if (originalLength < 0) {
        file.Reset();
        SendStatus(StatusOverwriteFailed);
        return StatusOverwriteFailed;
    }
    const int64_t overwriteLength =
        originalLength + (Settings.OverwriteTails ? int64_t{tailLength} + 1 : 0);

    const int64_t progressRange = (overwriteLength / 1024 + 1) * cycles * passesPerCycle;
    char* nameBlock = AllocateShredFileNameBlock();
    std::memset(nameBlock, 0, ShredFileNameBlockSize);
    std::memcpy(nameBlock, fullName.c_str(), fullName.size());
    Os().SendMessageA(ProgressWindow, WM_SHRED_FILE, MakeShredWParam(ItemIndex, progressRange),
                      reinterpret_cast<LPARAM>(nameBlock));

    int64_t covered = INT64_MAX;
    for (int64_t cycle = 0; cycle < cycles; ++cycle) {
        Os().PostMessageA(ProgressWindow, WM_COMMAND,
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
    file.Reset();

    // A file whose old contents were not all overwritten is kept, under its own name, so the
    // user can try again; only the tail extension past the old end may fall short.
    if (covered < originalLength) {
        SendStatus(StatusOverwriteFailed);
        return StatusOverwriteFailed;
    }

    if (Settings.MangleDateAndTime && streamSuffix.empty()) {
        BackdateLastWriteTime(fullName);
        if (!ScrambleName(fullName))
            return StatusFinished;
    }

    if (ntfs && streamSuffix.empty()) {
        const ShredStatus streams = ShredStreams(fullName, tailLength);
        if (streams != StatusShredded) {
            // Deleting the file would delete a stream that was never overwritten with it.
            SendStatus(streams);
            return streams;
        }
    }

    const ShredStatus status =
        Os().Remove(fullName.c_str()) == -1 ? StatusRemoveFailed : StatusShredded;
    SendStatus(status);
    return status;
}

ShredStatus CShredThread::ShredStreams(const std::string& fullName, int tailLength)
{
    ShredStatus kept = StatusShredded;
    for (const StreamName& stream : EnumAlternateStreams(fullName)) {
        if (!stream.Usable) {
            SendStatus(StatusInvalidArguments);
            kept = CombineStreamStatus(kept, StatusInvalidArguments);
            continue;
        }
        kept = CombineStreamStatus(kept, ShredFile(fullName, tailLength, true, stream.Suffix));
    }
    return kept;
}
