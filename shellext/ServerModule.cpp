#include "shellext/ServerModule.h"

#include "shellext/TypeLibrary.h"

#include <new>

ServerModule Module;

std::optional<std::wstring> ModuleFilePath(HINSTANCE instance)
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(instance, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::nullopt;
    return std::wstring(path, length);
}

namespace {

// A factory whose cached reference does not keep the server loaded; every further reference
// together holds one server lock.
class ClassFactory : public IClassFactory
{
public:
    explicit ClassFactory(InstanceCreator creator) : creator(creator) {}
    virtual ~ClassFactory() = default;
    ClassFactory(const ClassFactory&) = delete;
    ClassFactory& operator=(const ClassFactory&) = delete;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

    STDMETHODIMP_(ULONG) AddRef() override
    {
        CSingleLock held(&lock, TRUE);
        const LONG count = ::InterlockedIncrement(&references);
        if (count == 2)
            Module.AddLock();
        return static_cast<ULONG>(count);
    }

    STDMETHODIMP_(ULONG) Release() override
    {
        CSingleLock held(&lock, TRUE);
        ::InterlockedDecrement(&references);
        const LONG count = references;
        held.Unlock();
        if (count == 0)
            delete this;
        else if (count == 1)
            Module.ReleaseLock();
        return static_cast<ULONG>(count);
    }

    // IClassFactory
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppvObject) override
    {
        if (!ppvObject)
            return E_POINTER;
        *ppvObject = nullptr;
        if (outer && riid != IID_IUnknown)
            return CLASS_E_NOAGGREGATION;
        return creator(outer, riid, ppvObject);
    }

    STDMETHODIMP LockServer(BOOL lockServer) override
    {
        if (lockServer)
            Module.AddLock();
        else
            Module.ReleaseLock();
        return S_OK;
    }

private:
    volatile LONG references = 0;
    CCriticalSection lock;
    InstanceCreator creator;
};

} // namespace

HRESULT CreateClassFactory(InstanceCreator creator, REFIID riid, void** ppv)
{
    auto* factory = new (std::nothrow) ClassFactory(creator);
    if (!factory)
        return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    if (FAILED(hr))
        delete factory;
    return hr;
}

void ServerModule::Start(ClassTableEntry* classTable, HINSTANCE instance)
{
    Instance = instance;
    ClassTable = classTable;
    LockCount = 0;
    Cleanups.clear();
}

void ServerModule::Stop()
{
    for (ClassTableEntry* entry = ClassTable; entry && entry->Clsid; ++entry) {
        if (IUnknown* factory = entry->ClassObject.exchange(nullptr))
            factory->Release();
    }
    std::vector<ModuleCleanup> due;
    {
        CSingleLock held(&CleanupLock, TRUE);
        due.swap(Cleanups);
    }
    for (auto cleanup = due.rbegin(); cleanup != due.rend(); ++cleanup)
        cleanup->Function(cleanup->Argument);
}

HRESULT ServerModule::AddCleanup(void (*function)(void*), void* argument)
{
    CSingleLock held(&CleanupLock, TRUE);
    try {
        Cleanups.push_back({function, argument});
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT ServerModule::FindClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    for (ClassTableEntry* entry = ClassTable; entry && entry->Clsid; ++entry) {
        if (!::IsEqualGUID(*entry->Clsid, rclsid))
            continue;
        IUnknown* factory = entry->ClassObject.load(std::memory_order_acquire);
        if (!factory) {
            CSingleLock held(&ClassTableLock, TRUE);
            factory = entry->ClassObject.load(std::memory_order_relaxed);
            if (!factory) {
                const HRESULT hr = entry->CreateClassObject(entry->CreateObject, IID_IUnknown,
                                                            reinterpret_cast<void**>(&factory));
                if (FAILED(hr))
                    return hr;
                entry->ClassObject.store(factory, std::memory_order_release);
            }
        }
        return factory->QueryInterface(riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT ServerModule::RegisterClasses()
{
    for (ClassTableEntry* entry = ClassTable; entry && entry->Clsid; ++entry) {
        const HRESULT hr = entry->ApplyScript(true);
        if (FAILED(hr))
            return hr;
    }
    return RegisterTypeLibrary();
}

HRESULT ServerModule::UnregisterClasses()
{
    for (ClassTableEntry* entry = ClassTable; entry && entry->Clsid; ++entry)
        entry->ApplyScript(false);
    UnregisterTypeLibrary();
    return S_OK;
}
