#include "engine/CheckedOpen.h"

#include "engine/ShredNames.h"

namespace {

constexpr DWORD FolderAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
constexpr DWORD WriteAccess = GENERIC_WRITE | FILE_READ_ATTRIBUTES;
// Others may go on reading and writing, but nobody may rename or delete what is held open.
constexpr DWORD SharingWithoutDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;

bool IsLinkHandle(ShredOs& os, HANDLE handle, DWORD attributes)
{
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    // A tag that cannot be read may be a link's.
    return !os.GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) ||
           IsLinkTag(tag.ReparseTag);
}

UniqueFileHandle OpenWithoutFollowing(ShredOs& os, const std::string& name, DWORD access,
                                      bool folder)
{
    return OwnFileHandle(
        os,
        os.CreateFileA(name.c_str(), access, SharingWithoutDelete, OPEN_EXISTING,
                       FILE_FLAG_OPEN_REPARSE_POINT | (folder ? FILE_FLAG_BACKUP_SEMANTICS : 0)));
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

} // namespace

ShredStatus StatusForOpenError(DWORD error)
{
    switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return StatusFileExists;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER:
    case ERROR_BAD_PATHNAME:
        return StatusInvalidArguments;
    case ERROR_TOO_MANY_OPEN_FILES:
        return StatusNoHandles;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return StatusFileNotFound;
    default:
        // Access denied, a sharing violation, and whatever the open is not expected to give.
        return StatusAccessViolation;
    }
}

CheckedHandle OpenChecked(ShredOs& os, const std::string& name, ItemKind kind,
                          std::optional<DWORD> volume)
{
    const bool folder = kind == ItemKind::Folder;
    CheckedHandle checked;
    checked.Handle =
        OpenWithoutFollowing(os, name, folder ? FolderAccess : FILE_READ_ATTRIBUTES, folder);
    if (!checked.Handle) {
        checked.Refusal = StatusForOpenError(os.GetLastError());
        return checked;
    }
    const bool read = os.GetFileInformationByHandle(checked.Handle.Get(), &checked.Information);
    const bool isFolder = (checked.Information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool changed =
        !read || (kind != ItemKind::Stream && folder != isFolder) ||
        IsLinkHandle(os, checked.Handle.Get(), checked.Information.dwFileAttributes) ||
        (volume && checked.Information.dwVolumeSerialNumber != *volume);
    if (changed) {
        checked.Handle.Reset();
        checked.Refusal = StatusChangedWhileShredding;
    }
    return checked;
}

CheckedHandle ReopenForWriting(ShredOs& os, const std::string& name, const CheckedHandle& held,
                               DWORD moreAccess)
{
    CheckedHandle writable;
    writable.Handle = OpenWithoutFollowing(os, name, WriteAccess | moreAccess, false);
    if (!writable.Handle) {
        writable.Refusal = StatusForOpenError(os.GetLastError());
        return writable;
    }
    if (!os.GetFileInformationByHandle(writable.Handle.Get(), &writable.Information) ||
        !SameFile(writable.Information, held.Information)) {
        writable.Handle.Reset();
        writable.Refusal = StatusChangedWhileShredding;
    }
    return writable;
}
