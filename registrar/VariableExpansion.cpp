#include "registrar/VariableExpansion.h"

#include "common/TextConversion.h"
#include "registrar/ScriptText.h"

#include <cstring>
#include <optional>
#include <utility>

namespace {

constexpr size_t LongestVariableName = 31;

// Appends the value of the name that starts after the "%" at `percent` and moves `percent` past
// the closing "%".
HRESULT AppendReplacement(const char*& percent, const ReplacementMap& replacements,
                          std::string& expanded)
{
    const char* name = percent + 1;
    // The closing "%" is looked for first: without one, the length of the rest is no name's.
    const char* end = std::strchr(name, '%');
    HRESULT hr = end ? S_OK : DISP_E_EXCEPTION;
    if (SUCCEEDED(hr) && static_cast<size_t>(end - name) > LongestVariableName)
        hr = E_FAIL;
    const wchar_t* value = nullptr;
    if (SUCCEEDED(hr)) {
        value = replacements.Find(std::string(name, end).c_str());
        if (!value)
            hr = DISP_E_EXCEPTION;
    }
    // A best-fit value could name another file in the registry (a module path, above all).
    std::optional<std::string> narrow;
    if (SUCCEEDED(hr)) {
        narrow = NarrowExactly(value);
        if (!narrow)
            hr = HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    }
    if (SUCCEEDED(hr)) {
        expanded += *narrow;
        percent = end + 1;
    }
    return hr;
}

} // namespace

HRESULT ExpandVariables(const char* text, const ReplacementMap& replacements, std::string& expanded)
{
    HRESULT hr = S_OK;
    std::string out;
    out.reserve(std::strlen(text) * 2);
    for (const char* p = text; SUCCEEDED(hr) && *p != '\0';) {
        if (*p != '%') {
            const size_t size = CharacterSize(p);
            out.append(p, size);
            p += size;
        } else if (p[1] == '%') {
            out += '%';
            p += 2;
        } else {
            hr = AppendReplacement(p, replacements, out);
        }
    }
    if (SUCCEEDED(hr))
        expanded = std::move(out);
    return hr;
}
