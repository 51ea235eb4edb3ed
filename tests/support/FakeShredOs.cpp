#include "FakeShredOs.h"

#include "common/TextConversion.h"

#include "TestOwners.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace {

// Calls passed on by a derived class that logged them itself, on this thread.
thread_local int unloggedDepth = 0;

// The backup interface's record header: a WIN32_STREAM_ID up to its name.
constexpr size_t HeaderSize = offsetof(WIN32_STREAM_ID, cStreamName);

bool FileIdentity(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& information)
{
    const UniqueHandle file(::CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file && ::GetFileInformationByHandle(file.Get(), &information);
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

// Every file under `folder` (recursively) that is the same file as `target`.
void CollectNames(const std::wstring& folder, const BY_HANDLE_FILE_INFORMATION& target,
                  std::vector<std::wstring>& names)
{
    WIN32_FIND_DATAW entry{};
    const UniqueFind listing(::FindFirstFileW((folder + L"\\*").c_str(), &entry));
    for (bool more = listing.IsValid(); more; more = ::FindNextFileW(listing.Get(), &entry)) {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::wstring path = folder + L"\\" + name;
        BY_HANDLE_FILE_INFORMATION information{};
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            CollectNames(path, target, names);
        else if (FileIdentity(path, information) && SameFile(information, target))
            names.push_back(path);
    }
}

// Hands out one name of a listing the way the system does: ERROR_MORE_DATA and the length
// needed when the buffer is too small.
BOOL GiveName(const std::wstring& name, DWORD* length, wchar_t* buffer)
{
    if (*length <= name.size()) {
        *length = static_cast<DWORD>(name.size() + 1);
        ::SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    name.copy(buffer, name.size());
    buffer[name.size()] = L'\0';
    *length = static_cast<DWORD>(name.size());
    return TRUE;
}

} // namespace

Notifications FakeShredOs::Recorded()
{
    std::lock_guard<std::mutex> guard(lock);
    return recorded;
}

void FakeShredOs::Adjust(const std::wstring& folder, WIN32_FIND_DATAW* data)
{
    if (NoShortNames)
        data->cAlternateFileName[0] = L'\0';
    const std::string path = NarrowWithSubstitutes(folder + L"\\" + data->cFileName);
    const auto tag = ReparseTags.find(path);
    if (tag != ReparseTags.end()) {
        data->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        data->dwReserved0 = tag->second;
    }
    const auto added = ExtraAttributes.find(path);
    if (added != ExtraAttributes.end())
        data->dwFileAttributes |= added->second;
}

DWORD FakeShredOs::AddedAttributes(HANDLE file, DWORD* tag)
{
    std::string name;
    {
        std::lock_guard<std::mutex> guard(lock);
        const auto opened = handleNames.find(file);
        if (opened == handleNames.end())
            return 0;
        name = opened->second;
    }
    DWORD attributes = 0;
    const auto added = ExtraAttributes.find(name);
    if (added != ExtraAttributes.end())
        attributes |= added->second;
    const auto reparse = ReparseTags.find(name);
    if (reparse != ReparseTags.end()) {
        attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        *tag = reparse->second;
    }
    return attributes;
}

BOOL FakeShredOs::GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information)
{
    if (!ShredOs::GetFileInformationByHandle(file, information))
        return FALSE;
    DWORD tag = 0;
    information->dwFileAttributes |= AddedAttributes(file, &tag);
    return TRUE;
}

BOOL FakeShredOs::GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind,
                                               void* information, DWORD size)
{
    if (!ShredOs::GetFileInformationByHandleEx(file, kind, information, size))
        return FALSE;
    if (kind == FileAttributeTagInfo) {
        auto* tagged = static_cast<FILE_ATTRIBUTE_TAG_INFO*>(information);
        tagged->FileAttributes |= AddedAttributes(file, &tagged->ReparseTag);
    }
    return TRUE;
}

HANDLE FakeShredOs::FindFirstFileW(const wchar_t* pattern, WIN32_FIND_DATAW* data)
{
    LogCall("find", NarrowWithSubstitutes(pattern));
    HANDLE listing = ShredOs::FindFirstFileW(pattern, data);
    if (listing != INVALID_HANDLE_VALUE) {
        std::wstring folder(pattern);
        folder = folder.substr(0, folder.find_last_of(L'\\'));
        std::lock_guard<std::mutex> guard(lock);
        listings[listing] = folder;
        Adjust(folder, data);
    }
    return listing;
}

