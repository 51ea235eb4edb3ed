#include "engine/Keystream.h"

#include <cpuid.h>
#include <immintrin.h>

#include <algorithm>
#include <cstring>

// Everything that uses the AES instructions is compiled for them alone; Available() decides
// whether it runs. Values of vector type never cross a function boundary (their passing differs
// between the two bitnesses), so the key schedule is written out with a macro.
#define KEYSTREAM_TARGET __attribute__((target("aes,ssse3")))

namespace {

constexpr unsigned AesBit = 1u << 25;  // CPUID 1, ECX
constexpr unsigned Ssse3Bit = 1u << 9; // CPUID 1, ECX
// Blocks encrypted side by side: the AES unit takes a new one every cycle, and each needs ten.
constexpr size_t Lanes = 8;

uint64_t BigEndian(const BYTE* bytes)
{
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

// Round key n + 1 from round key n and the round constant, as FIPS-197 expands an AES-128 key.
#define KEYSTREAM_EXPAND(keys, n, constant)                                                        \
    do {                                                                                           \
        __m128i previous = _mm_load_si128(reinterpret_cast<const __m128i*>(keys) + (n));           \
        __m128i assist = _mm_shuffle_epi32(_mm_aeskeygenassist_si128(previous, constant), 0xFF);   \
        previous = _mm_xor_si128(previous, _mm_slli_si128(previous, 4));                           \
        previous = _mm_xor_si128(previous, _mm_slli_si128(previous, 4));                           \
        previous = _mm_xor_si128(previous, _mm_slli_si128(previous, 4));                           \
        _mm_store_si128(reinterpret_cast<__m128i*>(keys) + (n) + 1,                                \
                        _mm_xor_si128(previous, assist));                                          \
    } while (false)

KEYSTREAM_TARGET void ExpandKey(const BYTE* key, BYTE* roundKeys)
{
    _mm_store_si128(reinterpret_cast<__m128i*>(roundKeys),
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(key)));
    KEYSTREAM_EXPAND(roundKeys, 0, 0x01);
    KEYSTREAM_EXPAND(roundKeys, 1, 0x02);
    KEYSTREAM_EXPAND(roundKeys, 2, 0x04);
    KEYSTREAM_EXPAND(roundKeys, 3, 0x08);
    KEYSTREAM_EXPAND(roundKeys, 4, 0x10);
    KEYSTREAM_EXPAND(roundKeys, 5, 0x20);
    KEYSTREAM_EXPAND(roundKeys, 6, 0x40);
    KEYSTREAM_EXPAND(roundKeys, 7, 0x80);
    KEYSTREAM_EXPAND(roundKeys, 8, 0x1B);
    KEYSTREAM_EXPAND(roundKeys, 9, 0x36);
}

// Encrypts `Count` counter blocks from (high, low) on into `out`, and moves the counter past
// them. The count is fixed, so that the blocks stay in registers through the rounds.
template <size_t Count>
KEYSTREAM_TARGET inline void EncryptCounters(const __m128i (&roundKey)[11], uint64_t& high,
                                             uint64_t& low, BYTE* out)
{
    // The counter is a big-endian number: its register form, reversed byte for byte.
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    __m128i state[Count];
    for (size_t i = 0; i < Count; ++i) {
        const __m128i counter =
            _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low));
        state[i] = _mm_xor_si128(_mm_shuffle_epi8(counter, reverse), roundKey[0]);
        if (++low == 0)
            ++high;
    }
    for (int round = 1; round < 10; ++round)
        for (size_t i = 0; i < Count; ++i)
            state[i] = _mm_aesenc_si128(state[i], roundKey[round]);
    for (size_t i = 0; i < Count; ++i)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * i),
                         _mm_aesenclast_si128(state[i], roundKey[10]));
}

KEYSTREAM_TARGET void EncryptBlocks(const BYTE* roundKeys, uint64_t& high, uint64_t& low,
                                    size_t count, BYTE* out)
{
    __m128i roundKey[11];
    for (int round = 0; round < 11; ++round)
        roundKey[round] = _mm_load_si128(reinterpret_cast<const __m128i*>(roundKeys) + round);
    for (; count >= Lanes; count -= Lanes, out += Lanes * KeystreamBlockSize)
        EncryptCounters<Lanes>(roundKey, high, low, out);
    for (; count > 0; --count, out += KeystreamBlockSize)
        EncryptCounters<1>(roundKey, high, low, out);
}

} // namespace

bool AesCounterKeystream::Available()
{
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (ecx & AesBit) && (ecx & Ssse3Bit);
}

AesCounterKeystream::AesCounterKeystream(const BYTE (&key)[KeystreamKeySize],
                                         const BYTE (&counter)[KeystreamBlockSize])
    : counterHigh(BigEndian(counter)), counterLow(BigEndian(counter + 8))
{
    ExpandKey(key, roundKeys);
}

void AesCounterKeystream::Blocks(BYTE* out, size_t count)
{
    EncryptBlocks(roundKeys, counterHigh, counterLow, count, out);
}

void AesCounterKeystream::Fill(BYTE* out, size_t length)
{
    // What is left of a block the last call began.
    const size_t fromPending = std::min(length, KeystreamBlockSize - pendingUsed);
    std::memcpy(out, pending + pendingUsed, fromPending);
    pendingUsed += fromPending;
    out += fromPending;
    length -= fromPending;

    const size_t whole = length / KeystreamBlockSize;
    Blocks(out, whole);
    out += whole * KeystreamBlockSize;
    length -= whole * KeystreamBlockSize;

    if (length > 0) {
        Blocks(pending, 1);
        std::memcpy(out, pending, length);
        pendingUsed = length;
    }
}
