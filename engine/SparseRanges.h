// A sparse file holds data only in its allocated ranges: the holes between them have no clusters
// and nothing to overwrite, and writing them would fill the volume with a file that was mostly
// empty.
#pragma once

#include "core/ShredThread.h"
#include "engine/ShredOs.h"

#include <optional>
#include <vector>

// The allocated ranges of the first `length` bytes of the open file (opened for reading its
// data), in order; nothing when the volume cannot tell.
std::optional<std::vector<ByteRange>> AllocatedRanges(ShredOs& os, HANDLE file, int64_t length);
