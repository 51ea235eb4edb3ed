// What registering the server writes below the classes' root, the same whether the DLL registers
// itself or the installer package does: the classes' names, the handler keys, and each key with
// everything below it, compared as the registry holds it.
#pragma once

#include "common/TextConversion.h"
#include "common/Unique.h"
#include "shellext/Guids.h"
#include "tools/RegistryTree.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

inline const std::wstring ServerClassId = RegistryForm(CLSID_QuorvaneShlExt);
inline const std::wstring ServerLibraryId = RegistryForm(LIBID_ORLENWICKLib);
inline const std::wstring ServerClassKey = L"CLSID\\" + ServerClassId;
inline const std::wstring ServerProgId = L"Orlenwick.QuorvaneShlExt.1";
inline const std::wstring IndependentProgId = L"Orlenwick.QuorvaneShlExt";
// The drives' handler: a class of its own, with no ProgID and no type library.
inline const std::wstring DriveClassId = RegistryForm(CLSID_DriveWipeShlExt);
inline const std::wstring DriveClassKey = L"CLSID\\" + DriveClassId;
inline const std::wstring HandlerName = L"QVOrlenwick";
// The name both classes are approved under, for the policy that admits only approved extensions.
inline const std::wstring ApprovalName = L"Orlenwick";

// The shell keys that hold a handler, with the class each handler names.
inline const std::vector<std::pair<std::wstring, std::wstring>> Handlers = {
    {L"*\\shellex\\ContextMenuHandlers", ServerClassId},
    {L"AllFileSystemObjects\\shellex\\ContextMenuHandlers", ServerClassId},
    {L"CLSID\\{645FF040-5081-101B-9F08-00AA002F954E}\\shellex\\ContextMenuHandlers", ServerClassId},
    {L"Directory\\shellex\\DragDropHandlers", ServerClassId},
    {L"Drive\\shellex\\ContextMenuHandlers", DriveClassId},
};

// Each key the registration writes, with everything below it, when `module` is the registered
// file: the ProgIDs, both classes and the handlers. The type library's keys depend on the
// platform and stand apart.
inline std::vector<std::pair<std::wstring, RegistryTree>>
RegistrationTable(const std::wstring& module)
{
    const RegistryData className = RegistryString(L"QuorvaneShlExt Class");
    const RegistryData classId = RegistryString(ServerClassId);
    const RegistryValues server = {{L"", RegistryString(module)},
                                   {L"ThreadingModel", RegistryString(L"Apartment")}};
    std::vector<std::pair<std::wstring, RegistryTree>> table = {
        {ServerProgId, {{L"", {{L"", className}}}, {L"CLSID", {{L"", classId}}}}},
        {IndependentProgId,
         {{L"", {{L"", className}}},
          {L"CLSID", {{L"", classId}}},
          {L"CurVer", {{L"", RegistryString(ServerProgId)}}}}},
        {ServerClassKey,
         {{L"", {{L"", className}}},
          {L"ProgID", {{L"", RegistryString(ServerProgId)}}},
          {L"VersionIndependentProgID", {{L"", RegistryString(IndependentProgId)}}},
          {L"Programmable", {}},
          {L"InprocServer32", server},
          {L"TypeLib", {{L"", RegistryString(ServerLibraryId)}}}}},
        {DriveClassKey,
         {{L"", {{L"", RegistryString(L"DriveWipeShlExt Class")}}}, {L"InprocServer32", server}}},
    };
    for (const auto& [container, handlerClass] : Handlers)
        table.push_back(
            {container + L"\\" + HandlerName, {{L"", {{L"", RegistryString(handlerClass)}}}}});
    return table;
}

// The table's keys alone.
inline std::vector<std::wstring> RegistrationKeys()
{
    std::vector<std::wstring> keys;
    for (const auto& entry : RegistrationTable(L""))
        keys.push_back(entry.first);
    return keys;
}

// A tree as lines, for a failure's message: strings in quotes, other data by type.
inline std::string Describe(const RegistryTree& tree)
{
    std::ostringstream text;
    for (const auto& [key, values] : tree) {
        text << "[" << NarrowWithSubstitutes(key) << "]\n";
        for (const auto& [name, data] : values)
            text << "  " << (name.empty() ? "@" : NarrowWithSubstitutes(name)) << " = "
                 << (data.Type == REG_SZ ? "\"" + NarrowWithSubstitutes(RegistryText(data)) + "\""
                                         : "<type " + std::to_string(data.Type) + ">")
                 << "\n";
    }
    return text.str();
}

// Every key of the table below root\prefix, in one view, holds exactly what the table has.
inline void ExpectRegistrationTable(HKEY root, const std::wstring& prefix, REGSAM view,
                                    const std::wstring& module)
{
    for (const auto& [key, expected] : RegistrationTable(module)) {
        const RegistryTree registered = ReadRegistryTree(root, prefix + key, view);
        EXPECT_EQ(expected, registered) << NarrowWithSubstitutes(prefix + key) << " reads\n"
                                        << Describe(registered);
    }
}

// The values of a tree's top key, none when the tree is empty.
inline RegistryValues TopValues(const RegistryTree& tree)
{
    const auto top = tree.find(L"");
    return top == tree.end() ? RegistryValues{} : top->second;
}

// The DLL loaded for the length of a test, with its exports.
class LoadedServer
{
public:
    explicit LoadedServer(const std::string& dll) : module(::LoadLibraryA(dll.c_str())) {}

    bool IsLoaded() const { return module.IsValid(); }

    HRESULT Call(const char* name) const
    {
        auto function = reinterpret_cast<HRESULT(WINAPI*)()>(
            reinterpret_cast<void*>(::GetProcAddress(module.Get(), name)));
        return function ? function() : E_NOTIMPL;
    }

    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) const
    {
        auto function = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
            reinterpret_cast<void*>(::GetProcAddress(module.Get(), "DllGetClassObject")));
        return function ? function(clsid, iid, object) : E_NOTIMPL;
    }

private:
    UniqueModule module;
};
