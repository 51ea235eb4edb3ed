#include "engine/FreeSpaceWipe.h"

#include "common/TextConversion.h"
#include "engine/ShredNames.h"
#include "engine/WipeReport.h"
#include "engine/WipeTarget.h"

#include <winioctl.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr char FillerPrefix[] = "Filler-";
constexpr size_t FillerDigits = 6;
constexpr char FillerSuffix[] = ".tmp";
constexpr size_t RecordNameLength = 8;
// A random name already taken is drawn again this many times before the records end.
constexpr int RecordNameDraws = 8;
// The smallest write tried once the volume refuses a block: below a sector nothing fits.
constexpr DWORD SmallestPiece = 512;
// Past the free space the volume reported, the fill stops anyway: a volume that keeps
// accepting (one that compresses, or that another program is freeing) never makes it run on.
constexpr uint64_t SmallestOverrun = 64ull << 20;
// The records are taken in rounds of this many small files. A small file that takes a free file
// record uses no cluster (its content lives in the record), and its name takes about a hundred
// bytes of its folder's index; once a round uses more than this much of the volume for each of its
// files, the volume is making new records, which never held anything, or the files are not small
// to it: every free record there was is taken.
constexpr uint32_t RecordRound = 64;
constexpr uint64_t MostClustersPerRecord = 512;

// ERROR_DISK_QUOTA_EXCEEDED, which mingw's headers lack: the user may write no more there.
constexpr DWORD DiskQuotaExceeded = 1295;

bool IsVolumeFull(DWORD error)
{
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ||
           error == DiskQuotaExceeded;
}

std::string FillerName(size_t index)
{
    char digits[FillerDigits + 1];
    std::snprintf(digits, sizeof digits, "%06u", static_cast<unsigned>(index % 1000000));
    return std::string(FillerPrefix) + digits + FillerSuffix;
}

bool IsFillerName(const std::string& name)
{
    const size_t prefix = sizeof FillerPrefix - 1;
    const size_t suffix = sizeof FillerSuffix - 1;
    if (name.size() != prefix + FillerDigits + suffix || name.compare(0, prefix, FillerPrefix) ||
        name.compare(prefix + FillerDigits, suffix, FillerSuffix))
        return false;
    return std::all_of(name.begin() + prefix, name.begin() + prefix + FillerDigits,
                       [](char c) { return c >= '0' && c <= '9'; });
}

