#include "engine/WipePasses.h"

#include "engine/PassSequences.h"

#include <algorithm>

namespace {

WipePass Pattern(std::vector<BYTE> bytes)
{
    return WipePass{false, std::move(bytes)};
}

WipePass RandomPass()
{
    return WipePass{true, {}};
}

} // namespace

std::vector<WipePass> WipePassesOf(const ShredSettings& settings, RandomBlocks& random)
{
    std::vector<WipePass> passes;
    switch (settings.ShreddingMethod) {
    case MethodDoD: {
        BYTE drawn[3];
        random.Take(drawn, sizeof drawn);
        const BYTE b1 = drawn[0];
        const BYTE b2 = drawn[1];
        const BYTE b3 = drawn[2];
        passes = {Pattern({b1}), Pattern({static_cast<BYTE>(~b1)}), RandomPass(), Pattern({b2}),
                  Pattern({b3}), Pattern({static_cast<BYTE>(~b3)}), RandomPass()};
        break;
    }
    case MethodGutmann:
        passes.assign(GutmannRandomPassesEachSide, RandomPass());
        for (const auto& pattern : GutmannPatterns)
            passes.push_back(Pattern({pattern, pattern + GutmannPatternLength}));
        passes.insert(passes.end(), GutmannRandomPassesEachSide, RandomPass());
        break;
    default:
        passes.assign(static_cast<size_t>(std::clamp(settings.Passes, MinPasses, MaxPasses)),
                      RandomPass());
        break;
    }
    return passes;
}

PassData::PassData(const WipePass& pass, RandomBlocks& random)
    : random(random), isRandom(pass.Random || pass.Pattern.empty())
{
    if (isRandom)
        return;
    patternLength = pass.Pattern.size();
    patternBlock.resize(random.BlockSize() + patternLength);
    for (size_t i = 0; i < patternBlock.size(); ++i)
        patternBlock[i] = pass.Pattern[i % patternLength];
}

const BYTE* PassData::At(uint64_t offset)
{
    if (isRandom)
        return random.Next();
    return patternBlock.data() + offset % patternLength;
}
