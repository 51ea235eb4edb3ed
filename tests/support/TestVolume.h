// The only drives a test or the benchmark ever fills: volumes made by scripts/test-volume.sh (a
// new NTFS image or a size-limited tmpfs under build/volumes) and mapped as a drive of the
// prefix. C: and the scratch drive T: lie on the machine's own disk, and filling that would stop
// the machine: whatever is asked to wipe, these checks refuse every other drive.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// A test volume is small; the machine's disk never is.
constexpr uint64_t LargestTestVolume = 1ull << 30;

struct TestVolume
{
    std::string Drive;      // "N:"
    std::string Root;       // "N:\"
    std::string UnixFolder; // build/volumes/n: its token, its mount, an NTFS volume's image
};

// The volume at `drive` when it is one test-volume.sh made in `unixFolder`: a drive letter other
// than C, T and Z; the folder build/volumes/<that letter>; a volume no larger than
// LargestTestVolume; and the token in the volume's root the same as the one beside its mount.
// Otherwise nothing, and the reason in `why`.
std::optional<TestVolume> ProveTestVolume(const std::string& drive, const std::string& unixFolder,
                                          std::string& why);

// The volume tests/VolumeScenario.sh mounted for the running case, proven the same way.
std::optional<TestVolume> ScenarioTestVolume(std::string& why);
