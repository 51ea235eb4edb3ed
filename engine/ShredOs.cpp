#include "ShredOs.h"

#include <cstdio>
#include <io.h>
#include <objbase.h>
#include <shlwapi.h>

BOOL ShredOs::SetFileAttributesA(const char* path, DWORD attributes)
{
    return ::SetFileAttributesA(path, attributes);
}

int ShredOs::OpenOsfHandle(HANDLE file, int flags)
{
    return ::_open_osfhandle(reinterpret_cast<intptr_t>(file), flags);
}

int64_t ShredOs::FileLength(int descriptor)
{
    return ::_filelengthi64(descriptor);
}

int64_t ShredOs::Seek(int descriptor, int64_t offset, int origin)
{
    return ::_lseeki64(descriptor, offset, origin);
}

int ShredOs::Write(int descriptor, const void* data, unsigned count)
{
    return ::_write(descriptor, data, count);
}

int ShredOs::Commit(int descriptor)
{
    return ::_commit(descriptor);
}

int ShredOs::Close(int descriptor)
{
    return ::_close(descriptor);
}

int ShredOs::Rename(const char* from, const char* to)
{
    return ::rename(from, to);
}

int ShredOs::Remove(const char* name)
{
    return ::remove(name);
}

BOOL ShredOs::RemoveDirectoryA(const char* path)
{
    return ::RemoveDirectoryA(path);
}

HANDLE ShredOs::FindFirstFileW(const wchar_t* pattern, WIN32_FIND_DATAW* data)
{
    return ::FindFirstFileW(pattern, data);
}

BOOL ShredOs::FindNextFileW(HANDLE listing, WIN32_FIND_DATAW* data)
{
    return ::FindNextFileW(listing, data);
}

BOOL ShredOs::FindClose(HANDLE listing)
{
    return ::FindClose(listing);
}

DWORD ShredOs::GetShortPathNameW(const wchar_t* longPath, wchar_t* shortPath, DWORD size)
{
    return ::GetShortPathNameW(longPath, shortPath, size);
}

HANDLE ShredOs::CreateFileA(const char* name, DWORD access, DWORD share, DWORD disposition,
                            DWORD flags)
{
    return ::CreateFileA(name, access, share, nullptr, disposition, flags, nullptr);
}

BOOL ShredOs::CloseHandle(HANDLE handle)
{
    return ::CloseHandle(handle);
}

BOOL ShredOs::SetFileTime(HANDLE file, const FILETIME* lastWrite)
{
    return ::SetFileTime(file, nullptr, nullptr, lastWrite);
}

BOOL ShredOs::GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information)
{
    return ::GetFileInformationByHandle(file, information);
}

BOOL ShredOs::GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind,
                                           void* information, DWORD size)
{
    return ::GetFileInformationByHandleEx(file, kind, information, size);
}

namespace {

// Looked up when first used: systems before Vista, and Wine, have no listing of a file's names,
// and a DLL that imported it would not load there.
template <typename Function> Function* SystemFunction(const char* name)
{
    return reinterpret_cast<Function*>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), name)));
}

using FindFirstFileNameFunction = HANDLE WINAPI(const wchar_t*, DWORD, DWORD*, wchar_t*);
using FindNextFileNameFunction = BOOL WINAPI(HANDLE, DWORD*, wchar_t*);

} // namespace

HANDLE ShredOs::FindFirstFileNameW(const wchar_t* path, DWORD* length, wchar_t* name)
{
    static FindFirstFileNameFunction* const first =
        SystemFunction<FindFirstFileNameFunction>("FindFirstFileNameW");
    if (!first) {
        ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return INVALID_HANDLE_VALUE;
    }
    return first(path, 0, length, name);
}

