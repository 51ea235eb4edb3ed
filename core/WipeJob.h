// A wipe of a volume's free space: what it is given, what it shows while it runs (read by the
// progress window on a timer), and what it reports at its end.
#pragma once

#include "core/ShredSettings.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// The folder at the volume's root that holds the filler files while a wipe runs: recognisable to
// the user, and removed by the next wipe of the volume when a crash or a power loss left it.
constexpr char WipeFolderName[] = "Orlenwick Free Space Wipe (safe to delete)";
// Inside it, the folder of the small files that take the free file records.
constexpr char WipeRecordsFolderName[] = "records";

// Posted by the wipe's worker to the progress window when the result is ready.
constexpr UINT WM_WIPE_DONE = WM_USER + 1001; // 2025

struct WipeOptions
{
    // The method and passes; the other two settings concern files only.
    ShredSettings Settings;
    // Every write of a filler is one block or less.
    uint32_t BlockSize = 1u << 20;
    // No filler file grows past this: FAT32 refuses a file of 4 GiB.
    uint64_t FillerFileSize = 1ull << 30;
    // Written data is flushed at least this often, so that a cancel never waits for a long flush.
    uint64_t FlushInterval = 64ull << 20;
    // Given back from the last filler before the file records are taken, so that the folder
    // holding the small files has room to grow. A volume reuses its free records before it makes
    // new ones, so this also bounds how much its record table can grow for good (NTFS never
    // shrinks it).
    uint64_t RecordReserve = 4ull << 20;
    // The most small files a wipe creates.
    uint32_t RecordBound = 250000;
    // Each small file's random content: small enough to live inside an NTFS file record.
    uint32_t RecordContentSize = 512;
};

enum class WipePhase : int
{
    Waiting,   // for a shred or another wipe to finish
    Preparing, // checking the volume, removing what a crashed wipe left
    Filling,
    Records,
    Cleaning,
    Finished,
};

// Written by the worker, read by the window; only the cancel request goes the other way.
struct WipeProgress
{
    std::atomic<int> Phase{static_cast<int>(WipePhase::Waiting)};
    // Bytes written by every pass so far, and the estimate of all of them.
    std::atomic<uint64_t> BytesDone{0};
    std::atomic<uint64_t> BytesTotal{0};
    std::atomic<uint32_t> Records{0};
    // GetTickCount64 when the filling began; 0 before.
    std::atomic<uint64_t> FillStartedTick{0};
    std::atomic<bool> CancelRequested{false};

    WipePhase CurrentPhase() const { return static_cast<WipePhase>(Phase.load()); }
    void SetPhase(WipePhase phase) { Phase = static_cast<int>(phase); }
};

enum class WipeOutcome
{
    Wiped,     // the free space was filled and every filler deleted
    Failed,    // something could not be written or deleted: see Failures
    Refused,   // nothing was started: see Refusal
    Cancelled, // stopped by the user; every filler deleted unless Failures say otherwise
};

struct WipeResult
{
    WipeOutcome Outcome = WipeOutcome::Failed;
    // As the user names the volume: "N:", or a mounted folder's path.
    std::string Volume;
    // The free space the fill covered with every pass, and the small files created.
    uint64_t BytesWiped = 0;
    uint32_t Records = 0;
    std::string Refusal;
    // One entry per failure: what (a path) and why.
    struct Failure
    {
        std::string What;
        std::string Why;
    };
    std::vector<Failure> Failures;
};

// What the command line's process ends with.
enum WipeExitStatus : UINT
{
    WipeExitWiped = 0,
    WipeExitFailed = 1,
    WipeExitRefused = 2,
    WipeExitCancelled = 3,
    WipeExitUsage = 4,
};

inline WipeExitStatus ExitStatusOf(WipeOutcome outcome)
{
    switch (outcome) {
    case WipeOutcome::Wiped:
        return WipeExitWiped;
    case WipeOutcome::Refused:
        return WipeExitRefused;
    case WipeOutcome::Cancelled:
        return WipeExitCancelled;
    default:
        return WipeExitFailed;
    }
}

// One wipe, shared by whoever started it, its worker and its progress window.
struct WipeJob
{
    std::string Root; // "N:\"
    WipeOptions Options;
    WipeProgress Progress;
    // Told with WM_WIPE_DONE once the result is stored; none for a wipe run without a window.
    HWND ProgressWindow = nullptr;

    void StoreResult(WipeResult result)
    {
        std::lock_guard<std::mutex> held(resultLock);
        stored = std::move(result);
    }
    std::optional<WipeResult> Result() const
    {
        std::lock_guard<std::mutex> held(resultLock);
        return stored;
    }

private:
    mutable std::mutex resultLock;
    std::optional<WipeResult> stored;
};
