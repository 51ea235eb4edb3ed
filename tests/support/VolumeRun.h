// A case that runs on a volume of its own runs under tests/VolumeScenario.sh: its mounted phase
// while a new volume (an NTFS image, or a tmpfs) is mounted as a drive of the prefix, and, on an
// NTFS volume, its examine phase once the volume is unmounted, on the raw image the first phase
// left. The script says which phase, and where, in the environment.
#pragma once

#include <functional>
#include <string>

enum class VolumePhase
{
    None, // not run by the script
    Mounted,
    Shred = Mounted, // what a shredding case does in it
    Examine,
};

struct VolumeRun
{
    VolumePhase Phase = VolumePhase::None;
    // The drive the volume is mapped as ("N:"), in the mounted phase.
    std::string Drive;
    // The Unix path of the volume's folder in the build: its image and ntfsundelete's listing
    // of the image.
    std::string Folder;
    // The Unix path of the case's own folder in the build, kept after the run: what the mounted
    // phase hands the examine phase, and what the examine phase found.
    std::string CaseFolder;

    std::string Image() const { return Folder + "/image"; }
    std::string UndeleteListing() const { return Folder + "/undelete.txt"; }
    std::string CaseFile(const std::string& name) const { return CaseFolder + "/" + name; }
};

VolumeRun CurrentVolumeRun();

// Runs the case's phase, `mounted` or `examine`, whichever the script runs now; a failure when the
// script does not run the case (ctest's label `label` runs it).
void RunVolumePhase(const std::string& label, const std::function<void(const VolumeRun&)>& mounted,
                    const std::function<void(const VolumeRun&)>& examine);
