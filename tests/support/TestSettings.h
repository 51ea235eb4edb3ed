// Shredding settings spelled out field by field, so that no test depends on the defaults.
#pragma once

#include "core/ShredSettings.h"

inline ShredSettings SettingsOf(int method, int passes, bool tails = false, bool mangle = false)
{
    ShredSettings settings;
    settings.ShreddingMethod = method;
    settings.Passes = passes;
    settings.OverwriteTails = tails;
    settings.MangleDateAndTime = mangle;
    return settings;
}

// Random passes only, no tails, no new name or date: for tests of what is shredded, not how.
inline ShredSettings QuickSettings(int passes = 1)
{
    return SettingsOf(MethodRandomData, passes);
}
