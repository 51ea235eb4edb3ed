// The worker: one per selected item (one for the Recycle Bin), holding ShredLock for its whole
// item and reporting every step to the progress window. The engine's operations are its members.
#pragma once

#include "afx/AfxWin.h"
#include "common/Unique.h"
#include "core/ShredProtocol.h"
#include "core/ShredSettings.h"
#include "core/ShreddablePath.h"

#include <wincrypt.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// A named data stream of a file, as the backup interface lists it. A name that does not convert
// exactly, or is not a plain ":name:type", is kept in the list only to be reported: it is never
// used to address anything.
struct StreamName
{
    std::string Suffix;
    bool Usable = false;
};
using StreamNameList = std::vector<StreamName>;

// Bytes of a file from an offset.
struct ByteRange
{
    int64_t Offset = 0;
    int64_t Length = 0;
};

// The system calls of the engine (engine/ShredOs.h).
class ShredOs;

// The stack each worker reserves: a quarter of the default. A job starts a thread for every
// selected item at once, and thousands of them must fit a 32-bit shell's address space; yet the
// deepest folder walk that paths of MAX_PATH allow, with a message box shown at its bottom, must
// fit in half of it (about 110 KiB on x64).
constexpr UINT WorkerStackReservation = 256 * 1024;

// Where the worker's members are defined:
//   jobs/ShredThread.cpp      its life (construction, settings, Run, RunJob, the thread's
//                             instance calls), ShredItem, RemoveLink
//   jobs/DirectoryWalk.cpp    ShredDirectory, ShredEntries, ShredEntry, EntryPath, ListablePath,
//                             RemoveFolder
//   jobs/RecycleBinWalk.cpp   ShredRecycleBin, ShredDeletionRecord
//   engine/WorkerScope.cpp    Os, SelectedItems
//   engine/ShredFile.cpp      ShredFile, ShredFileShownAs, OverwriteContents, OverwriteOpenFile,
//                             ShredStreams, RunCycles, CycleCount and the window's messages
//                             (AnnounceFile, AnnounceName, SendStatus, ReportFailure)
//   engine/PassWriter.cpp     the pass writers, WriteBlocks, PartsOfPass, CommitWithRetry,
//                             SendStep, FillRandom, FillRandomOrFallback, KeepProviderLoaded
//   engine/AlternateStreams.cpp  EnumAlternateStreams
//   engine/NameMangler.cpp    ScrambleName, RenameScrambled, BackdateLastWriteTime
//   engine/VolumeProbe.cpp    ProbeVolume, GetBytesPerSector, HasNamedStreams
class CShredThread : public CWinThread
{
    DECLARE_DYNCREATE(CShredThread)

public:
    CShredThread();
    ~CShredThread() override;

    void SetSettings(ShredSettings settings);

    BOOL InitInstance() override;
    // Does the whole job, then ends the thread and deletes the worker; never returns.
    int Run() override;
    int ExitInstance() override;

    // 1 when the path was handled, whatever the outcome; 2 when the volume probe refused it. A
    // path the name rules refuse is reported.
    int ShredItem(std::string path);
    int ShredItem(const ShreddablePath& path);

    // Shredding one file, or one named stream of it when streamSuffix is not empty (a folder's
    // too). Returns the final status sent for it.
    ShredStatus ShredFile(const ShreddablePath& path, int tailLength, bool namedStreams,
                          std::string streamSuffix);
    // True when the folder is gone.
    bool ShredDirectory(const ShreddablePath& path, int tailLength, bool namedStreams);
    void ShredRecycleBin();

    // Pass writers. Each returns how many bytes from offset 0 it wrote and flushed to disk
    // (for a sequence, the least of its passes): less than the length means the pass failed.
    int64_t WritePatternPass(int descriptor, int64_t length, const BYTE* pattern,
                             int patternLength);
    int64_t WriteRandomPass(int descriptor, int64_t length);
    int64_t WriteDoDPasses(int descriptor, int64_t length);
    int64_t WriteGutmannPasses(int descriptor, int64_t length);
    // 0, or the system error code of the cryptographic provider.
    DWORD FillRandom(BYTE* buffer, DWORD length);

    // The named streams of a file or folder, or nothing when they could not all be read.
    std::optional<StreamNameList> EnumAlternateStreams(std::string path);

    bool ProbeVolume(std::string path, int& tailLength, bool& namedStreams);
    int GetBytesPerSector(const std::string& root);
    bool HasNamedStreams(const std::string& root);

    ShredSettings Settings;
    int32_t ItemIndex = 1;
    std::string ItemPath;
    HWND ProgressWindow = nullptr;
    bool IsRecycleBin = false;
    // Every item of the job this worker belongs to, shared by its workers: a file whose data has
    // other names is overwritten only when all of them lie inside these.
    std::shared_ptr<const std::vector<std::string>> Selection;

    // Every system call of the job goes through here: the real calls, or a test's in their
    // place (Seam<ShredOs>).
    ShredOs& Os() const;

