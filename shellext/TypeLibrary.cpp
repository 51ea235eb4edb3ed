#include "shellext/TypeLibrary.h"

#include "common/Unique.h"
#include "shellext/Guids.h"
#include "shellext/ServerModule.h"

#include <oleauto.h>

#include <algorithm>
#include <new>

TypeInfoCache QuorvaneShlExtTypeInfo(&IID_IQuorvaneShlExt, &LIBID_ORLENWICKLib, ORLENWICKLibMajor,
                                     ORLENWICKLibMinor);

namespace {

// Attributes a type library or type information hands out, given back to the one that gave them.
struct LibraryAttributesTraits : NullInvalid<TLIBATTR*>
{
    void Close(TLIBATTR* attributes) const { Library->ReleaseTLibAttr(attributes); }
    ITypeLib* Library = nullptr;
};

struct TypeAttributesTraits : NullInvalid<TYPEATTR*>
{
    void Close(TYPEATTR* attributes) const { Info->ReleaseTypeAttr(attributes); }
    ITypeInfo* Info = nullptr;
};

struct FunctionTraits : NullInvalid<FUNCDESC*>
{
    void Close(FUNCDESC* function) const { Info->ReleaseFuncDesc(function); }
    ITypeInfo* Info = nullptr;
};

} // namespace

HRESULT LoadOwnTypeLibrary(HINSTANCE instance, ITypeLib** library, std::wstring& modulePath)
{
    *library = nullptr;
    const std::optional<std::wstring> path = ModuleFilePath(instance);
    if (!path)
        return TYPE_E_CANTLOADLIBRARY;
    std::wstring wide = *path;
    HRESULT hr = ::LoadTypeLib(wide.c_str(), library);
    if (FAILED(hr)) {
        // From the last "." of the whole path on, which may lie in a folder's name.
        const size_t dot = std::min(wide.find_last_of(L'.'), wide.size());
        // The retried name must still fit the path buffer, terminator included.
        if (dot + 4 >= MAX_PATH)
            return hr;
        wide = wide.substr(0, dot) + L".tlb";
        hr = ::LoadTypeLib(wide.c_str(), library);
        if (FAILED(hr))
            return hr;
    }
    modulePath = wide;
    return S_OK;
}

HRESULT RegisterTypeLibrary()
{
    UniqueCom<ITypeLib> library;
    std::wstring path;
    HRESULT hr = LoadOwnTypeLibrary(Module.Instance, library.Receive(), path);
    if (FAILED(hr))
        return hr;
    const size_t cut = path.find_last_of(L"\\/:");
    std::wstring helpDirectory = cut == std::wstring::npos ? L"" : path.substr(0, cut + 1);
    const UniqueBstr pathString(::SysAllocString(path.c_str()));
    return ::RegisterTypeLib(library.Get(), pathString.Get(), helpDirectory.data());
}

HRESULT UnregisterTypeLibrary()
{
    UniqueCom<ITypeLib> library;
    std::wstring path;
    HRESULT hr = LoadOwnTypeLibrary(Module.Instance, library.Receive(), path);
    if (FAILED(hr))
        return hr;
    Unique<LibraryAttributesTraits> attributes(nullptr, LibraryAttributesTraits{{}, library.Get()});
    hr = library->GetLibAttr(attributes.Receive());
    if (FAILED(hr))
        return hr;
    using UnRegisterTypeLibFunction = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);
    const UniqueModule oleaut(::LoadLibraryA("oleaut32.dll"));
    auto unregister = oleaut ? reinterpret_cast<UnRegisterTypeLibFunction>(reinterpret_cast<void*>(
                                   ::GetProcAddress(oleaut.Get(), "UnRegisterTypeLib")))
                             : nullptr;
    if (unregister)
        hr = unregister(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                        attributes->lcid, attributes->syskind);
    return hr;
}

