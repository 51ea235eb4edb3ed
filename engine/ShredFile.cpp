#include "common/TextConversion.h"
#include "core/ShredThread.h"
#include "engine/CheckedOpen.h"
#include "engine/OtherNames.h"
#include "engine/PassSequences.h"
#include "engine/ShredNames.h"
#include "engine/ShredOs.h"
#include "engine/SparseRanges.h"
#include "engine/StorageKind.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>

namespace {

// The file itself, or one of its streams named exactly: a full name cut short could be another
// file, and a stream suffix that is not one would be the file again.
bool IsShreddableFullName(const ShreddablePath& path, const std::string& streamSuffix)
{
    if (path.size() + streamSuffix.size() >= MAX_PATH)
        return false;
    if (streamSuffix.empty())
        return true;
    const std::optional<std::wstring> wide = WidenExactly(streamSuffix);
    return wide && IsStreamSuffix(*wide);
}

// Where streams decide the file's fate: any stream not overwritten keeps the file, and says why.
ShredStatus CombineStreamStatus(ShredStatus kept, ShredStatus stream)
{
    if (MeansGone(stream) || stream == StatusRemoveFailed)
        return kept; // overwritten; deleting the file removes a stream left behind
    if (kept == StatusOverwriteFailed || stream == StatusOverwriteFailed)
        return StatusOverwriteFailed;
    return MeansGone(kept) ? stream : kept;
}

} // namespace

void CShredThread::SendStatus(ShredStatus status)
{
    Os().SendMessageA(ProgressWindow, WM_COMMAND,
                      MakeShredWParam(ItemIndex, ShredStatusCommand(status)), 0);
}

void CShredThread::AnnounceName(const std::string& name, int64_t progressRange)
{
    LastAnnounced = name;
    // Only a name that was refused for its length does not fit the block: its two ends, which
    // the window shows of a long name, are kept, and not a cut that could read as another name.
    constexpr size_t End = (ShredFileNameBlockSize - 4) / 2;
    const std::string shown = name.size() < ShredFileNameBlockSize
                                  ? name
                                  : name.substr(0, End) + "..." + name.substr(name.size() - End);
    // The block belongs to the progress window from the moment it is sent.
    char* nameBlock = NewShredFileNameBlock(shown);
    Os().SendMessageA(ProgressWindow, WM_SHRED_FILE, MakeShredWParam(ItemIndex, progressRange),
                      reinterpret_cast<LPARAM>(nameBlock));
}

void CShredThread::ReportFailure(const std::string& name, ShredStatus status)
{
    // The window names a failure of the worker's own item by the item itself, for as long as
    // nothing else was announced.
    const bool named = name == LastAnnounced || (LastAnnounced.empty() && name == ItemPath);
    if (!named)
        AnnounceName(name, 0);
    SendStatus(status);
}

ShredStatus CShredThread::ShredFile(const ShreddablePath& path, int tailLength, bool namedStreams,
                                    std::string streamSuffix)
{
    return ShredFileShownAs(path.Narrow() + streamSuffix, path, tailLength, namedStreams,
                            streamSuffix);
}

ShredStatus CShredThread::ShredFileShownAs(const std::string& shownName, const ShreddablePath& path,
                                           int tailLength, bool namedStreams,
                                           const std::string& streamSuffix)
{
    const bool isFile = streamSuffix.empty();
    ShredStatus status = IsShreddableFullName(path, streamSuffix)
                             ? OverwriteContents(path, path.Narrow() + streamSuffix, tailLength)
                             : StatusInvalidArguments;
    std::optional<ShreddablePath> file = path;
    if (MeansGone(status) && Settings.MangleDateAndTime && isFile) {
        BackdateLastWriteTime(path.Narrow());
        // A failed rename has said so in its own boxes; the file keeps its name, and its streams
        // are shredded all the same.
        file = ScrambleName(path);
    }
    const ShreddablePath& current = file ? *file : path;
    // Deleting the file would delete a stream that was not overwritten with it.
    if (MeansGone(status) && namedStreams && isFile)
        status = ShredStreams(current, shownName, tailLength, status);
    if (MeansGone(status) && !file)
        status = StatusNameNotScrambled;
    const std::string fullName = current.Narrow() + streamSuffix;
    if (MeansGone(status) && Os().Remove(fullName.c_str()) == -1)
        status = StatusRemoveFailed;
    if (ShredStatusText(status))
        ReportFailure(shownName, status);
    else
        SendStatus(status);
    return status;
}

