// A settings record as the tests of the store and of the dialog write and compare it: the four
// fields in their stored order (method, mangle, tails, passes).
#pragma once

#include "core/ShredSettings.h"

#include <cstdint>
#include <string>

struct Record
{
    int32_t Method;
    bool Mangle;
    bool Tails;
    int32_t Passes;
};

inline ShredSettings Make(const Record& fields)
{
    ShredSettings settings;
    settings.ShreddingMethod = fields.Method;
    settings.MangleDateAndTime = fields.Mangle;
    settings.OverwriteTails = fields.Tails;
    settings.Passes = fields.Passes;
    return settings;
}

inline std::string Describe(const ShredSettings& settings)
{
    return "method " + std::to_string(settings.ShreddingMethod) + " mangle " +
           std::to_string(settings.MangleDateAndTime) + " tails " +
           std::to_string(settings.OverwriteTails) + " passes " + std::to_string(settings.Passes);
}

inline std::string Describe(const Record& fields)
{
    return Describe(Make(fields));
}
