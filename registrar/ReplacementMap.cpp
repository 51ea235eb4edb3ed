#include "registrar/ReplacementMap.h"

#include "common/TextConversion.h"

#include <cstring>
#include <cwchar>

namespace {

wchar_t* TaskCopy(const wchar_t* text)
{
    const size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(::CoTaskMemAlloc(bytes));
    if (copy)
        std::memcpy(copy, text, bytes);
    return copy;
}

} // namespace

ReplacementMap::~ReplacementMap()
{
    for (auto& pair : pairs) {
        ::CoTaskMemFree(pair.first);
        ::CoTaskMemFree(pair.second);
    }
}

HRESULT ReplacementMap::Add(const wchar_t* name, const wchar_t* value)
{
    wchar_t* nameCopy = TaskCopy(name);
    wchar_t* valueCopy = TaskCopy(value);
    if (!nameCopy || !valueCopy) {
        ::CoTaskMemFree(nameCopy);
        ::CoTaskMemFree(valueCopy);
        return E_OUTOFMEMORY;
    }
    pairs.emplace_back(nameCopy, valueCopy);
    return S_OK;
}

const wchar_t* ReplacementMap::Find(const char* name) const
{
    for (const auto& pair : pairs) {
        // A name with only a look-alike in the code page matches nothing.
        const std::optional<std::string> stored = NarrowExactly(pair.first);
        if (stored && ::lstrcmpiA(stored->c_str(), name) == 0)
            return pair.second;
    }
    return nullptr;
}
