// The in-process server around the one creatable class: its class table, server locks,
// cached class factories, clean-up actions, registration and removal.
#pragma once

#include <windows.h>

#include <objbase.h>

#include "afx/AfxWin.h"

#include <atomic>
#include <optional>
#include <string>
#include <vector>

using InstanceCreator = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);

struct ClassTableEntry
{
    const CLSID* Clsid;
    HRESULT (*ApplyScript)(bool registering);
    HRESULT (*CreateClassObject)(InstanceCreator creator, REFIID riid, void** ppv);
    InstanceCreator CreateObject;
    // The cached factory, made on the first request. Read without the class table's lock, so
    // published atomically once made.
    std::atomic<IUnknown*> ClassObject;
};

// An action the module runs when it stops.
struct ModuleCleanup
{
    void (*Function)(void* argument);
    void* Argument;
};

class ServerModule
{
public:
    void Start(ClassTableEntry* classTable, HINSTANCE instance);
    void Stop();

    HRESULT FindClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
    HRESULT RegisterClasses();
    HRESULT UnregisterClasses();

    LONG AddLock() { return ::InterlockedIncrement(&LockCount); }
    LONG ReleaseLock() { return ::InterlockedDecrement(&LockCount); }
    HRESULT AddCleanup(void (*function)(void*), void* argument);

    HINSTANCE Instance = nullptr;
    ClassTableEntry* ClassTable = nullptr;
    volatile LONG LockCount = 0;
    // Live as long as the module: made when it is loaded, deleted when it is unloaded.
    CCriticalSection ClassTableLock;
    CCriticalSection TypeInfoLock;
    CCriticalSection CleanupLock;
    // Run newest first when the module stops.
    std::vector<ModuleCleanup> Cleanups;
};

extern ServerModule Module;

// The full path of a module's file, read in UTF-16 so that no character is replaced by a
// look-alike; nothing when it does not fit MAX_PATH, since a path cut short names another file.
std::optional<std::wstring> ModuleFilePath(HINSTANCE instance);

// Makes a class factory bound to an instance creator.
HRESULT CreateClassFactory(InstanceCreator creator, REFIID riid, void** ppv);
