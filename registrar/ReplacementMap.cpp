#include "registrar/ReplacementMap.h"

#include "common/TextConversion.h"

#include <cstring>
#include <cwchar>
#include <utility>

namespace {

UniqueTaskMemory<wchar_t> TaskCopy(const wchar_t* text)
{
    const size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
    UniqueTaskMemory<wchar_t> copy(static_cast<wchar_t*>(::CoTaskMemAlloc(bytes)));
    if (copy)
        std::memcpy(copy.Get(), text, bytes);
    return copy;
}

} // namespace

HRESULT ReplacementMap::Add(const wchar_t* name, const wchar_t* value)
{
    UniqueTaskMemory<wchar_t> nameCopy = TaskCopy(name);
    UniqueTaskMemory<wchar_t> valueCopy = TaskCopy(value);
    if (!nameCopy || !valueCopy)
        return E_OUTOFMEMORY;
    pairs.emplace_back(std::move(nameCopy), std::move(valueCopy));
    return S_OK;
}

const wchar_t* ReplacementMap::Find(const char* name) const
{
    for (const auto& pair : pairs) {
        // A name with only a look-alike in the code page matches nothing.
        const std::optional<std::string> stored = NarrowExactly(pair.first.Get());
        if (stored && ::lstrcmpiA(stored->c_str(), name) == 0)
            return pair.second.Get();
    }
    return nullptr;
}
