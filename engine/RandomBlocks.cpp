#include "engine/RandomBlocks.h"

#include "engine/ClockSeededRandom.h"
#include "engine/Keystream.h"

#include <algorithm>
#include <cstring>

namespace {

// Blocks made ahead of the writer: one being written, one ready, one being made.
constexpr size_t SlotCount = 3;
constexpr DWORD ProviderFlags = CRYPT_VERIFYCONTEXT | CRYPT_SILENT;

} // namespace

RandomBlocks::Source RandomBlocks::DefaultSource()
{
    return AesCounterKeystream::Available() ? Source::Keystream : Source::Provider;
}

RandomBlocks::RandomBlocks(ShredOs& os, size_t blockSize, Source source)
    : os(os), blockSize(blockSize), source(source), fallbackState(ClockSeed()),
      blocks(SlotCount, std::vector<BYTE>(blockSize)), slots(SlotCount, Slot::Free)
{
    // One context for the whole wipe: acquiring one takes milliseconds under Wine.
    if (!os.CryptAcquireContextA(&provider, PROV_RSA_FULL, ProviderFlags))
        provider = 0;
    if (source == Source::Keystream) {
        BYTE key[KeystreamKeySize];
        BYTE counter[KeystreamBlockSize];
        FromProvider(key, sizeof key);
        FromProvider(counter, sizeof counter);
        keystream = std::make_unique<AesCounterKeystream>(key, counter);
        SecureZeroMemory(key, sizeof key);
    }
    producer = std::thread([this] { Produce(); });
}

RandomBlocks::~RandomBlocks()
{
    {
        std::lock_guard<std::mutex> held(lock);
        stopping = true;
    }
    changed.notify_all();
    producer.join();
    if (provider)
        os.CryptReleaseContext(provider);
}

void RandomBlocks::FromProvider(BYTE* out, size_t length)
{
    if (provider && os.CryptGenRandom(provider, static_cast<DWORD>(length), out))
        return;
    for (size_t i = 0; i < length; i += 8) {
        const uint64_t value = SplitMix64(fallbackState);
        std::memcpy(out + i, &value, std::min<size_t>(8, length - i));
    }
}

void RandomBlocks::FillBlock(BYTE* block)
{
    if (keystream)
        keystream->Fill(block, blockSize);
    else
        FromProvider(block, blockSize);
}

void RandomBlocks::Produce()
{
    std::unique_lock<std::mutex> held(lock);
    for (;;) {
        changed.wait(held, [this] { return stopping || slots[nextToFill] == Slot::Free; });
        if (stopping)
            return;
        const size_t slot = nextToFill;
        nextToFill = (nextToFill + 1) % SlotCount;
        // Made outside the lock: the writer takes ready blocks meanwhile.
        held.unlock();
        FillBlock(blocks[slot].data());
        held.lock();
        slots[slot] = Slot::Ready;
        changed.notify_all();
    }
}

const BYTE* RandomBlocks::Next()
{
    std::unique_lock<std::mutex> held(lock);
    if (taken != SIZE_MAX) {
        slots[taken] = Slot::Free;
        changed.notify_all();
    }
    changed.wait(held, [this] { return slots[nextToTake] == Slot::Ready; });
    taken = nextToTake;
    slots[taken] = Slot::Taken;
    nextToTake = (nextToTake + 1) % SlotCount;
    takeBlock = nullptr;
    return blocks[taken].data();
}

void RandomBlocks::Take(BYTE* out, size_t length)
{
    while (length > 0) {
        if (!takeBlock || takeOffset == blockSize) {
            const BYTE* block = Next();
            takeBlock = block;
            takeOffset = 0;
        }
        const size_t part = std::min(length, blockSize - takeOffset);
        std::memcpy(out, takeBlock + takeOffset, part);
        takeOffset += part;
        out += part;
        length -= part;
    }
}
