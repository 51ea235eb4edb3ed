#include "core/ShredThread.h"
#include "engine/ShredOs.h"

#include <cstring>

bool CShredThread::ProbeVolume(std::string path, int& tailLength, bool& namedStreams)
{
    // Every decision is taken from the probed path itself: a Recycle Bin entry is probed while
    // the worker's own ItemPath is empty.
    const char drive = path.empty() ? '\0' : path[0];
    const std::string diskRoot = std::string(1, drive) + ":\\";
    // A network path, or one relative to the current drive's root ("/" works as "\" there).
    if (drive == '\\' || drive == '/')
        return false;
    std::string deviceRoot = std::string("\\\\.\\") + drive + ":\\";

    tailLength = GetBytesPerSector(diskRoot);
    for (char& c : deviceRoot)
        c = static_cast<char>(::tolower(static_cast<unsigned char>(c)));
    namedStreams = HasNamedStreams(deviceRoot);
    return true;
}

int CShredThread::GetBytesPerSector(const std::string& root)
{
    DWORD sectorsPerCluster = 0;
    DWORD bytesPerSector = 0;
    DWORD freeClusters = 0;
    DWORD totalClusters = 0;
    if (!Os().GetDiskFreeSpaceA(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters,
                                &totalClusters))
        return 0;
    return static_cast<int>(bytesPerSector);
}

bool CShredThread::HasNamedStreams(const std::string& root)
{
    char volumeName[MAX_PATH] = {};
    char fileSystemName[MAX_PATH] = {};
    DWORD serialNumber = 0;
    DWORD maximumComponentLength = 0;
    DWORD fileSystemFlags = 0;
    ItemWritesElsewhere = false;
    if (!Os().GetVolumeInformationA(root.c_str(), volumeName, MAX_PATH, &serialNumber,
                                    &maximumComponentLength, &fileSystemFlags, fileSystemName,
                                    MAX_PATH))
        return false;
    fileSystemName[MAX_PATH - 1] = '\0';
    // ReFS writes a changed block to new clusters: what was there before stays until reused.
    ItemWritesElsewhere = ::_strnicmp(fileSystemName, "ReFS", 4) == 0;
    // Named streams are a property of the volume, not of one file system's name: ReFS has them
    // too, and a volume that reports none has none to shred.
    return (fileSystemFlags & FILE_NAMED_STREAMS) != 0;
}
