#include "core/ShredThread.h"
#include "engine/ShredOs.h"

#include <cstring>

bool CShredThread::ProbeVolume(std::string path, int& tailLength, bool& ntfs)
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
    ntfs = IsNtfsVolume(deviceRoot);
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

bool CShredThread::IsNtfsVolume(const std::string& root)
{
    char volumeName[MAX_PATH] = {};
    char fileSystemName[MAX_PATH] = {};
    DWORD serialNumber = 0;
    DWORD maximumComponentLength = 0;
    DWORD fileSystemFlags = 0;
    if (!Os().GetVolumeInformationA(root.c_str(), volumeName, MAX_PATH, &serialNumber,
                                    &maximumComponentLength, &fileSystemFlags, fileSystemName,
                                    MAX_PATH))
        return false;
    fileSystemName[MAX_PATH - 1] = '\0';
    return ::_strnicmp(fileSystemName, "NTFS", 4) == 0;
}
