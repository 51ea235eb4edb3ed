// An object of one of the server's classes made as the shell makes it: through the class factory
// the started server module caches, without aggregation.
#pragma once

#include "common/Unique.h"
#include "shellext/ServerModule.h"

#include <unknwn.h>

inline HRESULT CreateServerObject(REFCLSID classId, REFIID iid, void** object)
{
    UniqueCom<IClassFactory> factory;
    const HRESULT found = Module.FindClassObject(classId, IID_IClassFactory,
                                                 reinterpret_cast<void**>(factory.Receive()));
    if (FAILED(found))
        return found;
    return factory->CreateInstance(nullptr, iid, object);
}
