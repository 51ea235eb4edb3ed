#include "shellext/TypeLibrary.h"

#include "common/Unique.h"
#include "shellext/Guids.h"
#include "shellext/ServerModule.h"

#include <oleauto.h>

#include <algorithm>
#include <new>
#include <string>

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
    if (Loaded.load(std::memory_order_acquire))
        return S_OK;
    CSingleLock held(&Module.TypeInfoLock, TRUE);
    if (Loaded.load(std::memory_order_relaxed))
        return S_OK;
    UniqueCom<ITypeLib> library;
    HRESULT hr = ::LoadRegTypeLib(*LibraryId, Major, Minor, lcid, library.Receive());
    UniqueCom<ITypeInfo> info;
    if (SUCCEEDED(hr))
        hr = library->GetTypeInfoOfGuid(*InterfaceId, info.Receive());
    if (FAILED(hr))
        return hr;
    UniqueCom<ITypeInfo2> info2;
    if (SUCCEEDED(info->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(info2.Receive()))))
        info.Reset(info2.Release());
    // Kept only when the module will give it back when it stops.
    hr = Module.AddCleanup(&TypeInfoCache::Cleanup, this);
    if (FAILED(hr))
        return hr;
    TypeInfo = std::move(info);
    BuildNameCache();
    Loaded.store(true, std::memory_order_release);
    return S_OK;
}

void TypeInfoCache::BuildNameCache()
{
    Unique<TypeAttributesTraits> attributes(nullptr, TypeAttributesTraits{{}, TypeInfo.Get()});
    if (FAILED(TypeInfo->GetTypeAttr(attributes.Receive())))
        return;
    // Only a shortcut: without it every name is looked up in the type information.
    try {
        NameCache.resize(attributes->cFuncs);
    } catch (const std::bad_alloc&) {
        NameCache.clear();
    }
    for (UINT i = 0; i < NameCache.size(); ++i) {
        Unique<FunctionTraits> function(nullptr, FunctionTraits{{}, TypeInfo.Get()});
        if (FAILED(TypeInfo->GetFuncDesc(i, function.Receive())))
            continue;
        NameCacheEntry& entry = NameCache[i];
        if (SUCCEEDED(TypeInfo->GetDocumentation(function->memid, entry.Name.Receive(), nullptr,
                                                 nullptr, nullptr))) {
            entry.Length = ::SysStringLen(entry.Name.Get());
            entry.Id = function->memid;
        }
    }
}

void TypeInfoCache::Cleanup(void* argument)
{
    auto* cache = static_cast<TypeInfoCache*>(argument);
    CSingleLock held(&Module.TypeInfoLock, TRUE);
    cache->Loaded.store(false, std::memory_order_release);
    cache->NameCache.clear();
    cache->TypeInfo.Reset();
}

HRESULT TypeInfoCache::GetTypeInfo(LCID lcid, ITypeInfo** typeInfo)
{
    if (!typeInfo)
        return E_POINTER;
    *typeInfo = nullptr;
    const HRESULT hr = LoadTypeInfo(lcid);
    if (FAILED(hr))
        return hr;
    TypeInfo->AddRef();
    *typeInfo = TypeInfo.Get();
    return S_OK;
}

HRESULT TypeInfoCache::GetIDsOfNames(LPOLESTR* names, UINT count, LCID lcid, DISPID* ids)
{
    const HRESULT hr = LoadTypeInfo(lcid);
    if (FAILED(hr))
        return hr;
    for (UINT i = 0; i < count; ++i) {
        const UINT length = static_cast<UINT>(::lstrlenW(names[i]));
        bool found = false;
        for (auto entry = NameCache.rbegin(); entry != NameCache.rend(); ++entry) {
            if (entry->Name && entry->Length == length &&
                std::char_traits<wchar_t>::compare(entry->Name.Get(), names[i], length) == 0) {
                ids[i] = entry->Id;
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
    if (FAILED(hr))
        return hr;
    return TypeInfo->Invoke(object, member, flags, params, result, exception, argumentError);
}
