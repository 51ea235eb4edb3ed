// Owners, on the template of common/Unique.h, of what the tests take from the system beyond
// its handles, keys, modules, menus, strings, task memory, interfaces and the shell's ID lists
// (common/ShellIdList.h): listings, window hooks, local and virtual memory, and resource updates
// (given up, not written, unless the test commits them).
#pragma once

#include "common/ShellIdList.h"
#include "common/Unique.h"

#include <windows.h>
#include <shlobj.h>

struct FindTraits : KernelHandle
{
    void Close(Handle listing) const { ::FindClose(listing); }
};

struct HookTraits : NullInvalid<HHOOK>
{
    void Close(Handle hook) const { ::UnhookWindowsHookEx(hook); }
};

struct LocalMemoryTraits : NullInvalid<HLOCAL>
{
    void Close(Handle block) const { ::LocalFree(block); }
};

struct VirtualMemoryTraits : NullInvalid<void*>
{
    void Close(Handle pages) const { ::VirtualFree(pages, 0, MEM_RELEASE); }
};

struct ResourceUpdateTraits : KernelHandle
{
    void Close(Handle update) const { ::EndUpdateResourceA(update, TRUE); }
};

using UniqueFind = Unique<FindTraits>;
using UniqueHook = Unique<HookTraits>;
using UniqueLocalMemory = Unique<LocalMemoryTraits>;
using UniqueVirtualMemory = Unique<VirtualMemoryTraits>;
using UniqueResourceUpdate = Unique<ResourceUpdateTraits>;
