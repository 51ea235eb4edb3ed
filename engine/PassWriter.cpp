#include "engine/ClockSeededRandom.h"
#include "engine/PassSequences.h"
#include "core/ShredThread.h"
#include "engine/ShredOs.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A flush that keeps failing is given up after this many calls: the pass then counts as failed.
constexpr int CommitAttempts = 3;

} // namespace

DWORD CShredThread::FillRandom(BYTE* buffer, DWORD length)
{
    HCRYPTPROV provider = 0;
    if (!Os().CryptAcquireContextA(&provider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
        return Os().GetLastError();
    DWORD error = 0;
    if (!Os().CryptGenRandom(provider, length, buffer))
        error = Os().GetLastError();
    Os().CryptReleaseContext(provider);
    return error;
}

void CShredThread::ProviderContextTraits::Close(HCRYPTPROV context) const
{
    Os->CryptReleaseContext(context);
}

void CShredThread::KeepProviderLoaded()
{
    if (!ProviderKeepAliveDue)
        return;
    ProviderKeepAliveDue = false;
    HCRYPTPROV context = 0;
    if (Os().CryptAcquireContextA(&context, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
        ProviderKeepAlive =
            Unique<ProviderContextTraits>(context, ProviderContextTraits{{}, &Os()});
}

void CShredThread::FillRandomOrFallback(BYTE* buffer, DWORD length)
{
    if (FillRandom(buffer, length) == 0) {
        uint64_t tail = 0;
        std::memcpy(&tail, buffer + length - std::min<DWORD>(length, 8),
                    std::min<DWORD>(length, 8));
        FallbackState ^= tail;
        SplitMix64(FallbackState);
        FallbackSeeded = true;
        return;
    }
    if (!FallbackSeeded) {
        FallbackState ^= ClockSeed();
        FallbackSeeded = true;
    }
    for (DWORD i = 0; i < length; i += 8) {
        uint64_t value = SplitMix64(FallbackState);
        std::memcpy(buffer + i, &value, std::min<DWORD>(8, length - i));
    }
}

void CShredThread::SendStep()
{
    if (++WritesSinceStep < WritesPerStep)
        return;
    WritesSinceStep = 0;
    Os().SendMessageA(ProgressWindow, WM_COMMAND, MakeShredWParam(ItemIndex, ID_SHRED_STEP), 0);
}

bool CShredThread::CommitWithRetry(int descriptor)
{
    for (int attempt = 0; attempt < CommitAttempts; ++attempt) {
        if (Os().Commit(descriptor) == 0)
            return true;
    }
    return false;
}

std::vector<ByteRange> CShredThread::PartsOfPass(int64_t length) const
{
    if (!PassRanges)
        return {{0, length}};
    std::vector<ByteRange> parts;
    for (const ByteRange& range : *PassRanges) {
        const int64_t end = std::min(range.Offset + range.Length, length);
        if (end > range.Offset)
            parts.push_back({range.Offset, end - range.Offset});
    }
    return parts;
}

int64_t CShredThread::WriteBlocks(int descriptor, int64_t length, std::vector<BYTE>& block,
                                  int patternLength, bool refillRandom)
{
    // Data small enough to live in the file's own record is overwritten there, and flushed,
    // before a pass grows the file past it: the growing moves the data to new clusters and
    // would leave the record's old bytes as they were.
    const int64_t inPlace = Os().FileLength(descriptor);
    bool grows = inPlace > 0 && inPlace < length;
    const auto blockSize = static_cast<int64_t>(block.size());
    // Holes between a sparse file's ranges hold nothing, and count as covered.
    int64_t covered = 0;
    bool complete = true;
    for (const ByteRange& part : PartsOfPass(length)) {
        covered = std::max(covered, part.Offset);
        int64_t position = part.Offset;
        const int64_t end = part.Offset + part.Length;
        if (Os().Seek(descriptor, position, SEEK_SET) != position) {
            complete = false;
            break;
        }
        while (position < end) {
            // After a short write the next one starts inside the pattern where the file is.
            const auto offset = static_cast<size_t>(position % patternLength);
            int64_t count =
                std::min<int64_t>(end - position, blockSize - static_cast<int64_t>(offset));
            if (grows)
                count = std::min(count, inPlace - position);
            if (refillRandom) {
                KeepProviderLoaded();
                FillRandomOrFallback(block.data(), static_cast<DWORD>(block.size()));
            }
            const int result =
                Os().Write(descriptor, block.data() + offset, static_cast<unsigned>(count));
            if (result <= 0)
                break;
            position += result;
            SendStep();
            if (grows && position >= inPlace) {
                if (!CommitWithRetry(descriptor))
                    return 0;
                grows = false;
            }
        }
        covered = position;
        if (position < end) {
            complete = false;
            break;
        }
    }
    if (complete)
        covered = length;
    // Data that never reached the disk has not overwritten anything.
    return CommitWithRetry(descriptor) ? covered : 0;
}

int64_t CShredThread::WritePatternPass(int descriptor, int64_t length, const BYTE* pattern,
                                       int patternLength)
{
    const int blockSize = (RandomBlockSize / patternLength) * patternLength;
    std::vector<BYTE> block(blockSize);
    for (int i = 0; i < blockSize; ++i)
        block[i] = pattern[i % patternLength];
    return WriteBlocks(descriptor, length, block, patternLength, false);
}

int64_t CShredThread::WriteRandomPass(int descriptor, int64_t length)
{
    // Zeroed, so no byte the random source did not fill is ever old heap memory.
    std::vector<BYTE> block(RandomBlockSize);
    return WriteBlocks(descriptor, length, block, 1, true);
}

int64_t CShredThread::WriteDoDPasses(int descriptor, int64_t length)
{
    std::srand(static_cast<unsigned>(Os().Time()));
    auto patternPass = [&](BYTE value) { return WritePatternPass(descriptor, length, &value, 1); };
    const auto b1 = static_cast<BYTE>(std::rand());
    int64_t covered = patternPass(b1);
    covered = std::min(covered, patternPass(static_cast<BYTE>(~b1)));
    covered = std::min(covered, WriteRandomPass(descriptor, length));
    const auto b2 = static_cast<BYTE>(std::rand());
    covered = std::min(covered, patternPass(b2));
    const auto b3 = static_cast<BYTE>(std::rand());
    covered = std::min(covered, patternPass(b3));
    covered = std::min(covered, patternPass(static_cast<BYTE>(~b3)));
    return std::min(covered, WriteRandomPass(descriptor, length));
}

int64_t CShredThread::WriteGutmannPasses(int descriptor, int64_t length)
{
    int64_t covered = INT64_MAX;
    for (int i = 0; i < GutmannRandomPassesEachSide; ++i)
        covered = std::min(covered, WriteRandomPass(descriptor, length));
    for (const auto& pattern : GutmannPatterns)
        covered =
            std::min(covered, WritePatternPass(descriptor, length, pattern, GutmannPatternLength));
    for (int i = 0; i < GutmannRandomPassesEachSide; ++i)
        covered = std::min(covered, WriteRandomPass(descriptor, length));
    return covered;
}