BOOL FakeShredOs::FindNextFileW(HANDLE listing, WIN32_FIND_DATAW* data)
{
    if (!ShredOs::FindNextFileW(listing, data))
        return FALSE;
    std::lock_guard<std::mutex> guard(lock);
    Adjust(listings[listing], data);
    return TRUE;
}

DWORD FakeShredOs::GetShortPathNameW(const wchar_t* longPath, wchar_t* shortPath, DWORD size)
{
    if (!NoShortNames)
        return ShredOs::GetShortPathNameW(longPath, shortPath, size);
    const std::wstring path = longPath;
    if (::GetFileAttributesW(longPath) == INVALID_FILE_ATTRIBUTES)
        return 0;
    if (!shortPath || size <= path.size())
        return static_cast<DWORD>(path.size() + 1);
    path.copy(shortPath, path.size());
    shortPath[path.size()] = L'\0';
    return static_cast<DWORD>(path.size());
}

FakeShredOs::Unlogged::Unlogged()
{
    ++unloggedDepth;
}

FakeShredOs::Unlogged::~Unlogged()
{
    --unloggedDepth;
}

void FakeShredOs::LogCall(const std::string& kind, const std::string& detail)
{
    if (unloggedDepth == 0)
        Calls.Add(kind, detail);
}

BOOL FakeShredOs::SetFileAttributesA(const char* path, DWORD attributes)
{
    LogCall("attributes", path);
    return ShredOs::SetFileAttributesA(path, attributes);
}

int64_t FakeShredOs::Seek(int descriptor, int64_t offset, int origin)
{
    // The pass writer seeks once to the start of each pass (of each range, in a sparse file).
    LogCall("seek", std::to_string(offset));
    Script.StartPass();
    const int64_t position = ShredOs::Seek(descriptor, offset, origin);
    std::lock_guard<std::mutex> guard(lock);
    positions[descriptor] = position;
    return position;
}

int FakeShredOs::Write(int descriptor, const void* data, unsigned count)
{
    LogCall("write", std::to_string(count));
    unsigned most = count;
    if (const int error = Script.Next(Call::Write, NameOf(descriptor), &most)) {
        errno = error;
        return -1;
    }
    int64_t position = 0;
    {
        std::lock_guard<std::mutex> guard(lock);
        position = positions[descriptor];
    }
    if (DiskFullAt >= 0)
        most = static_cast<unsigned>(std::clamp<int64_t>(DiskFullAt - position, 0, most));
    // Nothing written: a full disk says so.
    if (most == 0 && count > 0) {
        errno = ENOSPC;
        return DiskFullAt >= 0 && position >= DiskFullAt ? -1 : 0;
    }
    const int written = ShredOs::Write(descriptor, data, std::min(most, count));
    std::lock_guard<std::mutex> guard(lock);
    positions[descriptor] = position + std::max(written, 0);
    return written;
}

int FakeShredOs::Commit(int descriptor)
{
    LogCall("flush");
    if (const int error = Script.Next(Call::Commit)) {
        errno = error;
        return -1;
    }
    return ShredOs::Commit(descriptor);
}

int FakeShredOs::Remove(const char* name)
{
    LogCall("remove", name);
    if (const int error = Script.Next(Call::Remove, name)) {
        errno = error;
        return -1;
    }
    return ShredOs::Remove(name);
}

BOOL FakeShredOs::RemoveDirectoryA(const char* path)
{
    LogCall("rmdir", path);
    return ShredOs::RemoveDirectoryA(path);
}

int FakeShredOs::Rename(const char* from, const char* to)
{
    LogCall("rename", std::string(from) + ">" + to);
    if (const int error = Script.Next(Call::Rename, from)) {
        errno = error;
        return -1;
    }
    return ShredOs::Rename(from, to);
}

