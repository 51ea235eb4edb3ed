// The passes a free-space wipe writes over each filler file: those of the user's method, as a
// file is shredded with them, and the bytes each pass writes at a place in the file.
#pragma once

#include "core/ShredSettings.h"
#include "engine/RandomBlocks.h"

#include <windows.h>

#include <cstdint>
#include <vector>

struct WipePass
{
    // A random pass, or one repeating the pattern from the file's first byte.
    bool Random = true;
    std::vector<BYTE> Pattern;
};

// The random method's passes (the settings' number, brought into the settings dialog's range),
// the DoD sequence with its three bytes drawn from `random`, or the Gutmann sequence.
std::vector<WipePass> WipePassesOf(const ShredSettings& settings, RandomBlocks& random);

// The bytes of one pass, a block at a time.
class PassData
{
public:
    PassData(const WipePass& pass, RandomBlocks& random);
    PassData(const PassData&) = delete;
    PassData& operator=(const PassData&) = delete;

    // At least a block of the bytes that belong at `offset` of the file: a pattern goes on
    // without a break across blocks. A random block is new at every call.
    const BYTE* At(uint64_t offset);

private:
    RandomBlocks& random;
    bool isRandom;
    size_t patternLength = 1;
    // A block and one pattern's length more, so that a block can start at any phase.
    std::vector<BYTE> patternBlock;
};
