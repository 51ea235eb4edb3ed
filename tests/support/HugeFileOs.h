// A file of any length, its writes counted and checked, not stored: for files past what a test
// could write, large sparse files among them. Every name opened for writing is this file.
#pragma once

#include "FakeShredOs.h"
#include "core/ShredThread.h"

#include <winioctl.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

class HugeFileOs : public FakeShredOs
{
public:
    struct Pass
    {
        int64_t Bytes = 0;
        int64_t Writes = 0;
        // Writes of nothing, or past the length every pass must cover.
        int64_t Misplaced = 0;
        // Writes whose first or last byte was not the pattern byte of its offset.
        int64_t Misaligned = 0;
        // Where the pass wrote, runs of adjoining writes joined.
        std::vector<ByteRange> Written;
    };

    explicit HugeFileOs(int64_t length) : length(length) { RecordMessages = true; }

    std::vector<Pass> Passes;
    int64_t Steps = 0;
    // The length every pass must cover, and the pattern its writes must carry, if any.
    int64_t OverwriteLength = 0;
    std::vector<BYTE> Pattern;
    // When set, the file is sparse and holds data only in these ranges.
    std::optional<std::vector<ByteRange>> Allocated;
    // Steps go on to the window instead of being only counted.
    bool ForwardSteps = false;

    int OpenOsfHandle(HANDLE file, int) override
    {
        opened = file;
        return FakeDescriptor;
    }
    BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information) override
    {
        if (!FakeShredOs::GetFileInformationByHandle(file, information))
            return FALSE;
        if (Allocated)
            information->dwFileAttributes |= FILE_ATTRIBUTE_SPARSE_FILE;
        return TRUE;
    }
    BOOL DeviceIoControl(HANDLE file, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                         DWORD* returned) override
    {
        if (code != FSCTL_QUERY_ALLOCATED_RANGES || !Allocated)
            return FakeShredOs::DeviceIoControl(file, code, in, inSize, out, outSize, returned);
        // The ranges at or after the offset asked for, as many as fit; the rest next time.
        const auto* asked = static_cast<const FILE_ALLOCATED_RANGE_BUFFER*>(in);
        auto* answer = static_cast<FILE_ALLOCATED_RANGE_BUFFER*>(out);
        const DWORD room = outSize / sizeof *answer;
        DWORD given = 0;
        bool more = false;
        for (const ByteRange& range : *Allocated) {
            if (range.Offset + range.Length <= asked->FileOffset.QuadPart)
                continue;
            if (given == room) {
                more = true;
                break;
            }
            answer[given].FileOffset.QuadPart = range.Offset;
            answer[given].Length.QuadPart = range.Length;
            ++given;
        }
        *returned = given * sizeof *answer;
        if (more)
            ::SetLastError(ERROR_MORE_DATA);
        return !more;
    }
    // As long as it was made, or as far as a pass has grown it.
    int64_t FileLength(int descriptor) override
    {
        return descriptor == FakeDescriptor ? std::max(length, end) : -1;
    }
    // A pass begins with a seek to where its first write goes.
    int64_t Seek(int, int64_t offset, int) override
    {
        const int64_t first = Allocated && !Allocated->empty() ? Allocated->front().Offset : 0;
        if (Passes.empty() || offset == first)
            Passes.emplace_back();
        position = offset;
        return position;
    }
    int Write(int, const void* data, unsigned count) override
    {
        Pass& pass = Passes.back();
        ++pass.Writes;
        // A misplaced write fails, so that a pass that lost count ends rather than runs on.
        if (count == 0 || position + count > OverwriteLength) {
            ++pass.Misplaced;
            return -1;
        }
        if (!Pattern.empty()) {
            const auto* bytes = static_cast<const BYTE*>(data);
            const size_t n = Pattern.size();
            if (bytes[0] != Pattern[position % n] ||
                bytes[count - 1] != Pattern[(position + count - 1) % n])
                ++pass.Misaligned;
        }
        if (!pass.Written.empty() &&
            pass.Written.back().Offset + pass.Written.back().Length == position)
            pass.Written.back().Length += count;
        else
            pass.Written.push_back({position, count});
        position += count;
        end = std::max(end, position);
        pass.Bytes += count;
        return static_cast<int>(count);
    }
    int Commit(int) override { return 0; }
    int Close(int) override
    {
        ShredOs::CloseHandle(opened);
        opened = nullptr;
        return 0;
    }
    // The file is not removed: logged only.
    int Remove(const char* name) override
    {
        LogCall("remove", name);
        return 0;
    }
    // Millions of blocks: the random source is not what is under test here.
    BOOL CryptAcquireContextA(HCRYPTPROV* provider, DWORD, DWORD) override
    {
        *provider = 1;
        return TRUE;
    }
    BOOL CryptGenRandom(HCRYPTPROV, DWORD, BYTE*) override { return TRUE; }
    BOOL CryptReleaseContext(HCRYPTPROV) override { return TRUE; }
    LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_COMMAND && LOWORD(wParam) == ID_SHRED_STEP) {
            ++Steps;
            if (!ForwardSteps)
                return 0;
        }
        return FakeShredOs::SendMessageA(window, message, wParam, lParam);
    }

    static constexpr int FakeDescriptor = 4242;

private:
    int64_t length;
    int64_t position = 0;
    int64_t end = 0;
    HANDLE opened = nullptr;
};
