// The type library embedded in the DLL: its registration and removal, and the cached type
// information that answers IDispatch for IQuorvaneShlExt.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <string>

HRESULT RegisterTypeLibrary();
HRESULT UnregisterTypeLibrary();

// Loads TYPELIB 1 of the module file, or failing that the .tlb file beside it. `modulePath`
// receives the path that loaded.
HRESULT LoadOwnTypeLibrary(HINSTANCE instance, ITypeLib** library, std::wstring& modulePath);

struct NameCacheEntry
{
    BSTR Name;
    UINT Length;
    DISPID Id;
};

class TypeInfoCache
{
public:
    TypeInfoCache(const GUID* interfaceId, const GUID* libraryId, WORD major, WORD minor)
        : InterfaceId(interfaceId), LibraryId(libraryId), Major(major), Minor(minor)
    {}

    HRESULT LoadTypeInfo(LCID lcid);
    HRESULT GetTypeInfo(LCID lcid, ITypeInfo** typeInfo);
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, LCID lcid, DISPID* ids);
    HRESULT Invoke(IDispatch* object, DISPID member, LCID lcid, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* exception, UINT* argumentError);

    static void Cleanup(void* cache);

private:
    void BuildNameCache();

    const GUID* InterfaceId;
    const GUID* LibraryId;
    WORD Major;
    WORD Minor;
    ITypeInfo* TypeInfo = nullptr;
    NameCacheEntry* NameCache = nullptr;
    UINT Count = 0;
};

extern TypeInfoCache QuorvaneShlExtTypeInfo;
