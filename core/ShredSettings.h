// The user's four shredding choices. A new record holds the construction defaults; the stored
// values and their load defaults are the settings store's business.
#pragma once

#include <cstdint>

enum ShredMethod : int32_t
{
    MethodRandomData = 0, // "Cryptographically strong random data", Passes random passes
    MethodDoD = 1,        // "US DoD 5220.22-M - 7 passes"
    MethodGutmann = 2,    // "Gutmann - 35 passes"
};

constexpr char ShredSettingsKey[] = "Software\\Quorvane\\Brindaloe\\Settings";

// The passes of the random method the settings dialog accepts; a stored number outside them is
// brought into them when loaded.
constexpr int32_t MinPasses = 1;
constexpr int32_t MaxPasses = 100;

class ShredSettings
{
public:
    virtual ~ShredSettings() = default;

    // Replaces all four fields from the current user's registry; never tells the user anything.
    void Load();
    // Writes all four fields; on failure shows "Can't save parameters in registry!" and returns.
    void Save();

    int32_t ShreddingMethod = MethodRandomData;
    bool MangleDateAndTime = true;
    bool OverwriteTails = true;
    int32_t Passes = 7;
};
