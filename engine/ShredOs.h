// The system calls the shredding engine makes: each member is the real call. A test derives from
// ShredOs, overrides the few calls whose failures or results the platform will not produce on
// demand, and puts its object in place with Seam<ShredOs>::Substitute.
#pragma once

#include "common/Unique.h"

#include <windows.h>
#include <shlobj.h>
#include <wincrypt.h>

#include <cstdint>
#include <ctime>

class ShredOs
{
public:
    virtual ~ShredOs() = default;

    // Files and names. The runtime-library calls set errno as the real ones do.
    virtual BOOL SetFileAttributesA(const char* path, DWORD attributes);
    // A runtime descriptor over an opened file; it owns the handle from then on.
    virtual int OpenOsfHandle(HANDLE file, int flags);
    virtual int64_t FileLength(int descriptor);
    virtual int64_t Seek(int descriptor, int64_t offset, int origin);
    virtual int Write(int descriptor, const void* data, unsigned count);
    virtual int Commit(int descriptor);
    virtual int Close(int descriptor);
    virtual int Rename(const char* from, const char* to);
    virtual int Remove(const char* name);
    virtual BOOL RemoveDirectoryA(const char* path);
    // Listings are read in UTF-16: the narrow listing best-fit maps what the code page lacks,
    // and a look-alike of "\" or ".." would lead the walk out of its folder.
    virtual HANDLE FindFirstFileW(const wchar_t* pattern, WIN32_FIND_DATAW* data);
    virtual BOOL FindNextFileW(HANDLE listing, WIN32_FIND_DATAW* data);
    virtual BOOL FindClose(HANDLE listing);
    virtual DWORD GetShortPathNameW(const wchar_t* longPath, wchar_t* shortPath, DWORD size);
    virtual HANDLE CreateFileA(const char* name, DWORD access, DWORD share, DWORD disposition,
                               DWORD flags);
    virtual BOOL CloseHandle(HANDLE handle);
    virtual BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information);
    virtual BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind,
                                              void* information, DWORD size);
    // Every name of a file, each from its volume's root ("\folder\file"); closed with
    // FindClose. Where the system has no such listing the first call fails with
    // ERROR_CALL_NOT_IMPLEMENTED.
    virtual HANDLE FindFirstFileNameW(const wchar_t* path, DWORD* length, wchar_t* name);
    virtual BOOL FindNextFileNameW(HANDLE names, DWORD* length, wchar_t* name);
    virtual BOOL DeviceIoControl(HANDLE file, DWORD code, void* in, DWORD inSize, void* out,
                                 DWORD outSize, DWORD* returned);
    virtual BOOL SetFileTime(HANDLE file, const FILETIME* lastWrite);
    virtual DWORD GetLastError();
    virtual BOOL BackupRead(HANDLE file, BYTE* buffer, DWORD count, DWORD* read, BOOL abort,
                            BOOL processSecurity, void** context);
    virtual BOOL BackupSeek(HANDLE file, DWORD lowDistance, DWORD highDistance, DWORD* lowSought,
                            DWORD* highSought, void** context);

    // Volumes.
    virtual BOOL GetVolumePathNameW(const wchar_t* path, wchar_t* root, DWORD size);
    virtual BOOL GetDiskFreeSpaceA(const char* root, DWORD* sectorsPerCluster,
                                   DWORD* bytesPerSector, DWORD* freeClusters,
                                   DWORD* totalClusters);
    virtual BOOL GetVolumeInformationA(const char* root, char* volumeName, DWORD volumeNameSize,
                                       DWORD* serialNumber, DWORD* maximumComponentLength,
                                       DWORD* fileSystemFlags, char* fileSystemName,
                                       DWORD fileSystemNameSize);

    // Clock and random source.
    virtual void GetSystemTime(SYSTEMTIME* now);
    virtual BOOL SystemTimeToFileTime(const SYSTEMTIME* time, FILETIME* fileTime);
    virtual time_t Time();
    virtual BOOL CryptAcquireContextA(HCRYPTPROV* provider, DWORD providerType, DWORD flags);
    virtual BOOL CryptGenRandom(HCRYPTPROV provider, DWORD length, BYTE* buffer);
    virtual BOOL CryptReleaseContext(HCRYPTPROV provider);

    // The shell's Recycle Bin, in an apartment of the worker's own.
    virtual HRESULT CoInitializeEx(DWORD model);
    virtual void CoUninitialize();
    virtual HRESULT SHGetMalloc(IMalloc** allocator);
    virtual HRESULT SHGetSpecialFolderLocation(HWND owner, int folder, PIDLIST_ABSOLUTE* idList);
    virtual HRESULT SHGetDesktopFolder(IShellFolder** desktop);
    // The text is the caller's, freed with CoTaskMemFree.
    virtual HRESULT StrRetToStrW(STRRET* name, PCUITEMID_CHILD item, wchar_t** text);

    // The progress window.
    virtual LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // The free-space wipe: what a volume holds and allows, and the filler files it writes
    // through handles in large blocks.
    virtual BOOL GetDiskFreeSpaceExA(const char* root, ULARGE_INTEGER* availableToCaller,
                                     ULARGE_INTEGER* total, ULARGE_INTEGER* totalFree);
    virtual UINT GetDriveTypeA(const char* root);
    virtual BOOL CreateDirectoryA(const char* path);
    virtual BOOL DeleteFileA(const char* path);
    virtual BOOL WriteFile(HANDLE file, const void* data, DWORD count, DWORD* written);
    virtual BOOL FlushFileBuffers(HANDLE file);
    virtual BOOL SetFilePointerEx(HANDLE file, LONGLONG distance, LONGLONG* position, DWORD method);
    virtual BOOL SetEndOfFile(HANDLE file);
};

// Owners of what the seam hands out, each given back through the seam that gave it.
struct DescriptorTraits
{
    using Handle = int;
    static Handle Invalid() { return -1; }
    static bool IsValid(Handle descriptor) { return descriptor != -1; }
    void Close(Handle descriptor) const { Os->Close(descriptor); }
    ShredOs* Os = nullptr;
};

struct FileHandleTraits : KernelHandle
{
    void Close(Handle file) const { Os->CloseHandle(file); }
    ShredOs* Os = nullptr;
};

struct ListingTraits : FileHandleTraits
{
    void Close(Handle listing) const { Os->FindClose(listing); }
};

// The apartment a walk initialised, left again through the seam that entered it.
struct ApartmentTraits : NullInvalid<ShredOs*>
{
    void Close(ShredOs* os) const { os->CoUninitialize(); }
};

using UniqueDescriptor = Unique<DescriptorTraits>;
using UniqueFileHandle = Unique<FileHandleTraits>;
using UniqueListing = Unique<ListingTraits>;
using UniqueApartment = Unique<ApartmentTraits>;

// What the seam handed out, owned so that it goes back through the same seam.
template <typename Traits>
Unique<Traits> OwnThroughSeam(ShredOs& os, typename Traits::Handle handle)
{
    Traits traits;
    traits.Os = &os;
    return Unique<Traits>(handle, traits);
}

inline UniqueDescriptor OwnDescriptor(ShredOs& os, int descriptor)
{
    return OwnThroughSeam<DescriptorTraits>(os, descriptor);
}

inline UniqueFileHandle OwnFileHandle(ShredOs& os, HANDLE file)
{
    return OwnThroughSeam<FileHandleTraits>(os, file);
}

inline UniqueListing OwnListing(ShredOs& os, HANDLE listing)
{
    return OwnThroughSeam<ListingTraits>(os, listing);
}
