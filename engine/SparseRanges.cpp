#include "engine/SparseRanges.h"

#include <winioctl.h>

namespace {

// Ranges asked for at a time; the answer says when there are more.
constexpr DWORD RangesPerCall = 64;

} // namespace

std::optional<std::vector<ByteRange>> AllocatedRanges(ShredOs& os, HANDLE file, int64_t length)
{
    std::vector<ByteRange> ranges;
    FILE_ALLOCATED_RANGE_BUFFER wanted{};
    wanted.Length.QuadPart = length;
    FILE_ALLOCATED_RANGE_BUFFER found[RangesPerCall] = {};
    for (;;) {
        DWORD returned = 0;
        const BOOL all = os.DeviceIoControl(file, FSCTL_QUERY_ALLOCATED_RANGES, &wanted,
                                            sizeof wanted, found, sizeof found, &returned);
        if (!all && os.GetLastError() != ERROR_MORE_DATA)
            return std::nullopt;
        const DWORD count = returned / sizeof found[0];
        for (DWORD i = 0; i < count && i < RangesPerCall; ++i)
            ranges.push_back({found[i].FileOffset.QuadPart, found[i].Length.QuadPart});
        if (all)
            return ranges;
        // More ranges than fitted: ask again from the end of the last one given.
        if (count == 0)
            return std::nullopt;
        const int64_t next = ranges.back().Offset + ranges.back().Length;
        wanted.FileOffset.QuadPart = next;
        wanted.Length.QuadPart = length - next;
        if (wanted.Length.QuadPart <= 0)
            return ranges;
    }
}
