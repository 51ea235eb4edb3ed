// The volume a free-space wipe is asked for: whether its free space can be wiped at all, what the
// confirmation tells about it, and how fast it takes a short write.
#pragma once

#include "engine/ShredOs.h"

#include <cstdint>
#include <optional>
#include <string>

struct WipeTarget
{
    std::string Root;   // "N:\"
    std::string Volume; // "N:"
    std::string FileSystem;
    // The space the user may still write, and the volume's size; 0 when unknown.
    uint64_t FreeBytes = 0;
    uint64_t TotalBytes = 0;
    // Bytes a second of the short timed write; nothing when it could not be made.
    std::optional<double> WriteRate;
};

// The root a wipe is given for a drive ("N:" and "N:/" give "N:\"), or the path with one
// trailing separator.
std::string WipeRootOf(const std::string& path);
// How the user names the volume: "N:" for a drive's root, else the root without its separator.
std::string VolumeNameOf(const std::string& root);

// The narrow root of the volume when `item` names exactly the root of one (a drive's, or a volume
// mounted on a folder), as the system gives it; nothing for anything else.
std::optional<std::string> WholeVolumeRoot(ShredOs& os, const std::wstring& item);

// Why the volume at `root` cannot be wiped (a network path or drive, no volume there, not the
// root of one, read-only, a disc); nothing when it can.
std::optional<std::string> WipeRefusal(ShredOs& os, const std::string& root);

// The refusal of a read-only volume.
std::string ReadOnlyRefusal(const std::string& volume);

// What the confirmation shows. No write is made.
WipeTarget ReadWipeTarget(ShredOs& os, const std::string& root);

// A short write of random blocks (at most 8 MiB and half a second, never more than a quarter of
// the free space) into a file of its own at the root, flushed, timed and deleted: the estimate of
// how fast the wipe will write. Nothing when the file cannot be written.
std::optional<double> MeasureWriteRate(ShredOs& os, const std::string& root, uint64_t freeBytes);
