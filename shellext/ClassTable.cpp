#include "shellext/ClassTable.h"

#include "registrar/RegistryScript.h"
#include "resources/resource.h"
#include "shellext/DriveWipeShlExt.h"
#include "shellext/Guids.h"
#include "shellext/QuorvaneShlExt.h"
#include "shellext/ServerModule.h"

#include <string>

namespace {

// Runs one of the DLL's registry scripts with the module's path.
HRESULT ApplyScript(UINT scriptId, bool registering)
{
    const std::optional<std::wstring> path = ModuleFilePath(Module.Instance);
    if (!path)
        return E_FAIL;
    // The path stands inside a quoted token of the script.
    std::wstring quoted;
    for (wchar_t c : *path) {
        quoted += c;
        if (c == L'\'')
            quoted += L'\'';
    }
    ReplacementMap replacements;
    HRESULT hr = replacements.Add(L"Module", quoted.c_str());
    if (SUCCEEDED(hr))
        hr = RunScriptResource(path->c_str(), scriptId, "REGISTRY", registering, replacements);
    return hr;
}

HRESULT ApplyQuorvaneShlExtScript(bool registering)
{
    return ApplyScript(IDR_REGISTRY, registering);
}

HRESULT ApplyDriveWipeShlExtScript(bool registering)
{
    return ApplyScript(IDR_DRIVE_REGISTRY, registering);
}

} // namespace

ClassTableEntry ClassTable[] = {
    {&CLSID_QuorvaneShlExt, &ApplyQuorvaneShlExtScript, &CreateClassFactory,
     &CQuorvaneShlExt::CreateObject, nullptr},
    {&CLSID_DriveWipeShlExt, &ApplyDriveWipeShlExtScript, &CreateClassFactory,
     &CDriveWipeShlExt::CreateObject, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};
