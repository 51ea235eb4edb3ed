#include "common/TextConversion.h"
#include "engine/ShredNames.h"
#include "engine/ShredOs.h"
#include "core/ShredThread.h"

#include <cstring>

namespace {

constexpr DWORD StreamHeaderSize = 20;
constexpr DWORD StreamBufferSize = 4096;

struct StreamHeader
{
    DWORD StreamId;
    DWORD LowSize;
    LONG HighSize;
    DWORD NameSize;
};

StreamHeader ReadHeader(const BYTE* buffer)
{
    StreamHeader header{};
    std::memcpy(&header.StreamId, buffer, 4);
    std::memcpy(&header.LowSize, buffer + 8, 4);
    std::memcpy(&header.HighSize, buffer + 12, 4);
    std::memcpy(&header.NameSize, buffer + 16, 4);
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
        const StreamHeader header = ReadHeader(buffer);
        if (header.NameSize > StreamBufferSize - StreamHeaderSize)
            break;
        if (header.NameSize != 0) {
            if (!Os().BackupRead(file.Get(), buffer + StreamHeaderSize, header.NameSize, &read,
                                 FALSE, TRUE, &context) ||
                read < header.NameSize)
                break;
            if (header.StreamId == BACKUP_ALTERNATE_DATA)
                names.push_back(NarrowStreamName(buffer + StreamHeaderSize, header.NameSize));
        }
        if (header.HighSize > 0 || (header.HighSize == 0 && header.LowSize > 0)) {
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
