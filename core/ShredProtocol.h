// What the workers tell the progress window: statuses, progress steps and pass markers as
// WM_COMMAND ids, and WM_SHRED_FILE announcing each file. Item index in the high word of wParam.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

constexpr UINT WM_SHRED_FILE = WM_USER + 1000; // 2024

enum ShredStatus : int
{
    StatusAccessViolation = 8,
    StatusFileExists = 9,
    StatusInvalidArguments = 10,
    StatusNoHandles = 11,
    StatusFileNotFound = 12,
    StatusShredded = 13,
    StatusRemoveFailed = 14,
    StatusNetworkAborted = 15,
    StatusFinished = 16,
    StatusRecycleBinFailed = 17,
    // The file could not be overwritten over its whole original length; it is kept.
    StatusOverwriteFailed = 18,
    // 19 would travel as ID_SHRED_STEP: it is never a status.
    // The file's data also has a name outside the selection (a hard link): nothing of it is
    // overwritten, renamed or deleted.
    StatusHasOtherNames = 20,
    // The item is a drive or a mounted volume's root: nothing on it is touched.
    StatusVolumeRoot = 21,
    // What was opened is not what the listing said (a link now, or another kind, or on another
    // volume): it is left alone.
    StatusChangedWhileShredding = 22,
    // A link that the system cannot remove without reaching its target is left where it is.
    StatusLinkLeft = 23,
    // Overwritten in place and deleted, but the storage keeps data elsewhere than where the
    // file's bytes are written: NTFS compression, the system's file compression, deduplication,
    // a cloud provider's copy, a volume that writes every change to new clusters.
    StatusCopiesRemainCompressed = 24,
    StatusCopiesRemainSystemCompressed = 25,
    StatusCopiesRemainDeduplicated = 26,
    StatusCopiesRemainCloud = 27,
    StatusCopiesRemainVolume = 28,
    // A cloud placeholder holds no data on this disk: deleted, not overwritten, and never
    // downloaded just to be overwritten.
    StatusCloudPlaceholderDeleted = 29,
    // The file's named streams could not be listed: it is kept, since deleting it would delete
    // streams that were never overwritten.
    StatusStreamsUnreadable = 30,
    // A folder that could not be listed whole, or not removed.
    StatusFolderNotListed = 31,
    StatusFolderNotRemoved = 32,
    // The name could not be scrambled: overwritten, and kept under its old name.
    StatusNameNotScrambled = 33,
};

// The highest status a worker sends.
constexpr ShredStatus LastShredStatus = StatusNameNotScrambled;

// Whether what a status ends is gone: overwritten wherever it lay on this disk (a cloud
// placeholder had nothing there) and deleted. While a file is being shredded, the same status
// says it may be deleted.
constexpr bool MeansGone(ShredStatus status)
{
    return status == StatusShredded || status == StatusCloudPlaceholderDeleted ||
           (status >= StatusCopiesRemainCompressed && status <= StatusCopiesRemainVolume);
}

constexpr WORD ID_SHRED_STATUS_BASE = 1025;
// The most steps a WM_SHRED_FILE range can announce: it travels in 16 bits.
constexpr int64_t MaxProgressRange = 0xFFFF;
constexpr WORD ID_SHRED_STEP = 1044;
constexpr WORD ID_SHRED_PASS_BASE = 1125;
constexpr WORD ID_SHRED_PASS_LAST = 1159;

// Size of the file-name block that travels with WM_SHRED_FILE.
constexpr size_t ShredFileNameBlockSize = 260;

constexpr WORD ShredStatusCommand(ShredStatus status)
{
    return static_cast<WORD>(ID_SHRED_STATUS_BASE + status);
}
static_assert(ShredStatusCommand(LastShredStatus) < ID_SHRED_PASS_BASE,
              "statuses and pass markers share the command ids");

// Only the low 16 bits of the item index and of the value travel.
constexpr WPARAM MakeShredWParam(int32_t itemIndex, int64_t low)
{
    return static_cast<WPARAM>((static_cast<uint32_t>(static_cast<uint16_t>(itemIndex)) << 16) |
                               static_cast<uint16_t>(low));
}

// The text the progress window lists for a failure status, or null for the statuses that make no
// entry (13, 16) and for what is no status.
inline const char* ShredStatusText(int status)
{
    switch (status) {
    case StatusAccessViolation:
        return "Access Violation";
    case StatusFileExists:
        return "File Already Exists";
    case StatusInvalidArguments:
        return "Invalid Arguments";
    case StatusNoHandles:
        return "No Available Handles";
    case StatusFileNotFound:
        return "File Not Found";
    case StatusRemoveFailed:
        return "Failed to Remove File";
    case StatusNetworkAborted:
        return "Network File (Aborted!)";
    case StatusRecycleBinFailed:
        return "Can't empty Recycle Bin";
    case StatusOverwriteFailed:
        return "Failed to Overwrite File";
    case StatusHasOtherNames:
        return "File Has Other Names (Not Overwritten)";
    case StatusVolumeRoot:
        return "Drive or Volume (Not Shredded)";
    case StatusChangedWhileShredding:
        return "Changed While Shredding (Left Alone)";
    case StatusLinkLeft:
        return "Link Left in Place (Target Untouched)";
    case StatusCopiesRemainCompressed:
        return "Overwritten, Copies May Remain (Compressed)";
    case StatusCopiesRemainSystemCompressed:
        return "Overwritten, Copies May Remain (System Compressed)";
    case StatusCopiesRemainDeduplicated:
        return "Overwritten, Copies May Remain (Deduplicated)";
    case StatusCopiesRemainCloud:
        return "Overwritten, Copies May Remain (Cloud File)";
    case StatusCopiesRemainVolume:
        return "Overwritten, Copies May Remain (Volume Writes Elsewhere)";
    case StatusCloudPlaceholderDeleted:
        return "Deleted Without Overwriting, Copies Remain (Cloud Placeholder)";
    case StatusStreamsUnreadable:
        return "Streams Could Not Be Listed (Not Deleted)";
    case StatusFolderNotListed:
        return "Folder Could Not Be Listed (Kept)";
    case StatusFolderNotRemoved:
        return "Failed to Remove Folder";
    case StatusNameNotScrambled:
        return "Name Could Not Be Scrambled (Not Deleted)";
    default:
        return nullptr;
    }
}

// The WM_SHRED_FILE block is allocated by the sender and freed by the receiver with this pair.
inline char* AllocateShredFileNameBlock()
{
    return static_cast<char*>(::operator new(ShredFileNameBlockSize));
}

// A block holding the name and its terminator. Senders announce only names shorter than the
// block; a longer one would be cut, never written past the block.
inline char* NewShredFileNameBlock(const std::string& name)
{
    char* block = AllocateShredFileNameBlock();
    std::memset(block, 0, ShredFileNameBlockSize);
    std::memcpy(block, name.data(), std::min(name.size(), ShredFileNameBlockSize - 1));
    return block;
}

inline void FreeShredFileNameBlock(LPARAM block)
{
    ::operator delete(reinterpret_cast<void*>(block));
}
