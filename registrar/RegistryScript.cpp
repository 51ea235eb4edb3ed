#include "registrar/RegistryScript.h"

#include "common/Unique.h"
#include "registrar/ScriptParser.h"
#include "registrar/VariableExpansion.h"

#include <string>

namespace {

// A failed call never comes back as success, even when it left no error code.
HRESULT LastErrorAsFailure()
{
    const DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

} // namespace

HRESULT RunScript(const char* text, bool registering, const ReplacementMap& replacements)
{
    std::string expanded;
    HRESULT hr = ExpandVariables(text, replacements, expanded);
    if (SUCCEEDED(hr))
        hr = ScriptParser(expanded.c_str()).Run(registering);
    return hr;
}

HRESULT RunScriptResource(const wchar_t* modulePath, UINT resourceId, const char* resourceType,
                          bool registering, const ReplacementMap& replacements)
{
    // Loaded through its UTF-16 path, the file is exactly the one named: a narrow path could
    // only be a best-fit look-alike or a failure.
    const UniqueModule module(::LoadLibraryExW(modulePath, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    HRESULT hr = module.Get() ? S_OK : LastErrorAsFailure();
    HRSRC found = nullptr;
    if (SUCCEEDED(hr)) {
        found = ::FindResourceA(module.Get(), MAKEINTRESOURCEA(resourceId), resourceType);
        if (!found)
            hr = LastErrorAsFailure();
    }
    const char* bytes = nullptr;
    if (SUCCEEDED(hr)) {
        HGLOBAL loaded = ::LoadResource(module.Get(), found);
        bytes = loaded ? static_cast<const char*>(::LockResource(loaded)) : nullptr;
        if (!bytes)
            hr = LastErrorAsFailure();
    }
    if (SUCCEEDED(hr)) {
        // The resource need not end with a NUL.
        const std::string text(bytes, ::SizeofResource(module.Get(), found));
        hr = RunScript(text.c_str(), registering, replacements);
    }
    return hr;
}
