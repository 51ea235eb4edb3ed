// What random bytes fall back on when the cryptographic provider fails: a SplitMix64 generator
// seeded from the clock. The bytes still overwrite; only their unpredictability is lost.
#pragma once

#include <windows.h>

#include <cstdint>

inline uint64_t SplitMix64(uint64_t& state)
{
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

inline uint64_t ClockSeed()
{
    LARGE_INTEGER counter{};
    ::QueryPerformanceCounter(&counter);
    return static_cast<uint64_t>(counter.QuadPart) ^ (::GetTickCount64() << 32) ^
           ::GetCurrentThreadId();
}