bool IsRecordName(const std::string& name)
{
    return name.size() == RecordNameLength &&
           std::all_of(name.begin(), name.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

// The entries of a folder, without "." and "..", through the seam's listing.
std::vector<WIN32_FIND_DATAW> ListFolder(ShredOs& os, const std::string& folder)
{
    std::vector<WIN32_FIND_DATAW> entries;
    WIN32_FIND_DATAW entry{};
    const UniqueListing listing =
        OwnListing(os, os.FindFirstFileW(Widen(folder + "\\*").c_str(), &entry));
    for (bool more = listing.IsValid(); more; more = os.FindNextFileW(listing.Get(), &entry)) {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..")
            entries.push_back(entry);
    }
    return entries;
}

bool Exists(ShredOs& os, const std::string& path, WIN32_FIND_DATAW* found = nullptr)
{
    WIN32_FIND_DATAW entry{};
    const bool exists = OwnListing(os, os.FindFirstFileW(Widen(path).c_str(), &entry)).IsValid();
    if (exists && found)
        *found = entry;
    return exists;
}

bool IsPlainFile(const WIN32_FIND_DATAW& entry)
{
    return !(entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

bool IsPlainFolder(const WIN32_FIND_DATAW& entry)
{
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsLink(entry);
}

std::string NameOf(const WIN32_FIND_DATAW& entry)
{
    return NarrowWithSubstitutes(entry.cFileName);
}

} // namespace

FreeSpaceWipe::FreeSpaceWipe(ShredOs& os, const WipeOptions& options, WipeProgress& progress)
    : os(os), options(options), progress(progress)
{}

bool FreeSpaceWipe::Cancelled() const
{
    return progress.CancelRequested.load();
}

void FreeSpaceWipe::Fail(const std::string& what, const std::string& why)
{
    result.Failures.push_back({what, why});
}

void FreeSpaceWipe::Fail(const std::string& what, const char* doing, DWORD error)
{
    Fail(what, std::string(doing) + ": " + SystemErrorText(error));
}

WipeResult FreeSpaceWipe::Run(const std::string& volumeRoot)
{
    root = volumeRoot;
    folder = root + WipeFolderName;
    recordsFolder = folder + "\\" + WipeRecordsFolderName;
    result.Volume = VolumeNameOf(root);
    progress.SetPhase(WipePhase::Preparing);
    if (std::optional<std::string> refusal = WipeRefusal(os, root)) {
        result.Outcome = WipeOutcome::Refused;
        result.Refusal = *refusal;
        progress.SetPhase(WipePhase::Finished);
        return result;
    }
    const std::optional<uint64_t> free = RemoveLeftover() ? FreeBytes() : std::nullopt;
    // Checked once a crashed wipe's fillers are gone: they may be what filled the volume.
    if (free && *free == 0) {
        result.Outcome = WipeOutcome::Refused;
        result.Refusal = result.Volume + " is full: there is no free space to wipe.";
        progress.SetPhase(WipePhase::Finished);
        return result;
    }
    if (free && MakeFolders()) {
        random = std::make_unique<RandomBlocks>(os, options.BlockSize);
        passes = WipePassesOf(options.Settings, *random);
        progress.BytesTotal = *free * passes.size();
        progress.FillStartedTick = ::GetTickCount64();
        progress.SetPhase(WipePhase::Filling);
        Fill(*free);
        if (result.Failures.empty() && !Cancelled())
            TakeFreeRecords();
        stoppedByCancel = Cancelled();
    }
    // Only what was made and held open as the wipe's own is cleaned away.
    if (folderHandle)
        Clean();
    random.reset();
    if (!result.Refusal.empty())
        result.Outcome = WipeOutcome::Refused;
    else if (stoppedByCancel)
        result.Outcome = WipeOutcome::Cancelled;
    else
        result.Outcome = result.Failures.empty() ? WipeOutcome::Wiped : WipeOutcome::Failed;
    progress.SetPhase(WipePhase::Finished);
    return result;
}

bool FreeSpaceWipe::RemoveLeftover()
{
    WIN32_FIND_DATAW entry{};
    if (!Exists(os, folder, &entry))
        return true;
    // A link is never followed, and a file of that name is the user's.
    if (!IsPlainFolder(entry)) {
        Fail(folder, "is not a folder a wipe made (a file or a link of the same name); it was "
                     "left as it is and nothing was wiped");
        return false;
    }
    // Only what a wipe makes is removed: anything else found there is the user's.
    std::vector<std::string> fillerFiles;
    std::vector<std::string> recordFiles;
    bool hasRecordsFolder = false;
    std::vector<std::string> foreign;
    for (const WIN32_FIND_DATAW& child : ListFolder(os, folder)) {
        const std::string name = NameOf(child);
        if (IsPlainFile(child) && IsFillerName(name)) {
            fillerFiles.push_back(folder + "\\" + name);
        } else if (IsPlainFolder(child) && name == WipeRecordsFolderName) {
            hasRecordsFolder = true;
            for (const WIN32_FIND_DATAW& record : ListFolder(os, recordsFolder)) {
                const std::string recordName = NameOf(record);
                if (IsPlainFile(record) && IsRecordName(recordName))
                    recordFiles.push_back(recordsFolder + "\\" + recordName);
                else
                    foreign.push_back(recordsFolder + "\\" + recordName);
            }
        } else {
            foreign.push_back(folder + "\\" + name);
        }
    }
    for (const std::string& path : foreign)
        Fail(path, "is not a file a wipe made; the folder of an earlier wipe was left as it is "
                   "and nothing was wiped");
    if (!foreign.empty())
        return false;
    for (const std::vector<std::string>* files : {&fillerFiles, &recordFiles})
        for (const std::string& path : *files)
            if (!os.DeleteFileA(path.c_str()))
                Fail(path, "left by an earlier wipe, could not be deleted", os.GetLastError());
    if (hasRecordsFolder && !os.RemoveDirectoryA(recordsFolder.c_str()))
        Fail(recordsFolder, "left by an earlier wipe, could not be removed", os.GetLastError());
    if (result.Failures.empty() && !os.RemoveDirectoryA(folder.c_str()))
        Fail(folder, "left by an earlier wipe, could not be removed", os.GetLastError());
    return result.Failures.empty();
}

std::optional<uint64_t> FreeSpaceWipe::AvailableBytes()
{
    ULARGE_INTEGER available{};
    ULARGE_INTEGER total{};
    ULARGE_INTEGER totalFree{};
    if (!os.GetDiskFreeSpaceExA(root.c_str(), &available, &total, &totalFree))
        return std::nullopt;
    return available.QuadPart;
}

std::optional<uint64_t> FreeSpaceWipe::FreeBytes()
{
    const std::optional<uint64_t> free = AvailableBytes();
    if (!free)
        Fail(root, "the free space could not be read", os.GetLastError());
    return free;
}

UniqueFileHandle FreeSpaceWipe::MakeFolder(const std::string& path, const char* failure)
{
    if (!os.CreateDirectoryA(path.c_str())) {
        const DWORD error = os.GetLastError();
        // A volume that did not say it was read-only until it was written to.
        if (error == ERROR_WRITE_PROTECT)
            result.Refusal = ReadOnlyRefusal(result.Volume);
        else
            Fail(path == folder ? root : path, failure, error);
        return UniqueFileHandle();
    }
    // Held without sharing deletion, so that nobody renames the folder or puts a link in its
    // place while the wipe writes into it and deletes from it.
    UniqueFileHandle handle = OwnFileHandle(
        os, os.CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!handle || !os.GetFileInformationByHandle(handle.Get(), &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        Fail(path, "is not the folder the wipe made; it was left as it is", os.GetLastError());
        return UniqueFileHandle();
    }
    // Files made in a compressed folder are compressed, and a compressed filler covers less
    // than it writes.
    if (information.dwFileAttributes & FILE_ATTRIBUTE_COMPRESSED) {
        USHORT none = COMPRESSION_FORMAT_NONE;
        DWORD returned = 0;
        os.DeviceIoControl(handle.Get(), FSCTL_SET_COMPRESSION, &none, sizeof none, nullptr, 0,
                           &returned);
    }
    return handle;
}

bool FreeSpaceWipe::MakeFolders()
{
    folderHandle = MakeFolder(
        folder, "no access to the root (the folder for the filler files could not be made)");
    if (folderHandle)
        recordsHandle = MakeFolder(recordsFolder, "could not be made");
    return folderHandle && recordsHandle;
}

void FreeSpaceWipe::Fill(uint64_t freeBytes)
{
    const uint64_t bound = freeBytes + std::max(freeBytes / 16, SmallestOverrun);
    uint64_t filled = 0;
    bool full = false;
    for (size_t index = 0; !full && filled < bound && result.Failures.empty() && !Cancelled();
         ++index) {
        const size_t before = fillers.size();
        FillFile(index, std::min(options.FillerFileSize, bound - filled), full);
        if (fillers.size() > before)
            filled += fillers.back().Length;
    }
    result.BytesWiped = filled;
    // The estimate came from the free space reported; the bar ends where the fill did.
    if (!Cancelled())
        progress.BytesTotal = progress.BytesDone.load();
}

void FreeSpaceWipe::FillFile(size_t index, uint64_t limit, bool& full)
{
    const std::string path = folder + "\\" + FillerName(index);
    // Deleted when closed, so that even a wipe whose process is killed leaves no filler.
    UniqueFileHandle file = OwnFileHandle(
        os, os.CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, CREATE_NEW,
                           FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_SEQUENTIAL_SCAN));
    if (!file) {
        const DWORD error = os.GetLastError();
        if (IsVolumeFull(error))
            full = true;
        else
            Fail(path, "could not be created", error);
        return;
    }
    fillers.push_back(Filler{path, std::move(file), 0});
    Filler& filler = fillers.back();
    if (!Uncompressed(filler))
        return;
    for (size_t pass = 0; pass < passes.size(); ++pass) {
        PassData data(passes[pass], *random);
        const bool first = pass == 0;
        const uint64_t written =
            WritePass(filler, data, first ? limit : filler.Length, first, full);
        if (first)
            filler.Length = written;
        if (!result.Failures.empty() || Cancelled() || !Flush(filler))
            return;
    }
}

bool FreeSpaceWipe::Uncompressed(Filler& filler)
{
    BY_HANDLE_FILE_INFORMATION information{};
    if (os.GetFileInformationByHandle(filler.File.Get(), &information) &&
        !(information.dwFileAttributes & FILE_ATTRIBUTE_COMPRESSED))
        return true;
    USHORT none = COMPRESSION_FORMAT_NONE;
    DWORD returned = 0;
    if (os.DeviceIoControl(filler.File.Get(), FSCTL_SET_COMPRESSION, &none, sizeof none, nullptr, 0,
                           &returned) &&
        os.GetFileInformationByHandle(filler.File.Get(), &information) &&
        !(information.dwFileAttributes & FILE_ATTRIBUTE_COMPRESSED))
        return true;
    Fail(filler.Path, "is compressed by the volume, so it would not reach all of the free space; "
                      "nothing more was written");
    return false;
}

uint64_t FreeSpaceWipe::WritePass(Filler& filler, PassData& data, uint64_t length, bool extend,
                                  bool& full)
{
    const HANDLE file = filler.File.Get();
    if (!os.SetFilePointerEx(file, 0, nullptr, FILE_BEGIN)) {
        Fail(filler.Path, "could not be written", os.GetLastError());
        return 0;
    }
    uint64_t written = 0;
    DWORD piece = options.BlockSize;
    while (written < length && !Cancelled()) {
        const auto count =
            static_cast<DWORD>(std::min<uint64_t>(options.BlockSize, length - written));
        const BYTE* bytes = data.At(written);
        DWORD done = 0;
        while (done < count) {
            const DWORD asked = std::min(piece, count - done);
            DWORD wrote = 0;
            const BOOL ok = os.WriteFile(file, bytes + done, asked, &wrote);
            const DWORD error = ok ? ERROR_HANDLE_DISK_FULL : os.GetLastError();
            done += wrote;
            written += wrote;
            progress.BytesDone += wrote;
            unflushed += wrote;
            if (ok && wrote > 0)
                continue;
            // A refused write may still have moved the file's position: it goes on from what
            // was counted.
            os.SetFilePointerEx(file, static_cast<LONGLONG>(written), nullptr, FILE_BEGIN);
            if (!extend || !IsVolumeFull(error)) {
                Fail(filler.Path, "could not be written", error);
                return written;
            }
            // The last clusters take smaller writes than a block.
            if (piece <= SmallestPiece) {
                full = true;
                return written;
            }
            piece = std::max(SmallestPiece, piece / 2);
        }
        if (unflushed >= options.FlushInterval && !Flush(filler))
            return written;
    }
    return written;
}

bool FreeSpaceWipe::Flush(Filler& filler)
{
    unflushed = 0;
    if (os.FlushFileBuffers(filler.File.Get()))
        return true;
    Fail(filler.Path, "could not be flushed to the disk", os.GetLastError());
    return false;
}

void FreeSpaceWipe::ReleaseReserve()
{
    for (auto filler = fillers.rbegin(); filler != fillers.rend(); ++filler) {
        if (filler->Length == 0)
            continue;
        const uint64_t kept = filler->Length - std::min(options.RecordReserve, filler->Length);
        if (os.SetFilePointerEx(filler->File.Get(), static_cast<LONGLONG>(kept), nullptr,
                                FILE_BEGIN) &&
            os.SetEndOfFile(filler->File.Get()))
            filler->Length = kept;
        return;
    }
}

bool FreeSpaceWipe::FlushVolume()
{
    // Needs an administrator's rights on Windows; without them each record is flushed itself.
    const std::string volume = "\\\\.\\" + result.Volume;
    const UniqueFileHandle handle =
        OwnFileHandle(os, os.CreateFileA(volume.c_str(), GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0));
    return handle && os.FlushFileBuffers(handle.Get());
}

void FreeSpaceWipe::TakeFreeRecords()
{
    progress.SetPhase(WipePhase::Records);
    ReleaseReserve();
    std::vector<BYTE> content(options.RecordContentSize);
    uint32_t created = 0;
    const bool volumeFlush = FlushVolume();
    int draws = 0;
    std::optional<uint64_t> freeAtRound = AvailableBytes();
    while (created < options.RecordBound && !Cancelled()) {
        if (created > 0 && created % RecordRound == 0) {
            const std::optional<uint64_t> free = AvailableBytes();
            if (!free || !freeAtRound ||
                *freeAtRound > *free + uint64_t(RecordRound) * MostClustersPerRecord)
                break;
            freeAtRound = free;
        }
        BYTE letters[RecordNameLength];
        random->Take(letters, sizeof letters);
        std::string name;
        for (BYTE letter : letters)
            name += static_cast<char>('A' + letter % 26);
        const std::string path = recordsFolder + "\\" + name;
        UniqueFileHandle file =
            OwnFileHandle(os, os.CreateFileA(path.c_str(), GENERIC_WRITE, 0, CREATE_NEW, 0));
        if (!file) {
            // A name drawn twice is drawn again; anything else means no more can be made.
            if (os.GetLastError() == ERROR_FILE_EXISTS && ++draws < RecordNameDraws)
                continue;
            break;
        }
        draws = 0;
        ++created;
        progress.Records = created;
        random->Take(content.data(), content.size());
        DWORD wrote = 0;
        const bool written =
            os.WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &wrote) &&
            wrote == content.size();
        if (!volumeFlush)
            os.FlushFileBuffers(file.Get());
        // A record whose content no longer fits is still a record taken: it is the last.
        if (!written)
            break;
    }
    if (volumeFlush)
        FlushVolume();
    result.Records = created;
}

void FreeSpaceWipe::Clean()
{
    progress.SetPhase(WipePhase::Cleaning);
    // Closing deletes them; one still there afterwards is deleted by name.
    std::vector<std::string> fillerPaths;
    for (const Filler& filler : fillers)
        fillerPaths.push_back(filler.Path);
    fillers.clear();
    for (const std::string& path : fillerPaths)
        if (Exists(os, path) && !os.DeleteFileA(path.c_str()))
            Fail(path, "could not be deleted", os.GetLastError());
    if (recordsHandle) {
        for (const WIN32_FIND_DATAW& record : ListFolder(os, recordsFolder)) {
            const std::string path = recordsFolder + "\\" + NameOf(record);
            if (!IsPlainFile(record) || !IsRecordName(NameOf(record)))
                Fail(path, "appeared in the wipe's folder while it ran; it was left as it is");
            else if (!os.DeleteFileA(path.c_str()))
                Fail(path, "could not be deleted", os.GetLastError());
        }
        recordsHandle.Reset();
        if (!os.RemoveDirectoryA(recordsFolder.c_str()))
            Fail(recordsFolder, "could not be removed", os.GetLastError());
    }
    folderHandle.Reset();
    if (Exists(os, folder) && !os.RemoveDirectoryA(folder.c_str()))
        Fail(folder, "could not be removed", os.GetLastError());
}