HRESULT TypeInfoCache::LoadTypeInfo(LCID lcid)
{
    if (TypeInfo)
        return S_OK;
    HRESULT hr = S_OK;
    {
        CSingleLock held(&Module.TypeInfoLock, TRUE);
        if (!TypeInfo) {
            UniqueCom<ITypeLib> library;
            hr = ::LoadRegTypeLib(*LibraryId, Major, Minor, lcid, library.Receive());
            UniqueCom<ITypeInfo> info;
            if (SUCCEEDED(hr))
                hr = library->GetTypeInfoOfGuid(*InterfaceId, info.Receive());
            if (SUCCEEDED(hr)) {
                UniqueCom<ITypeInfo2> info2;
                if (SUCCEEDED(info->QueryInterface(IID_ITypeInfo2,
                                                   reinterpret_cast<void**>(info2.Receive()))))
                    info.Reset(info2.Release());
                TypeInfo = info.Release();
                BuildNameCache();
            }
        }
    }
    Module.AddCleanup(&TypeInfoCache::Cleanup, this);
    return hr;
}

void TypeInfoCache::BuildNameCache()
{
    Unique<TypeAttributesTraits> attributes(nullptr, TypeAttributesTraits{{}, TypeInfo});
    if (FAILED(TypeInfo->GetTypeAttr(attributes.Receive())))
        return;
    Count = attributes->cFuncs;
    NameCache = new (std::nothrow) NameCacheEntry[Count]();
    if (!NameCache)
        Count = 0;
    for (UINT i = 0; i < Count; ++i) {
        Unique<FunctionTraits> function(nullptr, FunctionTraits{{}, TypeInfo});
        if (FAILED(TypeInfo->GetFuncDesc(i, function.Receive())))
            continue;
        // The cache keeps the name; the clean-up frees it.
        BSTR name = nullptr;
        if (SUCCEEDED(
                TypeInfo->GetDocumentation(function->memid, &name, nullptr, nullptr, nullptr)))
            NameCache[i] = {name, ::SysStringLen(name), function->memid};
    }
}

void TypeInfoCache::Cleanup(void* argument)
{
    auto* cache = static_cast<TypeInfoCache*>(argument);
    if (cache->TypeInfo)
        cache->TypeInfo->Release();
    cache->TypeInfo = nullptr;
    for (UINT i = 0; i < cache->Count; ++i)
        ::SysFreeString(cache->NameCache[i].Name);
    delete[] cache->NameCache;
    cache->NameCache = nullptr;
    cache->Count = 0;
}

HRESULT TypeInfoCache::GetTypeInfo(LCID lcid, ITypeInfo** typeInfo)
{
    if (!typeInfo)
        return E_POINTER;
    *typeInfo = nullptr;
    const HRESULT hr = LoadTypeInfo(lcid);
    if (!TypeInfo)
        return FAILED(hr) ? hr : E_FAIL;
    TypeInfo->AddRef();
    *typeInfo = TypeInfo;
    return S_OK;
}

HRESULT TypeInfoCache::GetIDsOfNames(LPOLESTR* names, UINT count, LCID lcid, DISPID* ids)
{
    const HRESULT hr = LoadTypeInfo(lcid);
    if (!TypeInfo)
        return FAILED(hr) ? hr : E_FAIL;
    for (UINT i = 0; i < count; ++i) {
        const UINT length = static_cast<UINT>(::lstrlenW(names[i]));
        bool found = false;
        for (UINT k = Count; k-- > 0;) {
            const NameCacheEntry& entry = NameCache[k];
            if (entry.Name && entry.Length == length &&
                std::char_traits<wchar_t>::compare(entry.Name, names[i], length) == 0) {
                ids[i] = entry.Id;
                found = true;
                break;
            }
        }
        if (!found) {
            const HRESULT lookup = TypeInfo->GetIDsOfNames(names, count, ids);
            if (FAILED(lookup))
                return lookup;
        }
    }
    return S_OK;
}

HRESULT TypeInfoCache::Invoke(IDispatch* object, DISPID member, LCID lcid, WORD flags,
                              DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                              UINT* argumentError)
{
    const HRESULT hr = LoadTypeInfo(lcid);
    if (!TypeInfo)
        return FAILED(hr) ? hr : E_FAIL;
    return TypeInfo->Invoke(object, member, flags, params, result, exception, argumentError);
}
