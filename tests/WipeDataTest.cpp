// What a free-space wipe writes: the AES counter-mode keystream against the published vectors and
// across calls and counter carries; the random blocks, keyed from the provider (or drawn from it
// block by block) and handed out in order by their own thread; and the passes of each method,
// with patterns that run on across blocks.
#include "CallLog.h"
#include "FaultScript.h"
#include "core/ShredSettings.h"
#include "engine/Keystream.h"
#include "engine/PassSequences.h"
#include "engine/RandomBlocks.h"
#include "engine/ShredOs.h"
#include "engine/WipePasses.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

Bytes Hex(const std::string& text)
{
    Bytes bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        bytes.push_back(static_cast<BYTE>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

template <size_t Size> void CopyInto(BYTE (&to)[Size], const Bytes& from)
{
    ASSERT_EQ(from.size(), Size);
    std::memcpy(to, from.data(), Size);
}

std::unique_ptr<AesCounterKeystream> NewKeystream(const Bytes& key, const Bytes& counter)
{
    BYTE keyBytes[KeystreamKeySize];
    BYTE counterBytes[KeystreamBlockSize];
    CopyInto(keyBytes, key);
    CopyInto(counterBytes, counter);
    return std::make_unique<AesCounterKeystream>(keyBytes, counterBytes);
}

Bytes Keystream(const Bytes& key, const Bytes& counter, size_t length)
{
    Bytes out(length);
    NewKeystream(key, counter)->Fill(out.data(), out.size());
    return out;
}

class KeystreamTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!AesCounterKeystream::Available())
            GTEST_SKIP() << "this processor has no AES instructions";
    }
};

// The provider gives byte n of a fixed sequence that does not repeat within a block, n counting
// across all its draws; the script may make opening it fail. Everything else is the real call.
class CountingProviderOs : public ShredOs
{
public:
    FaultScript Script;
    // "acquire", "draw" and "release", in order.
    CallLog Calls;
    // The bytes of every draw, in order.
    Bytes Drawn()
    {
        std::lock_guard<std::mutex> held(lock);
        return drawn;
    }

    BOOL CryptAcquireContextA(HCRYPTPROV* provider, DWORD, DWORD) override
    {
        Calls.Add("acquire");
        const bool fails = Script.Next(Call::ProviderAcquire) != 0;
        *provider = fails ? 0 : 0xC0FFEE;
        return !fails;
    }
    static BYTE ByteAt(uint32_t index) { return static_cast<BYTE>((index * 2654435761u) >> 24); }

    BOOL CryptGenRandom(HCRYPTPROV, DWORD length, BYTE* buffer) override
    {
        Calls.Add("draw");
        std::lock_guard<std::mutex> held(lock);
        for (DWORD i = 0; i < length; ++i)
            drawn.push_back(buffer[i] = ByteAt(next++));
        return TRUE;
    }
    BOOL CryptReleaseContext(HCRYPTPROV) override
    {
        Calls.Add("release");
        return TRUE;
    }

private:
    std::mutex lock;
    Bytes drawn;
    uint32_t next = 0;
};

Bytes Block(const BYTE* data, size_t size)
{
    return Bytes(data, data + size);
}

void Append(Bytes& to, const BYTE* data, size_t size)
{
    to.insert(to.end(), data, data + size);
}

constexpr size_t SmallBlock = 4096;

} // namespace

