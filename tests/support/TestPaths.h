// A test's own path as the engine takes it: through the name rules, which a test path must pass.
#pragma once

#include "engine/ShredNames.h"

#include <stdexcept>
#include <string>

inline ShreddablePath Shreddable(const std::string& path)
{
    std::optional<ShreddablePath> shreddable = NameRules::FromNarrow(path);
    if (!shreddable)
        throw std::invalid_argument("the name rules refuse " + path);
    return *shreddable;
}
