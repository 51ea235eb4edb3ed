#include "common/TextConversion.h"
#include "engine/ShredNames.h"
#include "engine/ShredOs.h"
#include "core/ShredThread.h"

#include <cstddef>
#include <cstring>

namespace {

// A record's header is the platform's WIN32_STREAM_ID up to its name, which follows it.
constexpr DWORD StreamHeaderSize = offsetof(WIN32_STREAM_ID, cStreamName);
constexpr DWORD StreamBufferSize = 4096;
static_assert(StreamHeaderSize == 20, "the backup interface's records begin with 20 bytes");

WIN32_STREAM_ID ReadHeader(const BYTE* buffer)
{
    WIN32_STREAM_ID header{};
    std::memcpy(&header, buffer, StreamHeaderSize);
    return header;
}

// A name that converts exactly and has the form ":name:type" addresses that stream and no
// other; anything else is listed only to be reported.
StreamName NarrowStreamName(const BYTE* name, DWORD nameSize)
{
    std::wstring wide(nameSize / 2, L'\0');
    std::memcpy(wide.data(), name, wide.size() * sizeof(wchar_t));
    const std::optional<std::string> narrow = NarrowExactly(wide);
    if (!narrow || !IsStreamSuffix(wide))
        return StreamName{NarrowWithSubstitutes(wide), false};
    return StreamName{*narrow, true};
}

} // namespace

std::optional<StreamNameList> CShredThread::EnumAlternateStreams(std::string path)
{
    // A folder opens only with backup semantics; for a file they change nothing.
    const UniqueFileHandle file = OwnFileHandle(
        Os(), Os().CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                               FILE_ATTRIBUTE_SYSTEM | FILE_FLAG_OPEN_REPARSE_POINT |
                                   FILE_FLAG_BACKUP_SEMANTICS));
    if (!file.IsValid())
        return std::nullopt;

    StreamNameList names;
    BYTE buffer[StreamBufferSize];
    void* context = nullptr;
    // Read to the end, or not at all: a stream that was not listed would be deleted with its
    // file without ever being overwritten.
    bool complete = false;
    for (;;) {
        DWORD read = 0;
        if (!Os().BackupRead(file.Get(), buffer, StreamHeaderSize, &read, FALSE, TRUE, &context))
            break;
        if (read == 0) {
            complete = true;
            break;
        }
        if (read < StreamHeaderSize)
            break;
        const WIN32_STREAM_ID header = ReadHeader(buffer);
        if (header.dwStreamNameSize > StreamBufferSize - StreamHeaderSize)
            break;
        if (header.dwStreamNameSize != 0) {
            if (!Os().BackupRead(file.Get(), buffer + StreamHeaderSize, header.dwStreamNameSize,
                                 &read, FALSE, TRUE, &context) ||
                read < header.dwStreamNameSize)
                break;
            if (header.dwStreamId == BACKUP_ALTERNATE_DATA)
                names.push_back(
                    NarrowStreamName(buffer + StreamHeaderSize, header.dwStreamNameSize));
        }
        // A size whose high half is negative is not sought over.
        if (header.Size.HighPart > 0 || (header.Size.HighPart == 0 && header.Size.LowPart > 0)) {
            DWORD lowSought = 0;
            DWORD highSought = 0;
            Os().BackupSeek(file.Get(), 0xFFFFFFFF, 0x7FFFFFFF, &lowSought, &highSought, &context);
        }
    }
    DWORD read = 0;
    Os().BackupRead(file.Get(), buffer, 0, &read, TRUE, FALSE, &context);
    if (!complete)
        return std::nullopt;
    return names;
}
