#include "common/TextConversion.h"
#include "core/ShredThread.h"
#include "engine/CheckedOpen.h"
#include "engine/OtherNames.h"
#include "engine/PassSequences.h"
#include "engine/ShredNames.h"
#include "engine/ShredOs.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>

namespace {

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

std::optional<ShredStatus> CShredThread::ShredFile(std::string path, int tailLength, bool ntfs,
                                                   std::string streamSuffix)
{
    std::string fullName = path + streamSuffix;
    const bool isFile = streamSuffix.empty();
    // StatusShredded for as long as every step has succeeded; the first failure is the status.
    ShredStatus status =
        IsShreddableFullName(path, streamSuffix) ? StatusShredded : StatusInvalidArguments;
    if (status == StatusShredded)
        status = OverwriteContents(path, fullName, tailLength);
    if (status == StatusShredded && Settings.MangleDateAndTime && isFile) {
        BackdateLastWriteTime(fullName);
        // A failed rename has said so in its own boxes: the file keeps its name, unreported.
        if (!ScrambleName(fullName))
            return std::nullopt;
    }
    // Deleting the file would delete a stream that was not overwritten with it.
    if (status == StatusShredded && ntfs && isFile)
        status = ShredStreams(fullName, tailLength);
    if (status == StatusShredded && Os().Remove(fullName.c_str()) == -1)
        status = StatusRemoveFailed;
    SendStatus(status);
    return status;
}

ShredStatus CShredThread::OverwriteContents(const std::string& path, const std::string& fullName,
                                            int tailLength)
{
    const CheckedHandle held = OpenChecked(Os(), fullName, ItemKind::File, ItemVolume);
    if (!held.Handle)
        return *held.Refusal;
    // Overwriting would overwrite what every other name of the data shows.
    if (held.Information.nNumberOfLinks > 1 &&
        !AllNamesSelected(Os(), Widen(path), SelectedItems()))
        return StatusHasOtherNames;
    // Read-only, hidden and system files can be written and deleted once their attributes are
    // reset; the held handle keeps the name on this file meanwhile.
    Os().SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    CheckedHandle writable = ReopenForWriting(Os(), fullName, held);
    if (!writable.Handle)
        return *writable.Refusal;
    const UniqueDescriptor file =
        OwnDescriptor(Os(), Os().OpenOsfHandle(writable.Handle.Get(), _O_WRONLY | _O_BINARY));
    if (!file)
        return StatusNoHandles;
    // The descriptor closes the handle from now on.
    writable.Handle.Release();
    const int64_t originalLength = Os().FileLength(file.Get());
    if (originalLength < 0)
        return StatusOverwriteFailed;
    const int64_t overwriteLength =
        originalLength + (Settings.OverwriteTails ? int64_t{tailLength} + 1 : 0);
    AnnounceFile(fullName, overwriteLength);
    // A file whose old contents were not all overwritten is kept, under its own name, so the
    // user can try again; only the tail extension past the old end may fall short.
    return RunCycles(file.Get(), overwriteLength) < originalLength ? StatusOverwriteFailed
                                                                   : StatusShredded;
}

int64_t CShredThread::CycleCount() const
{
    return Settings.ShreddingMethod == MethodRandomData ? Settings.Passes : 1;
}

void CShredThread::AnnounceFile(const std::string& fullName, int64_t overwriteLength)
{
    const int64_t passesPerCycle = Settings.ShreddingMethod == MethodDoD       ? DoDPassCount
                                   : Settings.ShreddingMethod == MethodGutmann ? GutmannPassCount
                                                                               : 1;
    const int64_t progressRange =
        (overwriteLength / RandomBlockSize + 1) * CycleCount() * passesPerCycle;
    // The block belongs to the progress window from the moment it is sent.
    char* nameBlock = NewShredFileNameBlock(fullName);
    Os().SendMessageA(ProgressWindow, WM_SHRED_FILE, MakeShredWParam(ItemIndex, progressRange),
                      reinterpret_cast<LPARAM>(nameBlock));
}

int64_t CShredThread::RunCycles(int descriptor, int64_t overwriteLength)
{
    int64_t covered = INT64_MAX;
    for (int64_t cycle = 0; cycle < CycleCount(); ++cycle) {
        Os().PostMessageA(ProgressWindow, WM_COMMAND,
                          MakeShredWParam(ItemIndex, ID_SHRED_PASS_BASE + cycle), 0);
        switch (Settings.ShreddingMethod) {
        case MethodDoD:
            covered = std::min(covered, WriteDoDPasses(descriptor, overwriteLength));
            break;
        case MethodGutmann:
            covered = std::min(covered, WriteGutmannPasses(descriptor, overwriteLength));
            break;
        default:
            covered = std::min(covered, WriteRandomPass(descriptor, overwriteLength));
            break;
        }
    }
    return covered;
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
        // A stream is never renamed, so it always ends with a status.
        kept = CombineStreamStatus(
            kept,
            ShredFile(fullName, tailLength, true, stream.Suffix).value_or(StatusOverwriteFailed));
    }
    return kept;
}
