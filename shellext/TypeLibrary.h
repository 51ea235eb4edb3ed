// The type library embedded in the DLL: its registration and removal, and the cached type
// information that answers IDispatch for IQuorvaneShlExt.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include "common/Unique.h"

#include <atomic>
#include <string>
#include <vector>

HRESULT RegisterTypeLibrary();
HRESULT UnregisterTypeLibrary();

// Loads TYPELIB 1 of the module file, or failing that the .tlb file beside it. `modulePath`
// receives the path that loaded.
HRESULT LoadOwnTypeLibrary(HINSTANCE instance, ITypeLib** library, std::wstring& modulePath);

// A member's name and id, read once from the type information.
struct NameCacheEntry
{
    UniqueBstr Name;
    UINT Length = 0;
    DISPID Id = DISPID_UNKNOWN;
};

class TypeInfoCache
{
public:
    TypeInfoCache(const GUID* interfaceId, const GUID* libraryId, WORD major, WORD minor)
        : InterfaceId(interfaceId), LibraryId(libraryId), Major(major), Minor(minor)
    {}

    // S_OK once the type information is loaded; loads it on the first call that can.
    HRESULT LoadTypeInfo(LCID lcid);
    HRESULT GetTypeInfo(LCID lcid, ITypeInfo** typeInfo);
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, LCID lcid, DISPID* ids);
    HRESULT Invoke(IDispatch* object, DISPID member, LCID lcid, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* exception, UINT* argumentError);

    // Gives the type information and the names back; run when the module stops.
    static void Cleanup(void* cache);

private:
    void BuildNameCache();

    const GUID* InterfaceId;
    const GUID* LibraryId;
    WORD Major;
    WORD Minor;
    // Set, under the module's type information lock, once TypeInfo and NameCache are filled;
    // from then on they are read without the lock until the module stops.
    std::atomic<bool> Loaded{false};
    UniqueCom<ITypeInfo> TypeInfo;
    std::vector<NameCacheEntry> NameCache;
};

extern TypeInfoCache QuorvaneShlExtTypeInfo;
