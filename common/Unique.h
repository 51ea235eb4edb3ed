// One owner for everything the system hands out that must be given back exactly once: the
// handle, how to give it back, and the value that means "none". Move-only; nothing is closed
// by hand on an error path. The ways of giving back are small traits types: stateless ones
// below, and ones that close through an object (the engine's seam, the shell's allocator)
// beside that object.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <utility>

template <typename Traits> class Unique
{
public:
    using Handle = typename Traits::Handle;

    Unique() = default;
    explicit Unique(Handle handle, Traits traits = Traits()) : handle(handle), traits(traits) {}
    ~Unique() { Reset(); }
    Unique(Unique&& other) noexcept : handle(other.Release()), traits(other.traits) {}
    Unique& operator=(Unique&& other) noexcept
    {
        if (this != &other) {
            Reset(other.Release());
            traits = other.traits;
        }
        return *this;
    }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;

    Handle Get() const { return handle; }
    bool IsValid() const { return Traits::IsValid(handle); }
    explicit operator bool() const { return IsValid(); }
    Handle operator->() const { return handle; }

    // For a call that hands the handle out through a pointer: what was held is given back first.
    Handle* Receive()
    {
        Reset();
        return &handle;
    }
    // Gives up ownership without giving the handle back.
    Handle Release() { return std::exchange(handle, Traits::Invalid()); }
    void Reset(Handle replacement = Traits::Invalid())
    {
        if (IsValid())
            traits.Close(handle);
        handle = replacement;
    }

private:
    Handle handle = Traits::Invalid();
    Traits traits;
};

// Traits whose "none" is the null value of the handle type.
template <typename HandleType> struct NullInvalid
{
    using Handle = HandleType;
    static Handle Invalid() { return Handle{}; }
    static bool IsValid(Handle handle) { return handle != Handle{}; }
};

// Traits of the kernel's handles. The calls that open one say "none" in two ways: null
// (threads, processes, events, resource updates) or INVALID_HANDLE_VALUE (files, listings).
// Neither is ever an open handle, so every owner of a kernel handle takes both for none, and an
// empty one holds null.
struct KernelHandle
{
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle handle)
    {
        return handle != nullptr && handle != INVALID_HANDLE_VALUE;
    }
};

struct KernelHandleTraits : KernelHandle
{
    void Close(Handle handle) const { ::CloseHandle(handle); }
};

struct MenuTraits : NullInvalid<HMENU>
{
    void Close(Handle menu) const { ::DestroyMenu(menu); }
};

struct RegistryKeyTraits : NullInvalid<HKEY>
{
    void Close(Handle key) const { ::RegCloseKey(key); }
};

struct ModuleTraits : NullInvalid<HMODULE>
{
    void Close(Handle module) const { ::FreeLibrary(module); }
};

struct BstrTraits : NullInvalid<BSTR>
{
    void Close(Handle text) const { ::SysFreeString(text); }
};

template <typename Type> struct TaskMemoryTraits : NullInvalid<Type*>
{
    void Close(Type* block) const { ::CoTaskMemFree(block); }
};

template <typename Interface> struct ComTraits : NullInvalid<Interface*>
{
    void Close(Interface* object) const { object->Release(); }
};

using UniqueHandle = Unique<KernelHandleTraits>;
using UniqueMenu = Unique<MenuTraits>;
using UniqueRegistryKey = Unique<RegistryKeyTraits>;
using UniqueModule = Unique<ModuleTraits>;
using UniqueBstr = Unique<BstrTraits>;
template <typename Type> using UniqueTaskMemory = Unique<TaskMemoryTraits<Type>>;
template <typename Interface> using UniqueCom = Unique<ComTraits<Interface>>;