ShredStatus CShredThread::OverwriteContents(const ShreddablePath& path, const std::string& fullName,
                                            int tailLength)
{
    const ItemKind kind = fullName == path.Narrow() ? ItemKind::File : ItemKind::Stream;
    const CheckedHandle held = OpenChecked(Os(), fullName, kind, ItemVolume);
    if (!held.Handle)
        return *held.Refusal;
    // Overwriting would overwrite what every other name of the data shows.
    if (held.Information.nNumberOfLinks > 1 &&
        !AllNamesSelected(Os(), path.Wide(), SelectedItems()))
        return StatusHasOtherNames;
    const DWORD attributes = held.Information.dwFileAttributes;
    const Storage storage = StorageOf(Os(), held.Handle.Get(), attributes, ItemWritesElsewhere);
    // None of a placeholder's data is on this disk, and opening it for writing would fetch it.
    if (storage == Storage::CloudPlaceholder)
        return DeletedStatus(storage);
    const bool sparse = (attributes & FILE_ATTRIBUTE_SPARSE_FILE) != 0;
    // Read-only, hidden and system files can be written and deleted once their attributes are
    // reset; the held handle keeps the name on this file meanwhile.
    Os().SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    // A sparse file's allocated ranges are read through the handle that writes them.
    CheckedHandle writable = ReopenForWriting(Os(), fullName, held, sparse ? FILE_READ_DATA : 0);
    if (!writable.Handle)
        return *writable.Refusal;
    const HANDLE handle = writable.Handle.Get();
    const UniqueDescriptor file =
        OwnDescriptor(Os(), Os().OpenOsfHandle(handle, _O_WRONLY | _O_BINARY));
    if (!file)
        return StatusNoHandles;
    // The descriptor closes the handle from now on.
    writable.Handle.Release();
    return OverwriteOpenFile(fullName, handle, file.Get(), sparse, tailLength,
                             DeletedStatus(storage));
}

ShredStatus CShredThread::OverwriteOpenFile(const std::string& fullName, HANDLE handle,
                                            int descriptor, bool sparse, int tailLength,
                                            ShredStatus overwritten)
{
    const int64_t originalLength = Os().FileLength(descriptor);
    if (originalLength < 0)
        return StatusOverwriteFailed;
    const int64_t tail = Settings.OverwriteTails ? int64_t{tailLength} + 1 : 0;
    int64_t bytes = originalLength + tail;
    PassRanges.reset();
    if (sparse) {
        PassRanges = AllocatedRanges(Os(), handle, originalLength);
        if (PassRanges) {
            // The slack after the end lies in an allocated cluster only when the end is allocated.
            if (!PassRanges->empty() &&
                PassRanges->back().Offset + PassRanges->back().Length == originalLength)
                PassRanges->back().Length += tail;
            bytes = 0;
            for (const ByteRange& range : *PassRanges)
                bytes += range.Length;
        }
    }
    AnnounceFile(fullName, bytes);
    const int64_t covered = RunCycles(descriptor, originalLength + tail);
    PassRanges.reset();
    // A file whose old contents were not all overwritten is kept, under its own name, so the
    // user can try again; only the tail extension past the old end may fall short.
    return covered < originalLength ? StatusOverwriteFailed : overwritten;
}

int64_t CShredThread::CycleCount() const
{
    return Settings.ShreddingMethod == MethodRandomData ? Settings.Passes : 1;
}

void CShredThread::AnnounceFile(const std::string& fullName, int64_t bytes)
{
    const int64_t passesPerCycle = Settings.ShreddingMethod == MethodDoD       ? DoDPassCount
                                   : Settings.ShreddingMethod == MethodGutmann ? GutmannPassCount
                                                                               : 1;
    // In floating point: for the largest files and pass counts the count passes 64 bits.
    const long double steps = (static_cast<long double>(bytes / RandomBlockSize) + 1) *
                              static_cast<long double>(std::max<int64_t>(CycleCount(), 0)) *
                              passesPerCycle;
    // The range travels in 16 bits: a file with more steps than that sends one step for so many
    // writes that its range fits, and its bar still runs from empty to full.
    WritesPerStep =
        steps > MaxProgressRange ? static_cast<int64_t>(std::ceil(steps / MaxProgressRange)) : 1;
    WritesSinceStep = 0;
    AnnounceName(fullName, static_cast<int64_t>(steps / WritesPerStep));
}

int64_t CShredThread::RunCycles(int descriptor, int64_t overwriteLength)
{
    // No cycle at all has overwritten nothing.
    int64_t covered = CycleCount() > 0 ? INT64_MAX : -1;
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

ShredStatus CShredThread::ShredStreams(const ShreddablePath& host, const std::string& shownName,
                                       int tailLength, ShredStatus kept)
{
    const std::optional<StreamNameList> streams = EnumAlternateStreams(host.Narrow());
    if (!streams)
        return StatusStreamsUnreadable;
    for (const StreamName& stream : *streams) {
        if (!stream.Usable) {
            ReportFailure(shownName + stream.Suffix, StatusInvalidArguments);
            kept = CombineStreamStatus(kept, StatusInvalidArguments);
            continue;
        }
        kept = CombineStreamStatus(kept, ShredFileShownAs(shownName + stream.Suffix, host,
                                                          tailLength, true, stream.Suffix));
    }
    return kept;
}