HANDLE FakeShredOs::CreateFileA(const char* name, DWORD access, DWORD share, DWORD disposition,
                                DWORD flags)
{
    const bool writing = (access & GENERIC_WRITE) != 0;
    LogCall(writing ? "open" : "check", name);
    if (writing) {
        if (const int error = Script.Next(Call::CreateFileForWriting, name)) {
            ::SetLastError(static_cast<DWORD>(error));
            return INVALID_HANDLE_VALUE;
        }
    }
    HANDLE file = ShredOs::CreateFileA(name, access, share, disposition, flags);
    if (file != INVALID_HANDLE_VALUE) {
        std::lock_guard<std::mutex> guard(lock);
        handleNames[file] = name;
    }
    if (UseBackupRecords && access == GENERIC_READ && file != INVALID_HANDLE_VALUE) {
        Calls.Add("backupopen", name);
        backupStream.clear();
        recordStarts.clear();
        for (const BackupRecord& record : Records) {
            recordStarts.insert(backupStream.size());
            const auto nameSize = static_cast<DWORD>(record.NameSizeOverride >= 0
                                                         ? record.NameSizeOverride
                                                         : record.Name.size() * sizeof(wchar_t));
            WIN32_STREAM_ID header{};
            header.dwStreamId = record.StreamId;
            header.Size.QuadPart = record.Size;
            header.dwStreamNameSize = nameSize;
            const auto* headerBytes = reinterpret_cast<const BYTE*>(&header);
            backupStream.insert(backupStream.end(), headerBytes, headerBytes + HeaderSize);
            std::vector<BYTE> nameBytes(nameSize, 'x');
            std::memcpy(nameBytes.data(), record.Name.data(),
                        std::min<size_t>(nameSize, record.Name.size() * sizeof(wchar_t)));
            backupStream.insert(backupStream.end(), nameBytes.begin(), nameBytes.end());
            // The data itself: small records carry real bytes, large ones only their size.
            backupStream.insert(backupStream.end(),
                                static_cast<size_t>(std::min<int64_t>(record.Size, 64)), 0xEE);
        }
        backupPosition = 0;
        currentDataEnd = 0;
    }
    return file;
}

BOOL FakeShredOs::CloseHandle(HANDLE handle)
{
    {
        std::lock_guard<std::mutex> guard(lock);
        handleNames.erase(handle);
    }
    return ShredOs::CloseHandle(handle);
}

int FakeShredOs::OpenOsfHandle(HANDLE file, int flags)
{
    const int descriptor = ShredOs::OpenOsfHandle(file, flags);
    std::lock_guard<std::mutex> guard(lock);
    if (descriptor != -1)
        descriptorNames[descriptor] = handleNames[file];
    handleNames.erase(file);
    return descriptor;
}

int FakeShredOs::Close(int descriptor)
{
    {
        std::lock_guard<std::mutex> guard(lock);
        descriptorNames.erase(descriptor);
        positions.erase(descriptor);
    }
    return ShredOs::Close(descriptor);
}

std::vector<std::pair<std::string, std::string>> FakeShredOs::Renames() const
{
    std::vector<std::pair<std::string, std::string>> renames;
    for (const std::string& rename : Calls.Details("rename")) {
        const size_t arrow = rename.find('>');
        renames.emplace_back(rename.substr(0, arrow), rename.substr(arrow + 1));
    }
    return renames;
}

std::string FakeShredOs::NameOf(int descriptor)
{
    std::lock_guard<std::mutex> guard(lock);
    const auto name = descriptorNames.find(descriptor);
    return name == descriptorNames.end() ? std::string() : name->second;
}

