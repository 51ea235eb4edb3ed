#include "shellext/ClassTable.h"

#include "registrar/RegistryScript.h"
#include "shellext/Guids.h"
#include "shellext/QuorvaneShlExt.h"
#include "shellext/ServerModule.h"

#include <string>

namespace {

constexpr UINT RegistryScriptId = 102;

HRESULT ApplyQuorvaneShlExtScript(bool registering)
{
    char path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(Module.Instance, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return E_FAIL;
    const int size = ::MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    std::wstring wide(size, L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, path, -1, wide.data(), size);
    wide.resize(size - 1);
    // The path stands inside a quoted token of the script.
    std::wstring quoted;
    for (wchar_t c : wide) {
        quoted += c;
        if (c == L'\'')
            quoted += L'\'';
    }
    ReplacementMap replacements;
    HRESULT hr = replacements.Add(L"Module", quoted.c_str());
    if (SUCCEEDED(hr))
        hr = RunScriptResource(wide.c_str(), RegistryScriptId, "REGISTRY", registering,
                               replacements);
    return hr;
}

} // namespace

ClassTableEntry ClassTable[] = {
    {&CLSID_QuorvaneShlExt, &ApplyQuorvaneShlExtScript, &CreateClassFactory,
     &CQuorvaneShlExt::CreateObject, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};