TEST_F(KeystreamTest, MatchesTheCounterModeVectorsOfSp800_38A)
{
    // F.5.1 CTR-AES128: the keystream is each plaintext block XOR its ciphertext block. The
    // second counter block carries from its last byte into the one before.
    const Bytes key = Hex("2b7e151628aed2a6abf7158809cf4f3c");
    const Bytes counter = Hex("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
    const std::string plain[] = {
        "6bc1bee22e409f96e93d7e117393172a", "ae2d8a571e03ac9c9eb76fac45af8e51",
        "30c81c46a35ce411e5fbc1191a0a52ef", "f69f2445df4f9b17ad2b417be66c3710"};
    const std::string cipher[] = {
        "874d6191b620e3261bef6864990db6ce", "9806f66b7970fdff8617187bb9fffdff",
        "5ae4df3edbd5d35e5b4f09020db03eab", "1e031dda2fbe03d1792170a0f3009cee"};
    Bytes expected;
    for (int i = 0; i < 4; ++i) {
        const Bytes p = Hex(plain[i]);
        const Bytes c = Hex(cipher[i]);
        for (size_t j = 0; j < p.size(); ++j)
            expected.push_back(static_cast<BYTE>(p[j] ^ c[j]));
    }

    EXPECT_EQ(Keystream(key, counter, expected.size()), expected);
}

TEST_F(KeystreamTest, GoesOnAcrossCallsOfAnyLength)
{
    const Bytes key = Hex("000102030405060708090a0b0c0d0e0f");
    const Bytes counter = Hex("00000000000000000000000000000007");
    const size_t total = (1u << 20) + 5;
    const Bytes whole = Keystream(key, counter, total);

    const std::unique_ptr<AesCounterKeystream> keystream = NewKeystream(key, counter);
    Bytes pieces(total);
    size_t at = 0;
    for (size_t piece : {size_t(1), size_t(15), size_t(17), size_t(4099), size_t(0), size_t(128)}) {
        keystream->Fill(pieces.data() + at, piece);
        at += piece;
    }
    keystream->Fill(pieces.data() + at, total - at);

    EXPECT_EQ(pieces, whole);
}

TEST_F(KeystreamTest, CounterCarriesFromItsLowHalfIntoItsHighHalf)
{
    const Bytes key = Hex("2b7e151628aed2a6abf7158809cf4f3c");
    const Bytes beforeCarry = Hex("0000000000000000ffffffffffffffff");
    const Bytes afterCarry = Hex("00000000000000010000000000000000");

    const Bytes stream = Keystream(key, beforeCarry, 2 * KeystreamBlockSize);

    EXPECT_EQ(Bytes(stream.begin() + KeystreamBlockSize, stream.end()),
              Keystream(key, afterCarry, KeystreamBlockSize));
    EXPECT_NE(Bytes(stream.begin(), stream.begin() + KeystreamBlockSize),
              Bytes(stream.begin() + KeystreamBlockSize, stream.end()));
}

TEST_F(KeystreamTest, RandomBlocksAreTheKeystreamKeyedFromTheProviderInOrder)
{
    CountingProviderOs os;
    Bytes blocks;
    {
        RandomBlocks random(os, SmallBlock, RandomBlocks::Source::Keystream);
        for (int i = 0; i < 7; ++i)
            Append(blocks, random.Next(), SmallBlock);
    }
    // Key and first counter block are the provider's first 32 bytes; nothing else is drawn.
    const Bytes drawn = os.Drawn();
    ASSERT_EQ(drawn.size(), KeystreamKeySize + KeystreamBlockSize);
    const Bytes key(drawn.begin(), drawn.begin() + KeystreamKeySize);
    const Bytes counter(drawn.begin() + KeystreamKeySize, drawn.end());
    EXPECT_EQ(blocks, Keystream(key, counter, blocks.size()));
    EXPECT_EQ(os.Calls.Count("acquire"), 1u);
    EXPECT_EQ(os.Calls.Count("release"), 1u);
}

TEST(RandomBlocksTest, WithoutTheProcessorsInstructionsEveryBlockIsTheProvidersOwn)
{
    CountingProviderOs os;
    Bytes blocks;
    {
        RandomBlocks random(os, SmallBlock, RandomBlocks::Source::Provider);
        for (int i = 0; i < 5; ++i)
            Append(blocks, random.Next(), SmallBlock);
    }
    // The blocks handed out are the provider's draws, in order (a few more may have been made
    // ahead of the writer).
    const Bytes drawn = os.Drawn();
    ASSERT_GE(drawn.size(), blocks.size());
    EXPECT_EQ(blocks, Bytes(drawn.begin(), drawn.begin() + blocks.size()));
    EXPECT_EQ(os.Calls.Count("draw"), drawn.size() / SmallBlock);
    EXPECT_EQ(os.Calls.Count("acquire"), 1u);
    EXPECT_EQ(os.Calls.Count("release"), 1u);
}

TEST(RandomBlocksTest, AProviderThatCannotBeOpenedStillGivesBlocksThatDiffer)
{
    CountingProviderOs os;
    os.Script.FailAll(Call::ProviderAcquire, NTE_BAD_KEYSET);
    RandomBlocks random(os, SmallBlock, RandomBlocks::DefaultSource());
    const Bytes first = Block(random.Next(), SmallBlock);
    const Bytes second = Block(random.Next(), SmallBlock);

    EXPECT_NE(first, second);
    EXPECT_NE(first, Bytes(SmallBlock, 0));
    EXPECT_EQ(os.Calls.Count("draw"), 0u);
    EXPECT_EQ(os.Calls.Count("release"), 0u);
}

TEST_F(KeystreamTest, TakeReadsTheSameStreamAsTheBlocks)
{
    CountingProviderOs os;
    RandomBlocks random(os, SmallBlock, RandomBlocks::Source::Keystream);
    Bytes taken(10 + 5 + SmallBlock);
    random.Take(taken.data(), 10);
    random.Take(taken.data() + 10, 5);
    // Crosses into the next block.
    random.Take(taken.data() + 15, SmallBlock);
    const Bytes next = Block(random.Next(), SmallBlock);

    const Bytes drawn = os.Drawn();
    const Bytes stream = Keystream(Bytes(drawn.begin(), drawn.begin() + 16),
                                   Bytes(drawn.begin() + 16, drawn.end()), 3 * SmallBlock);
    EXPECT_EQ(taken, Bytes(stream.begin(), stream.begin() + taken.size()));
    EXPECT_EQ(next, Bytes(stream.begin() + 2 * SmallBlock, stream.end()));
}

TEST(WipePassesTest, RandomMethodTakesTheSettingsPassesWithinTheDialogsRange)
{
    CountingProviderOs os;
    RandomBlocks random(os, SmallBlock);
    for (const auto& [stored, expected] : std::vector<std::pair<int32_t, size_t>>{
             {3, 3}, {1, 1}, {0, 1}, {-4, 1}, {100, 100}, {500, 100}}) {
        ShredSettings settings;
        settings.ShreddingMethod = MethodRandomData;
        settings.Passes = stored;
        const std::vector<WipePass> passes = WipePassesOf(settings, random);
        EXPECT_EQ(passes.size(), expected) << stored;
        for (const WipePass& pass : passes)
            EXPECT_TRUE(pass.Random);
    }
}

TEST(WipePassesTest, DoDAndGutmannAreTheirSequences)
{
    CountingProviderOs os;
    RandomBlocks random(os, SmallBlock, RandomBlocks::Source::Provider);
    ShredSettings dod;
    dod.ShreddingMethod = MethodDoD;
    const std::vector<WipePass> dodPasses = WipePassesOf(dod, random);
    // The first three bytes of the provider's first block are b1, b2 and b3.
    const BYTE b1 = CountingProviderOs::ByteAt(0);
    const BYTE b2 = CountingProviderOs::ByteAt(1);
    const BYTE b3 = CountingProviderOs::ByteAt(2);
    const std::vector<std::pair<bool, Bytes>> expectedDoD = {
        {false, {b1}}, {false, {static_cast<BYTE>(~b1)}}, {true, {}}, {false, {b2}},
        {false, {b3}}, {false, {static_cast<BYTE>(~b3)}}, {true, {}}};
    ASSERT_EQ(dodPasses.size(), expectedDoD.size());
    for (size_t i = 0; i < dodPasses.size(); ++i) {
        EXPECT_EQ(dodPasses[i].Random, expectedDoD[i].first) << "pass " << i + 1;
        EXPECT_EQ(dodPasses[i].Pattern, expectedDoD[i].second) << "pass " << i + 1;
    }

    ShredSettings gutmann;
    gutmann.ShreddingMethod = MethodGutmann;
    const std::vector<WipePass> passes = WipePassesOf(gutmann, random);
    ASSERT_EQ(passes.size(), 35u);
    for (size_t i = 0; i < passes.size(); ++i) {
        const bool random = i < 4 || i >= 31;
        EXPECT_EQ(passes[i].Random, random) << "pass " << i + 1;
        if (!random) {
            EXPECT_EQ(passes[i].Pattern, Block(GutmannPatterns[i - 4], 3)) << "pass " << i + 1;
        }
    }
}

TEST(WipePassesTest, PatternRunsOnAcrossBlocksAndRandomBlocksAreNew)
{
    CountingProviderOs os;
    RandomBlocks random(os, SmallBlock, RandomBlocks::Source::Provider);
    const BYTE expected[3] = {0x92, 0x49, 0x24};
    PassData pattern(WipePass{false, Block(expected, 3)}, random);
    for (uint64_t offset : {uint64_t(0), uint64_t(SmallBlock), uint64_t(SmallBlock) + 1,
                            uint64_t(5 * SmallBlock) + 2, (uint64_t(1) << 33) + 1}) {
        const BYTE* bytes = pattern.At(offset);
        bool matches = true;
        for (size_t i = 0; i < SmallBlock; ++i)
            matches = matches && bytes[i] == expected[(offset + i) % 3];
        EXPECT_TRUE(matches) << "at " << offset;
    }

    PassData fresh(WipePass{true, {}}, random);
    const Bytes first = Block(fresh.At(0), SmallBlock);
    const Bytes second = Block(fresh.At(0), SmallBlock);
    EXPECT_NE(first, second);
}
