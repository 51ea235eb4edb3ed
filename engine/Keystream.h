// The stream of random bytes a free-space wipe writes: AES-128 in counter mode on the
// processor's AES instructions, keyed from the system's cryptographic provider. A wipe writes at
// the speed of the disk, which the provider cannot feed (under Wine it draws about 70 MB/s); one
// key from it, expanded so, gives bytes as unpredictable as the provider's at gigabytes a second.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

constexpr size_t KeystreamKeySize = 16;
constexpr size_t KeystreamBlockSize = 16;

class AesCounterKeystream
{
public:
    // True when the processor has the instructions this needs (AES and SSSE3).
    static bool Available();

    // The first block of output is the key's encryption of `counter`, read as a 128-bit
    // big-endian number that grows by one for every block.
    AesCounterKeystream(const BYTE (&key)[KeystreamKeySize],
                        const BYTE (&counter)[KeystreamBlockSize]);

    // The next `length` bytes of the stream; a call may end inside a block, and the next one
    // goes on from there.
    void Fill(BYTE* out, size_t length);

private:
    void Blocks(BYTE* out, size_t count);

    alignas(16) BYTE roundKeys[11 * KeystreamBlockSize];
    uint64_t counterHigh;
    uint64_t counterLow;
    BYTE pending[KeystreamBlockSize] = {};
    size_t pendingUsed = KeystreamBlockSize;
};
