#include "engine/StorageKind.h"

namespace {

// The attributes of data that is fetched when the file is opened or read (the toolchain's
// headers do not have them).
constexpr DWORD RecallOnOpen = 0x00040000;
constexpr DWORD RecallOnDataAccess = 0x00400000;

// The cloud files' tags: IO_REPARSE_TAG_CLOUD and its sixteen variants, 0x9000?01A.
bool IsCloudTag(DWORD tag)
{
    return (tag & 0xFFFF0FFF) == IO_REPARSE_TAG_CLOUD;
}

DWORD ReparseTagOf(ShredOs& os, HANDLE file)
{
    FILE_ATTRIBUTE_TAG_INFO tag{};
    return os.GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag)
               ? tag.ReparseTag
               : 0;
}

} // namespace

Storage StorageOf(ShredOs& os, HANDLE file, DWORD attributes, bool volumeWritesElsewhere)
{
    // Data that must be fetched to be read is not on this disk.
    if (attributes & (FILE_ATTRIBUTE_OFFLINE | RecallOnOpen | RecallOnDataAccess))
        return Storage::CloudPlaceholder;
    const DWORD tag =
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? ReparseTagOf(os, file) : DWORD{0};
    if (IsCloudTag(tag))
        return Storage::Cloud;
    if (tag == IO_REPARSE_TAG_DEDUP)
        return Storage::Deduplicated;
    if (tag == IO_REPARSE_TAG_WOF)
        return Storage::SystemCompressed;
    if (attributes & FILE_ATTRIBUTE_COMPRESSED)
        return Storage::Compressed;
    if (volumeWritesElsewhere)
        return Storage::WritesElsewhere;
    return Storage::InPlace;
}

ShredStatus DeletedStatus(Storage storage)
{
    switch (storage) {
    case Storage::Compressed:
        return StatusCopiesRemainCompressed;
    case Storage::SystemCompressed:
        return StatusCopiesRemainSystemCompressed;
    case Storage::Deduplicated:
        return StatusCopiesRemainDeduplicated;
    case Storage::Cloud:
        return StatusCopiesRemainCloud;
    case Storage::CloudPlaceholder:
        return StatusCloudPlaceholderDeleted;
    case Storage::WritesElsewhere:
        return StatusCopiesRemainVolume;
    default:
        return StatusShredded;
    }
}
