// The worker: one per selected item (one for the Recycle Bin), holding ShredLock for its whole
// item and reporting every step to the progress window. The engine's operations are its members.
#pragma once

#include "afx/AfxWin.h"
#include "common/Unique.h"
#include "core/ShredProtocol.h"
#include "core/ShredSettings.h"

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

// The system calls of the engine (engine/ShredOs.h).
class ShredOs;

// The stack each worker reserves: a quarter of the default. A job starts a thread for every
// selected item at once, and thousands of them must fit a 32-bit shell's address space; yet the
// deepest folder walk that paths of MAX_PATH allow, with a message box shown at its bottom, must
// fit in half of it (about 110 KiB on x64).
constexpr UINT WorkerStackReservation = 256 * 1024;

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

    // 1 when the path was handled, whatever the outcome; 2 when the volume probe refused it.
    int ShredItem(std::string path);

    // Shredding one file, or one named stream of it when streamSuffix is not empty. Returns the
    // final status sent for it, or nothing when it sent none (a failed rename).
    std::optional<ShredStatus> ShredFile(std::string path, int tailLength, bool ntfs,
                                         std::string streamSuffix);
    void ShredDirectory(std::string path, int tailLength, bool ntfs);
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

    StreamNameList EnumAlternateStreams(std::string path);

    bool ProbeVolume(std::string path, int& tailLength, bool& ntfs);
    int GetBytesPerSector(const std::string& root);
    bool IsNtfsVolume(const std::string& root);

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
    // Shreds every entry of a folder held open by ShredDirectory.
    void ShredEntries(const std::string& folder, int tailLength, bool ntfs);
    // The folder's path, or its short form, short enough to be listed; nothing when neither is.
    std::optional<std::string> ListablePath(const std::string& folder);
    // The short form of a path when the volume gives one that is shorter and shreddable.
    std::optional<std::string> ShortFormOf(const std::string& path);
    // Opens, announces, overwrites with every cycle of the method and closes; StatusShredded
    // when the whole original length was overwritten, else the status that keeps the file.
    ShredStatus OverwriteContents(const std::string& path, const std::string& fullName,
                                  int tailLength);
    // The number of times the method's writer runs: each posts one pass marker.
    int64_t CycleCount() const;
    void AnnounceFile(const std::string& fullName, int64_t overwriteLength);
    // The least length the cycles wrote and flushed from offset 0.
    int64_t RunCycles(int descriptor, int64_t overwriteLength);
    // Shreds the file's named streams; StatusShredded when every one was overwritten, else the
    // status that keeps the file.
    ShredStatus ShredStreams(const std::string& fullName, int tailLength);
    void SendStatus(ShredStatus status);
    void SendStep();
    int64_t WriteBlocks(int descriptor, int64_t length, std::vector<BYTE>& block, int patternLength,
                        bool refillRandom);
    bool CommitWithRetry(int descriptor);
    // Random bytes even when the provider fails: the gaps are filled from a generator seeded
    // from the provider's last good output, or from the clock.
    void FillRandomOrFallback(BYTE* buffer, DWORD length);
    void BackdateLastWriteTime(const std::string& fullName);
    bool ScrambleName(std::string& fullName);
    void RemoveLink(const std::string& path, DWORD attributes, DWORD reparseTag);
    // The selected items a name may lie in without being another name of the user's data: the
    // job's selection and the item at hand (a Recycle Bin entry).
    std::vector<std::wstring> SelectedItems() const;

    // The item ShredItem is working on, and the serial number of its volume, which everything
    // opened for it must share.
    std::string CurrentItem;
    std::optional<DWORD> ItemVolume;

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
