// Owners, on the template of common/Unique.h, of what the tests take from the system beyond
// its handles, keys, modules, strings, task memory and interfaces: opened files and listings
// (whose "none" is INVALID_HANDLE_VALUE), window hooks, menus, the shell's ID lists, local and
// virtual memory, and resource updates (given up, not written, unless the test commits them).
#pragma once

#include "common/Unique.h"

#include <windows.h>
#include <shlobj.h>

struct OpenFileTraits : InvalidValueHandle
{
    void Close(Handle file) const { ::CloseHandle(file); }
};

struct FindTraits : InvalidValueHandle
{
    void Close(Handle listing) const { ::FindClose(listing); }
};

struct HookTraits : NullInvalid<HHOOK>
{
    void Close(Handle hook) const { ::UnhookWindowsHookEx(hook); }
};

struct MenuTraits : NullInvalid<HMENU>
{
    void Close(Handle menu) const { ::DestroyMenu(menu); }
};

struct ItemIdListTraits : NullInvalid<ITEMIDLIST*>
{
    void Close(Handle list) const { ::ILFree(list); }
};

struct LocalMemoryTraits : NullInvalid<HLOCAL>
{
    void Close(Handle block) const { ::LocalFree(block); }
};

struct VirtualMemoryTraits : NullInvalid<void*>
{
    void Close(Handle pages) const { ::VirtualFree(pages, 0, MEM_RELEASE); }
};

struct ResourceUpdateTraits : NullInvalid<HANDLE>
{
    void Close(Handle update) const { ::EndUpdateResourceA(update, TRUE); }
};

using UniqueOpenFile = Unique<OpenFileTraits>;
using UniqueFind = Unique<FindTraits>;
using UniqueHook = Unique<HookTraits>;
using UniqueMenu = Unique<MenuTraits>;
using UniqueItemIdList = Unique<ItemIdListTraits>;
using UniqueLocalMemory = Unique<LocalMemoryTraits>;
using UniqueVirtualMemory = Unique<VirtualMemoryTraits>;
using UniqueResourceUpdate = Unique<ResourceUpdateTraits>;