BOOL ShredOs::FindNextFileNameW(HANDLE names, DWORD* length, wchar_t* name)
{
    static FindNextFileNameFunction* const next =
        SystemFunction<FindNextFileNameFunction>("FindNextFileNameW");
    if (!next) {
        ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    return next(names, length, name);
}

BOOL ShredOs::DeviceIoControl(HANDLE file, DWORD code, void* in, DWORD inSize, void* out,
                              DWORD outSize, DWORD* returned)
{
    return ::DeviceIoControl(file, code, in, inSize, out, outSize, returned, nullptr);
}

DWORD ShredOs::GetLastError()
{
    return ::GetLastError();
}

BOOL ShredOs::BackupRead(HANDLE file, BYTE* buffer, DWORD count, DWORD* read, BOOL abort,
                         BOOL processSecurity, void** context)
{
    return ::BackupRead(file, buffer, count, read, abort, processSecurity, context);
}

BOOL ShredOs::BackupSeek(HANDLE file, DWORD lowDistance, DWORD highDistance, DWORD* lowSought,
                         DWORD* highSought, void** context)
{
    return ::BackupSeek(file, lowDistance, highDistance, lowSought, highSought, context);
}

BOOL ShredOs::GetVolumePathNameW(const wchar_t* path, wchar_t* root, DWORD size)
{
    return ::GetVolumePathNameW(path, root, size);
}

BOOL ShredOs::GetDiskFreeSpaceA(const char* root, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                                DWORD* freeClusters, DWORD* totalClusters)
{
    return ::GetDiskFreeSpaceA(root, sectorsPerCluster, bytesPerSector, freeClusters,
                               totalClusters);
}

BOOL ShredOs::GetVolumeInformationA(const char* root, char* volumeName, DWORD volumeNameSize,
                                    DWORD* serialNumber, DWORD* maximumComponentLength,
                                    DWORD* fileSystemFlags, char* fileSystemName,
                                    DWORD fileSystemNameSize)
{
    return ::GetVolumeInformationA(root, volumeName, volumeNameSize, serialNumber,
                                   maximumComponentLength, fileSystemFlags, fileSystemName,
                                   fileSystemNameSize);
}

void ShredOs::GetSystemTime(SYSTEMTIME* now)
{
    ::GetSystemTime(now);
}

BOOL ShredOs::SystemTimeToFileTime(const SYSTEMTIME* time, FILETIME* fileTime)
{
    return ::SystemTimeToFileTime(time, fileTime);
}

time_t ShredOs::Time()
{
    return ::time(nullptr);
}

BOOL ShredOs::CryptAcquireContextA(HCRYPTPROV* provider, DWORD providerType, DWORD flags)
{
    return ::CryptAcquireContextA(provider, nullptr, nullptr, providerType, flags);
}

BOOL ShredOs::CryptGenRandom(HCRYPTPROV provider, DWORD length, BYTE* buffer)
{
    return ::CryptGenRandom(provider, length, buffer);
}

BOOL ShredOs::CryptReleaseContext(HCRYPTPROV provider)
{
    return ::CryptReleaseContext(provider, 0);
}

HRESULT ShredOs::CoInitializeEx(DWORD model)
{
    return ::CoInitializeEx(nullptr, model);
}

void ShredOs::CoUninitialize()
{
    ::CoUninitialize();
}

HRESULT ShredOs::SHGetMalloc(IMalloc** allocator)
{
    return ::SHGetMalloc(allocator);
}

HRESULT ShredOs::SHGetSpecialFolderLocation(HWND owner, int folder, PIDLIST_ABSOLUTE* idList)
{
    return ::SHGetSpecialFolderLocation(owner, folder, idList);
}

HRESULT ShredOs::SHGetDesktopFolder(IShellFolder** desktop)
{
    return ::SHGetDesktopFolder(desktop);
}

HRESULT ShredOs::StrRetToStrW(STRRET* name, PCUITEMID_CHILD item, wchar_t** text)
{
    return ::StrRetToStrW(name, item, text);
}

LRESULT ShredOs::SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::SendMessageA(window, message, wParam, lParam);
}

BOOL ShredOs::PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::PostMessageA(window, message, wParam, lParam);
}

BOOL ShredOs::GetDiskFreeSpaceExA(const char* root, ULARGE_INTEGER* availableToCaller,
                                  ULARGE_INTEGER* total, ULARGE_INTEGER* totalFree)
{
    return ::GetDiskFreeSpaceExA(root, availableToCaller, total, totalFree);
}

UINT ShredOs::GetDriveTypeA(const char* root)
{
    return ::GetDriveTypeA(root);
}

BOOL ShredOs::CreateDirectoryA(const char* path)
{
    return ::CreateDirectoryA(path, nullptr);
}

BOOL ShredOs::DeleteFileA(const char* path)
{
    return ::DeleteFileA(path);
}

BOOL ShredOs::WriteFile(HANDLE file, const void* data, DWORD count, DWORD* written)
{
    return ::WriteFile(file, data, count, written, nullptr);
}

BOOL ShredOs::FlushFileBuffers(HANDLE file)
{
    return ::FlushFileBuffers(file);
}

BOOL ShredOs::SetFilePointerEx(HANDLE file, LONGLONG distance, LONGLONG* position, DWORD method)
{
    LARGE_INTEGER to{};
    to.QuadPart = distance;
    LARGE_INTEGER reached{};
    const BOOL moved = ::SetFilePointerEx(file, to, &reached, method);
    if (moved && position)
        *position = reached.QuadPart;
    return moved;
}

BOOL ShredOs::SetEndOfFile(HANDLE file)
{
    return ::SetEndOfFile(file);
}
