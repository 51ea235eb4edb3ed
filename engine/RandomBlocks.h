// Blocks of random data for the free-space wipe, made on a thread of their own a few blocks ahead
// of the writer: while the processor has a second core, making them costs the writer nothing.
// The bytes come from the AES keystream keyed from the provider or, on a processor without AES
// instructions, from the provider itself, block by block.
#pragma once

#include "engine/ShredOs.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class AesCounterKeystream;

class RandomBlocks
{
public:
    enum class Source
    {
        Keystream,
        Provider,
    };
    // The keystream where the processor can make it.
    static Source DefaultSource();

    // The key, or every block, comes from the provider through `os`.
    RandomBlocks(ShredOs& os, size_t blockSize, Source source = DefaultSource());
    ~RandomBlocks();
    RandomBlocks(const RandomBlocks&) = delete;
    RandomBlocks& operator=(const RandomBlocks&) = delete;

    size_t BlockSize() const { return blockSize; }
    Source Origin() const { return source; }

    // The next block, valid until the next call of Next or Take.
    const BYTE* Next();
    // The next `length` bytes of the same stream.
    void Take(BYTE* out, size_t length);

private:
    enum class Slot
    {
        Free,
        Ready,
        Taken,
    };
    void Produce();
    void FillBlock(BYTE* block);
    // The provider's bytes, or bytes of a generator seeded from the clock where it fails.
    void FromProvider(BYTE* out, size_t length);

    ShredOs& os;
    const size_t blockSize;
    const Source source;
    HCRYPTPROV provider = 0;
    std::unique_ptr<AesCounterKeystream> keystream;
    uint64_t fallbackState = 0;

    std::vector<std::vector<BYTE>> blocks;
    std::vector<Slot> slots;
    size_t nextToFill = 0;
    size_t nextToTake = 0;
    // The block Next handed out last, given back to be refilled by the call after.
    size_t taken = SIZE_MAX;
    // Take's place in the block it reads from.
    size_t takeOffset = 0;
    const BYTE* takeBlock = nullptr;
    bool stopping = false;
    std::mutex lock;
    std::condition_variable changed;
    std::thread producer;
};
