// The engine's seam with the few answers the platform will not give on demand. Everything not
// configured here is the real call.
#pragma once

#include "Notification.h"
#include "common/Seam.h"
#include "engine/ShredOs.h"

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

// One record of the backup interface's stream listing.
struct BackupRecord
{
    DWORD StreamId = BACKUP_DATA;
    std::wstring Name;
    int64_t Size = 0;
    // Overrides the header's name size (in bytes) when not negative.
    int64_t NameSizeOverride = -1;
};

class FakeShredOs : public ShredOs
{
public:
    FakeShredOs() = default;
    ~FakeShredOs() override;

    // Messages: recorded instead of delivered.
    bool RecordMessages = false;
    Notifications Recorded();

    // Volumes.
    bool DiskFreeSpaceFails = false;
    DWORD BytesPerSector = 512;
    bool VolumeInformationFails = false;
    std::string FileSystemName = "NTFS";
    std::vector<std::string> DiskRootsAsked;
    std::vector<std::string> VolumeRootsAsked;

    // Stream listing through the backup interface, for every file.
    bool UseBackupRecords = false;
    std::vector<BackupRecord> Records;
    int Seeks = 0;
    std::vector<std::string> BackupFilesOpened;

    // Paths (exact) whose listing entries are reparse points, with their tags.
    std::map<std::string, DWORD> ReparseTags;
    // The volume makes no short names: listings carry none and the short form of a path is the
    // path itself, as on a volume with 8.3 names turned off.
    bool NoShortNames = false;

    // Random source and clocks. Acquiring a provider context takes milliseconds under Wine, so
    // the fake keeps one for the whole test unless told to acquire each time.
    bool FreshProviderEachTime = false;
    bool RandomFails = false;
    std::atomic<int> RandomCalls{0};
    bool FixedTime = false;
    time_t TimeValue = 0;
    bool FixedSystemTime = false;
    SYSTEMTIME SystemTimeValue{};

    // Rename fails with this errno when not 0.
    int RenameError = 0;
    std::vector<std::pair<std::string, std::string>> Renames;

    HANDLE FindFirstFileW(const wchar_t* pattern, WIN32_FIND_DATAW* data) override;
    BOOL FindNextFileW(HANDLE listing, WIN32_FIND_DATAW* data) override;
    DWORD GetShortPathNameW(const wchar_t* longPath, wchar_t* shortPath, DWORD size) override;
    int Rename(const char* from, const char* to) override;
    HANDLE CreateFileA(const char* name, DWORD access, DWORD share, DWORD disposition,
                       DWORD flags) override;
    BOOL BackupRead(HANDLE file, BYTE* buffer, DWORD count, DWORD* read, BOOL abort,
                    BOOL processSecurity, void** context) override;
    BOOL BackupSeek(HANDLE file, DWORD lowDistance, DWORD highDistance, DWORD* lowSought,
                    DWORD* highSought, void** context) override;
    BOOL GetDiskFreeSpaceA(const char* root, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                           DWORD* freeClusters, DWORD* totalClusters) override;
    BOOL GetVolumeInformationA(const char* root, char* volumeName, DWORD volumeNameSize,
                               DWORD* serialNumber, DWORD* maximumComponentLength,
                               DWORD* fileSystemFlags, char* fileSystemName,
                               DWORD fileSystemNameSize) override;
    void GetSystemTime(SYSTEMTIME* now) override;
    time_t Time() override;
    BOOL CryptAcquireContextA(HCRYPTPROV* provider, DWORD providerType, DWORD flags) override;
    BOOL CryptGenRandom(HCRYPTPROV provider, DWORD length, BYTE* buffer) override;
    BOOL CryptReleaseContext(HCRYPTPROV provider) override;
    LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    // Applies what the test set for the entry of `folder` the listing delivered.
    void Adjust(const std::wstring& folder, WIN32_FIND_DATAW* data);

    HCRYPTPROV cachedProvider = 0;
    std::mutex lock;
    Notifications recorded;
    std::map<HANDLE, std::wstring> listings;
    // The backup stream of the open file: its bytes, the read position, and where the data of
    // the current record ends.
    std::vector<BYTE> backupStream;
    size_t backupPosition = 0;
    size_t currentDataEnd = 0;
};
