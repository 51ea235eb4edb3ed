// The engine's seam with the few answers the platform will not give on demand. Everything not
// configured here is the real call.
#pragma once

#include "CallLog.h"
#include "FaultScript.h"
#include "Notification.h"
#include "common/Seam.h"
#include "engine/ShredOs.h"

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

// One call of the random source, on the context it named (or, for an acquire, was given).
struct ProviderCall
{
    enum Kind
    {
        Acquire,
        Draw,
        Release
    };
    Kind What;
    HCRYPTPROV Context;
    bool operator==(const ProviderCall& other) const
    {
        return What == other.What && Context == other.Context;
    }
};

class FakeShredOs : public ShredOs
{
public:
    FakeShredOs() = default;
    ~FakeShredOs() override;

    // Every call that names a file or writes data, as the engine made it: "attributes:<path>",
    // "find:<pattern>", "check:<name>" (opened to look at), "open:<name>" (opened for writing),
    // "rename:<from>><to>", "remove:<name>", "rmdir:<path>", "seek:<offset>", "write:<bytes
    // asked>", "flush", "backupread:<bytes asked>[ abort][ security]", and "file:<path>" for each
    // file announced to the window. Whatever a derived class passes on, the fake also notes
    // "diskspace:<root>" and "volume:<root>" (volume queries), "backupopen:<name>" (a file opened
    // for its stream list), "backupseek", and the random source's "acquire:<context>" (0 when
    // it failed), "draw:<context>", "release:<context>" and "unpaired:draw|release" (a context
    // that is not open).
    CallLog Calls;
    // The calls that fail instead of running.
    FaultScript Script;

    // Messages: recorded instead of delivered.
    bool RecordMessages = false;
    // Every message sent is logged as "send:<window>/<item index>:<message>:<id>" too, so that
    // the order of sends across jobs can be seen.
    bool LogSends = false;
    Notifications Recorded();

    // Volumes.
    DWORD BytesPerSector = 512;
    std::string FileSystemName = "NTFS";
    // As NTFS reports them: named streams among them.
    DWORD FileSystemFlags = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK | FILE_NAMED_STREAMS;

    // Stream listing through the backup interface, for every file and folder: these records
    // (none: no named streams, as most files have), or, when off, the interface fails as Wine's
    // does.
    bool UseBackupRecords = true;
    std::vector<BackupRecord> Records;

    // Paths (exact) that are reparse points, with their tags: their listing entries and the
    // handles opened on them say so.
    std::map<std::string, DWORD> ReparseTags;
    // Attributes the platform will not set here (compressed, offline, recall on access...),
    // by path, added to its listing entries and to the handles opened on it.
    std::map<std::string, DWORD> ExtraAttributes;
    // The volume makes no short names: listings carry none and the short form of a path is the
    // path itself, as on a volume with 8.3 names turned off.
    bool NoShortNames = false;

    // Random source. Every acquire gives a context of its own, open until it is released; a draw
    // from it is served by one real context that the fake keeps for the whole test, because a
    // real acquire takes milliseconds under Wine. With RealProviderContexts every acquire, draw
    // and release is the real call on the context handed out.
    bool RealProviderContexts = false;
    size_t OpenProviderContexts();
    // Every acquire, draw and release in order, from the log.
    std::vector<ProviderCall> ProviderCalls() const;

    // Clocks.
    bool FixedTime = false;
    time_t TimeValue = 0;
    bool FixedSystemTime = false;
    SYSTEMTIME SystemTimeValue{};

    // Every rename the log holds, as (from, to); the script decides which fail.
    std::vector<std::pair<std::string, std::string>> Renames() const;

    // The disk is full from this offset on (when not negative): a write stops there, and one
    // that starts there fails.
    int64_t DiskFullAt = -1;

    // The name the file behind a descriptor was opened by, or "" for one the seam did not give.
    std::string NameOf(int descriptor);

    // The names of a file's data, which Wine cannot list: every name under this folder (a full
    // path, searched with the real listing) whose file is the same. Empty: the real call.
    std::string NamesSearchedIn;
    // Folders the volume-root lookup takes for mounted volumes' roots, as if a volume were
    // mounted there.
    std::set<std::string> MountedFolders;

    BOOL SetFileAttributesA(const char* path, DWORD attributes) override;
    int64_t Seek(int descriptor, int64_t offset, int origin) override;
    int Write(int descriptor, const void* data, unsigned count) override;
    int Commit(int descriptor) override;
    int Remove(const char* name) override;
    BOOL RemoveDirectoryA(const char* path) override;
    HANDLE FindFirstFileW(const wchar_t* pattern, WIN32_FIND_DATAW* data) override;
    BOOL FindNextFileW(HANDLE listing, WIN32_FIND_DATAW* data) override;
    DWORD GetShortPathNameW(const wchar_t* longPath, wchar_t* shortPath, DWORD size) override;
    int Rename(const char* from, const char* to) override;
    HANDLE CreateFileA(const char* name, DWORD access, DWORD share, DWORD disposition,
                       DWORD flags) override;
    BOOL CloseHandle(HANDLE handle) override;
    BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information) override;
    BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind,
                                      void* information, DWORD size) override;
    int OpenOsfHandle(HANDLE file, int flags) override;
    int Close(int descriptor) override;
    HANDLE FindFirstFileNameW(const wchar_t* path, DWORD* length, wchar_t* name) override;
    BOOL FindNextFileNameW(HANDLE names, DWORD* length, wchar_t* name) override;
    BOOL FindClose(HANDLE listing) override;
    BOOL GetVolumePathNameW(const wchar_t* path, wchar_t* root, DWORD size) override;
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

protected:
    // Adds the call to the log, unless a derived class is passing on a call it logged itself.
    void LogCall(const std::string& kind, const std::string& detail = "");
    // While one lives on this thread, the calls a derived class passes on under another name
    // (a link's target, a stream's file) are not logged again.
    class Unlogged
    {
    public:
        Unlogged();
        ~Unlogged();
        Unlogged(const Unlogged&) = delete;
        Unlogged& operator=(const Unlogged&) = delete;
    };

private:
    // Applies what the test set for the entry of `folder` the listing delivered.
    void Adjust(const std::wstring& folder, WIN32_FIND_DATAW* data);
    // The attributes the test added to the path the handle was opened by, with the reparse bit
    // when it set a tag; and that tag.
    DWORD AddedAttributes(HANDLE file, DWORD* tag);

    // The random source's bookkeeping, under `lock`.
    HCRYPTPROV dataProvider = 0;
    HCRYPTPROV nextContext = 0xC0DE0001;
    std::set<HCRYPTPROV> openContexts;
    std::mutex lock;
    Notifications recorded;
    std::map<HANDLE, std::wstring> listings;
    std::map<HANDLE, std::string> handleNames;
    std::map<int, std::string> descriptorNames;
    // Where the next write of each descriptor goes.
    std::map<int, int64_t> positions;
    // Listings of a file's names, each the names still to give.
    std::map<HANDLE, std::vector<std::wstring>> nameListings;
    HANDLE nextNameListing = reinterpret_cast<HANDLE>(0x7A11000);
    // The backup stream of the open file: its bytes, the read position, and where the data of
    // the current record ends.
    std::vector<BYTE> backupStream;
    size_t backupPosition = 0;
    size_t currentDataEnd = 0;
    std::set<size_t> recordStarts;
};
