// What the shell's classes share of IUnknown: answering QueryInterface from a table of the
// interfaces an object implements, and handing a new object out through one query.
#pragma once

#include <windows.h>

#include <unknwn.h>

#include <cstddef>

struct InterfaceEntry
{
    const IID* Iid;
    void* Interface;
};

// The entry of the table for `riid`, with a reference taken through `object`; E_NOINTERFACE,
// with *ppv null, when the table has none.
template <size_t Count>
HRESULT QueryInterfaceTable(IUnknown* object, const InterfaceEntry (&table)[Count], REFIID riid,
                            void** ppv)
{
    if (!ppv)
        return E_POINTER;
    for (const InterfaceEntry& entry : table) {
        if (::IsEqualIID(riid, *entry.Iid)) {
            *ppv = entry.Interface;
            object->AddRef();
            return S_OK;
        }
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

// Hands a newly made object out as `riid`. A reference is held across the query, so that a
// failing one destroys the object through its own count.
inline HRESULT HandOutNewObject(IUnknown* object, REFIID riid, void** ppv)
{
    object->AddRef();
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}
