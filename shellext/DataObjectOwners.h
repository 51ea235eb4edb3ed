// Owners of what a data object hands over: the storage medium, released with the call that
// matches it, and the lock on its memory.
#pragma once

#include "common/Unique.h"

#include <objidl.h>

struct StorageMediumTraits : NullInvalid<STGMEDIUM*>
{
    void Close(STGMEDIUM* medium) const { ::ReleaseStgMedium(medium); }
};

struct GlobalLockTraits : NullInvalid<HGLOBAL>
{
    void Close(HGLOBAL memory) const { ::GlobalUnlock(memory); }
};

using UniqueStorageMedium = Unique<StorageMediumTraits>;
using UniqueGlobalLock = Unique<GlobalLockTraits>;