    static CCriticalSection ShredLock;

private:
    void RunJob();
    int ShredItem(const std::string& path, const std::optional<ShreddablePath>& item);
    struct FolderContents
    {
        // The listing was read to its end.
        bool Listed = false;
        // Every entry listed is gone.
        bool AllGone = false;
    };
    // Shreds every entry of a folder held open by ShredDirectory.
    FolderContents ShredEntries(const ShreddablePath& folder, int tailLength, bool namedStreams);
    // One entry of the folder; true when it is gone.
    bool ShredEntry(const ShreddablePath& folder, const WIN32_FIND_DATAW& entry,
                    std::optional<std::optional<ShreddablePath>>& shortFolder, int tailLength,
                    bool namedStreams);
    // The path of a listed entry: below the folder's path, or below its short form (asked for once
    // per folder); reported, and nothing, when neither names it safely.
    std::optional<ShreddablePath>
    EntryPath(const ShreddablePath& folder, const WIN32_FIND_DATAW& entry,
              std::optional<std::optional<ShreddablePath>>& shortFolder);
    // Removes an emptied folder, its name scrambled first when names are; reports a folder that
    // was `emptied` and still stays. True when it is gone.
    bool RemoveFolder(const ShreddablePath& folder, bool emptied);
    // The folder's path, or its short form, short enough to be listed; nothing when neither is.
    std::optional<ShreddablePath> ListablePath(const ShreddablePath& folder);
    // Opens, announces, overwrites with every cycle of the method and closes. The status a
    // deleted file will have (StatusShredded only for storage written in place; a cloud
    // placeholder's, not overwritten at all) when every byte of it on this disk was overwritten,
    // else the status that keeps the file.
    ShredStatus OverwriteContents(const ShreddablePath& path, const std::string& fullName,
                                  int tailLength);
    // Overwrites what the open file holds, from `originalLength` bytes: its allocated ranges
    // when it is sparse; the status as OverwriteContents gives it.
    ShredStatus OverwriteOpenFile(const std::string& fullName, HANDLE file, int descriptor,
                                  bool sparse, int tailLength, ShredStatus overwritten);
    // ShredFile, with the name the window lists a failure under: the file's own, or, for a
    // stream of a file already renamed, the file's name before.
    ShredStatus ShredFileShownAs(const std::string& shownName, const ShreddablePath& path,
                                 int tailLength, bool namedStreams,
                                 const std::string& streamSuffix);
    // The number of times the method's writer runs: each posts one pass marker.
    int64_t CycleCount() const;
    // Announces the file with the progress range of `bytes` to write in every pass, and sets
    // how many writes each progress step stands for.
    void AnnounceFile(const std::string& fullName, int64_t bytes);
    // The least length the cycles wrote and flushed from offset 0; -1 when no cycle ran.
    int64_t RunCycles(int descriptor, int64_t overwriteLength);
    // Shreds the named streams of a file or folder; the status of a file that may be deleted
    // (`kept` itself) when every one was overwritten, else the status that keeps it.
    ShredStatus ShredStreams(const ShreddablePath& host, const std::string& shownName,
                             int tailLength, ShredStatus kept);
    void SendStatus(ShredStatus status);
    // A failure about `name` (a file, stream, folder or item): the window hears the name first,
    // unless it was the last one announced, so that its list can say what failed.
    void ReportFailure(const std::string& name, ShredStatus status);
    void AnnounceName(const std::string& name, int64_t progressRange);
    void SendStep();
    int64_t WriteBlocks(int descriptor, int64_t length, std::vector<BYTE>& block, int patternLength,
                        bool refillRandom);
    bool CommitWithRetry(int descriptor);
    // Random bytes even when the provider fails: the gaps are filled from a generator seeded
    // from the provider's last good output, or from the clock.
    void FillRandomOrFallback(BYTE* buffer, DWORD length);
    void BackdateLastWriteTime(const std::string& fullName);
    // Renames the file to random letters, showing the rename failure's boxes when it fails.
    std::optional<ShreddablePath> ScrambleName(const ShreddablePath& path);
    // Renames a file or folder to random letters of its name's lengths: its new path, or
    // nothing, with nothing shown, when it cannot be renamed.
    std::optional<ShreddablePath> RenameScrambled(const ShreddablePath& path, int* error = nullptr,
                                                  std::string* newName = nullptr);
    // Removes a link without going through it; true when it is gone.
    bool RemoveLink(const ShreddablePath& path, DWORD attributes, DWORD reparseTag);
    // Shreds the Recycle Bin's record of where an item came from, once the item is gone.
    void ShredDeletionRecord(const ShreddablePath& item);
    // The selected items a name may lie in without being another name of the user's data: the
    // job's selection and the item at hand (a Recycle Bin entry).
    std::vector<std::wstring> SelectedItems() const;

    // The parts of [0, length) a pass writes: PassRanges where set, else the whole.
    std::vector<ByteRange> PartsOfPass(int64_t length) const;

    // The ranges a sparse file's passes write (its allocated ones), for as long as it is open.
    std::optional<std::vector<ByteRange>> PassRanges;
    // How many writes each progress step stands for, so that the window's 16-bit range holds
    // every file; the writes since the last step.
    int64_t WritesPerStep = 1;
    int64_t WritesSinceStep = 0;
    // The name the window heard last.
    std::string LastAnnounced;

    // The item ShredItem is working on, and the serial number of its volume, which everything
    // opened for it must share.
    std::optional<ShreddablePath> CurrentItem;
    std::optional<DWORD> ItemVolume;
    // The volume of the item writes every change to new clusters (the probe tells).
    bool ItemWritesElsewhere = false;

    uint64_t FallbackState = 0;
    bool FallbackSeeded = false;

    // A provider context a job holds from before its first random block to its end, so that the
    // provider stays loaded between the contexts each block acquires and releases. No data is
    // ever drawn from it. Only a job (RunJob) keeps one, released through the seam that acquired
    // it; it tries once, and without it a pass runs as it would anyway.
    struct ProviderContextTraits : NullInvalid<HCRYPTPROV>
    {
        ShredOs* Os = nullptr;
        void Close(HCRYPTPROV context) const;
    };
    void KeepProviderLoaded();
    Unique<ProviderContextTraits> ProviderKeepAlive;
    bool ProviderKeepAliveDue = false;
};