HANDLE FakeShredOs::FindFirstFileNameW(const wchar_t* path, DWORD* length, wchar_t* name)
{
    if (NamesSearchedIn.empty())
        return ShredOs::FindFirstFileNameW(path, length, name);
    BY_HANDLE_FILE_INFORMATION target{};
    wchar_t root[MAX_PATH] = {};
    if (!FileIdentity(path, target) || !ShredOs::GetVolumePathNameW(path, root, MAX_PATH)) {
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::vector<std::wstring> names;
    CollectNames(Widen(NamesSearchedIn), target, names);
    // The system gives each name from the volume's root, without the drive.
    const size_t rootLength = wcslen(root) - 1;
    for (std::wstring& each : names)
        each.erase(0, rootLength);
    if (names.empty()) {
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (!GiveName(names.front(), length, name))
        return INVALID_HANDLE_VALUE;
    names.erase(names.begin());
    std::lock_guard<std::mutex> guard(lock);
    HANDLE listing = nextNameListing;
    nextNameListing = reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(listing) + 1);
    nameListings[listing] = std::move(names);
    return listing;
}

BOOL FakeShredOs::FindNextFileNameW(HANDLE names, DWORD* length, wchar_t* name)
{
    std::lock_guard<std::mutex> guard(lock);
    const auto listing = nameListings.find(names);
    if (listing == nameListings.end())
        return ShredOs::FindNextFileNameW(names, length, name);
    if (listing->second.empty()) {
        ::SetLastError(ERROR_HANDLE_EOF);
        return FALSE;
    }
    if (!GiveName(listing->second.front(), length, name))
        return FALSE;
    listing->second.erase(listing->second.begin());
    return TRUE;
}

BOOL FakeShredOs::FindClose(HANDLE listing)
{
    {
        std::lock_guard<std::mutex> guard(lock);
        if (nameListings.erase(listing))
            return TRUE;
    }
    return ShredOs::FindClose(listing);
}

BOOL FakeShredOs::GetVolumePathNameW(const wchar_t* path, wchar_t* root, DWORD size)
{
    const std::string item = NarrowWithSubstitutes(path);
    for (const std::string& mounted : MountedFolders) {
        const bool inside = item.compare(0, mounted.size(), mounted) == 0 &&
                            (item.size() == mounted.size() || item[mounted.size()] == '\\');
        if (inside) {
            const std::wstring mountRoot = Widen(mounted) + L"\\";
            if (size <= mountRoot.size()) {
                ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
                return FALSE;
            }
            mountRoot.copy(root, mountRoot.size());
            root[mountRoot.size()] = L'\0';
            return TRUE;
        }
    }
    return ShredOs::GetVolumePathNameW(path, root, size);
}

BOOL FakeShredOs::BackupRead(HANDLE, BYTE* buffer, DWORD count, DWORD* read, BOOL abort,
                             BOOL processSecurity, void** context)
{
    LogCall("backupread",
            std::to_string(count) + (abort ? " abort" : "") + (processSecurity ? " security" : ""));
    const int error = Script.Next(Call::BackupRead);
    if (error != 0 && error != FaultScript::ShortResult) {
        *read = 0;
        ::SetLastError(static_cast<DWORD>(error));
        return FALSE;
    }
    if (!UseBackupRecords) {
        *read = 0;
        ::SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    if (abort) {
        *context = nullptr;
        *read = 0;
        return TRUE;
    }
    *context = this;
    const size_t available = backupStream.size() - backupPosition;
    const size_t n = std::min<size_t>(count, available);
    std::memcpy(buffer, backupStream.data() + backupPosition, n);
    // A header read sets where this record's data ends, for the seek that skips it.
    if (n == HeaderSize && recordStarts.count(backupPosition)) {
        WIN32_STREAM_ID header{};
        std::memcpy(&header, buffer, HeaderSize);
        currentDataEnd = backupPosition + HeaderSize + header.dwStreamNameSize +
                         static_cast<size_t>(std::min<LONGLONG>(header.Size.QuadPart, 64));
    }
    backupPosition += n;
    *read = static_cast<DWORD>(n);
    if (error == FaultScript::ShortResult && *read > 0)
        --*read;
    return TRUE;
}

BOOL FakeShredOs::BackupSeek(HANDLE, DWORD, DWORD, DWORD* lowSought, DWORD* highSought, void**)
{
    Calls.Add("backupseek");
    *lowSought = static_cast<DWORD>(currentDataEnd - std::min(backupPosition, currentDataEnd));
    *highSought = 0;
    backupPosition = std::max(backupPosition, currentDataEnd);
    return TRUE;
}

BOOL FakeShredOs::GetDiskFreeSpaceA(const char* root, DWORD* sectorsPerCluster,
                                    DWORD* bytesPerSector, DWORD* freeClusters,
                                    DWORD* totalClusters)
{
    Calls.Add("diskspace", root);
    if (const int error = Script.Next(Call::DiskFreeSpace)) {
        ::SetLastError(static_cast<DWORD>(error));
        return FALSE;
    }
    *sectorsPerCluster = 8;
    *bytesPerSector = BytesPerSector;
    *freeClusters = 1000;
    *totalClusters = 2000;
    return TRUE;
}

BOOL FakeShredOs::GetVolumeInformationA(const char* root, char* volumeName, DWORD volumeNameSize,
                                        DWORD* serialNumber, DWORD* maximumComponentLength,
                                        DWORD* fileSystemFlags, char* fileSystemName,
                                        DWORD fileSystemNameSize)
{
    Calls.Add("volume", root);
    if (const int error = Script.Next(Call::VolumeInformation)) {
        ::SetLastError(static_cast<DWORD>(error));
        return FALSE;
    }
    if (volumeName && volumeNameSize)
        volumeName[0] = '\0';
    *serialNumber = 1;
    *maximumComponentLength = 255;
    *fileSystemFlags = FileSystemFlags;
    std::strncpy(fileSystemName, FileSystemName.c_str(), fileSystemNameSize - 1);
    fileSystemName[fileSystemNameSize - 1] = '\0';
    return TRUE;
}

void FakeShredOs::GetSystemTime(SYSTEMTIME* now)
{
    if (FixedSystemTime)
        *now = SystemTimeValue;
    else
        ShredOs::GetSystemTime(now);
}

time_t FakeShredOs::Time()
{
    return FixedTime ? TimeValue : ShredOs::Time();
}

FakeShredOs::~FakeShredOs()
{
    if (dataProvider)
        ShredOs::CryptReleaseContext(dataProvider);
    if (RealProviderContexts) {
        for (HCRYPTPROV context : openContexts)
            ShredOs::CryptReleaseContext(context);
    }
}

size_t FakeShredOs::OpenProviderContexts()
{
    std::lock_guard<std::mutex> guard(lock);
    return openContexts.size();
}

std::vector<ProviderCall> FakeShredOs::ProviderCalls() const
{
    std::vector<ProviderCall> calls;
    for (const std::string& entry : Calls.Of({"acquire", "draw", "release"})) {
        const size_t colon = entry.find(':');
        const std::string kind = entry.substr(0, colon);
        calls.push_back({kind == "acquire" ? ProviderCall::Acquire
                         : kind == "draw"  ? ProviderCall::Draw
                                           : ProviderCall::Release,
                         static_cast<HCRYPTPROV>(std::stoull(entry.substr(colon + 1)))});
    }
    return calls;
}

BOOL FakeShredOs::CryptAcquireContextA(HCRYPTPROV* provider, DWORD providerType, DWORD flags)
{
    const auto scripted = static_cast<DWORD>(Script.Next(Call::ProviderAcquire));
    std::unique_lock<std::mutex> guard(lock);
    HCRYPTPROV context = 0;
    BOOL acquired = FALSE;
    DWORD error = scripted;
    if (scripted == 0) {
        if (RealProviderContexts) {
            acquired = ShredOs::CryptAcquireContextA(&context, providerType, flags);
        } else {
            acquired =
                dataProvider || ShredOs::CryptAcquireContextA(&dataProvider, providerType, flags);
            context = acquired ? nextContext++ : 0;
        }
        if (!acquired)
            error = ::GetLastError();
    }
    // A failed acquire is logged with no context.
    Calls.Add("acquire", std::to_string(acquired ? context : 0));
    if (!acquired) {
        guard.unlock();
        ::SetLastError(error);
        return FALSE;
    }
    openContexts.insert(context);
    *provider = context;
    return TRUE;
}

BOOL FakeShredOs::CryptGenRandom(HCRYPTPROV provider, DWORD length, BYTE* buffer)
{
    HCRYPTPROV source = 0;
    {
        std::lock_guard<std::mutex> guard(lock);
        Calls.Add("draw", std::to_string(provider));
        if (openContexts.count(provider))
            source = RealProviderContexts ? provider : dataProvider;
    }
    if (!source) {
        Calls.Add("unpaired", "draw");
        ::SetLastError(NTE_BAD_UID);
        return FALSE;
    }
    if (const int error = Script.Next(Call::RandomDraw)) {
        ::SetLastError(static_cast<DWORD>(error));
        return FALSE;
    }
    return ShredOs::CryptGenRandom(source, length, buffer);
}

BOOL FakeShredOs::CryptReleaseContext(HCRYPTPROV provider)
{
    bool open = false;
    {
        std::lock_guard<std::mutex> guard(lock);
        Calls.Add("release", std::to_string(provider));
        open = openContexts.erase(provider) > 0;
    }
    if (!open) {
        Calls.Add("unpaired", "release");
        ::SetLastError(NTE_BAD_UID);
        return FALSE;
    }
    return RealProviderContexts ? ShredOs::CryptReleaseContext(provider) : TRUE;
}

LRESULT FakeShredOs::SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SHRED_FILE)
        LogCall("file", reinterpret_cast<const char*>(lParam));
    if (LogSends)
        LogCall("send", std::to_string(reinterpret_cast<uintptr_t>(window)) + "/" +
                            std::to_string(HIWORD(wParam)) + ":" + std::to_string(message) + ":" +
                            std::to_string(LOWORD(wParam)));
    if (!RecordMessages)
        return ShredOs::SendMessageA(window, message, wParam, lParam);
    Notification n = DecodeNotification(message, wParam, lParam, false);
    std::lock_guard<std::mutex> guard(lock);
    recorded.push_back(n);
    return 0;
}

BOOL FakeShredOs::PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!RecordMessages)
        return ShredOs::PostMessageA(window, message, wParam, lParam);
    Notification n = DecodeNotification(message, wParam, lParam, true);
    std::lock_guard<std::mutex> guard(lock);
    recorded.push_back(n);
    return TRUE;
}
