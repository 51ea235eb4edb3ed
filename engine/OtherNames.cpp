#include "engine/OtherNames.h"

#include "engine/ItemVolume.h"

#include <algorithm>
#include <optional>

namespace {

// Long enough for every name the engine's own paths have; a longer one is asked for again.
constexpr DWORD FirstNameBufferSize = MAX_PATH;

bool EqualIgnoringCase(std::wstring_view a, std::wstring_view b)
{
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool IsInside(const std::wstring& name, std::wstring item)
{
    while (!item.empty() && item.back() == L'\\')
        item.pop_back();
    if (name.size() < item.size() || !EqualIgnoringCase({name.data(), item.size()}, item))
        return false;
    return name.size() == item.size() || name[item.size()] == L'\\';
}

// Reads one name of the listing into `name`, growing it when the system asks for more room.
template <typename Call> bool ReadName(ShredOs& os, std::wstring& name, Call call)
{
    DWORD length = static_cast<DWORD>(name.size());
    if (!call(&length, name.data())) {
        if (os.GetLastError() != ERROR_MORE_DATA || length <= name.size())
            return false;
        name.assign(length, L'\0');
        if (!call(&length, name.data()))
            return false;
    }
    name.resize(wcsnlen(name.c_str(), name.size()));
    return true;
}

} // namespace

bool AllNamesSelected(ShredOs& os, const std::wstring& path,
                      const std::vector<std::wstring>& selected)
{
    std::optional<std::wstring> root = VolumeRootOf(os, path);
    if (!root)
        return false;
    while (!root->empty() && root->back() == L'\\')
        root->pop_back();
    std::wstring name(FirstNameBufferSize, L'\0');
    UniqueListing names = OwnListing(os, nullptr);
    bool more = ReadName(os, name, [&](DWORD* length, wchar_t* buffer) {
        names.Reset(os.FindFirstFileNameW(path.c_str(), length, buffer));
        return names.IsValid();
    });
    if (!more)
        return false;
    while (more) {
        const std::wstring full = *root + name;
        if (std::none_of(selected.begin(), selected.end(),
                         [&](const std::wstring& item) { return IsInside(full, item); }))
            return false;
        name.assign(FirstNameBufferSize, L'\0');
        more = ReadName(os, name, [&](DWORD* length, wchar_t* buffer) {
            return os.FindNextFileNameW(names.Get(), length, buffer) != FALSE;
        });
    }
    // The listing ends with "no more names"; anything else leaves names unseen.
    return os.GetLastError() == ERROR_HANDLE_EOF;
}
