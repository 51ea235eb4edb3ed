// Where an item lies: whether it is itself the root of a volume (a drive, or a volume mounted on
// a folder), which is never shredded, and the serial number of the volume it lies on, which
// everything opened inside it must share.
#pragma once

#include "engine/ShredOs.h"

#include <optional>
#include <string>

// The root of the volume `path` lies on, as the system gives it: "C:\" for a drive, a mount
// folder's path and a separator for a volume mounted there.
std::optional<std::wstring> VolumeRootOf(ShredOs& os, const std::wstring& path);

// True also when the system cannot tell: a drive is never walked on a guess.
bool IsVolumeRoot(ShredOs& os, const std::wstring& path);

// The serial number of the volume `path` lies on; nothing when the system cannot give it.
std::optional<DWORD> VolumeSerialOf(ShredOs& os, const std::wstring& path);
