#include "engine/ScopedDescriptor.h"
#include "jobs/ShredThread.h"

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

// Without best-fit mapping: a character the code page lacks becomes "?", which the shredder
// then refuses, rather than a look-alike that could name another stream.
std::string NarrowStreamName(const BYTE* name, DWORD nameSize)
{
    const int units = static_cast<int>(nameSize / 2);
    std::wstring wide(units, L'\0');
    std::memcpy(wide.data(), name, units * sizeof(wchar_t));
    const int size = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), units,
                                           nullptr, 0, nullptr, nullptr);
    std::string narrow(size > 0 ? size : 0, '\0');
    if (size > 0)
        ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), units, narrow.data(), size,
                              nullptr, nullptr);
    return narrow;
}

} // namespace

StreamNameList CShredThread::EnumAlternateStreams(std::string path)
{
    StreamNameList names;
    ScopedFileHandle file(*Os, Os->CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_SYSTEM));
    if (!file.IsValid())
        return names;

    BYTE buffer[StreamBufferSize];
    void* context = nullptr;
    for (;;) {
        DWORD read = 0;
        if (!Os->BackupRead(file.Get(), buffer, StreamHeaderSize, &read, FALSE, TRUE, &context) ||
            read < StreamHeaderSize)
            break;
        const StreamHeader header = ReadHeader(buffer);
        if (header.NameSize > StreamBufferSize - StreamHeaderSize)
            break;
        if (header.NameSize != 0) {
            if (!Os->BackupRead(file.Get(), buffer + StreamHeaderSize, header.NameSize, &read,
                                FALSE, TRUE, &context) ||
                read < header.NameSize)
                break;
            if (header.StreamId == BACKUP_ALTERNATE_DATA)
                names.push_back(NarrowStreamName(buffer + StreamHeaderSize, header.NameSize));
        }
        if (header.HighSize > 0 || (header.HighSize == 0 && header.LowSize > 0)) {
            DWORD lowSought = 0;
            DWORD highSought = 0;
            Os->BackupSeek(file.Get(), 0xFFFFFFFF, 0x7FFFFFFF, &lowSought, &highSought, &context);
        }
    }
    DWORD read = 0;
    Os->BackupRead(file.Get(), buffer, 0, &read, TRUE, FALSE, &context);
    return names;
}
