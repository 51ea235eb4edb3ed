#include "engine/ShredNames.h"

#include "common/TextConversion.h"

#include <algorithm>
#include <array>
#include <cwctype>

namespace {

constexpr std::wstring_view LongPathPrefix = L"\\\\?\\";

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/' || c == L':';
}

// "CON", "nul.txt", "COM1.log": the system opens a device for such a name in any folder.
bool IsDeviceName(std::wstring_view name)
{
    std::wstring base(name.substr(0, name.find(L'.')));
    while (!base.empty() && base.back() == L' ')
        base.pop_back();
    for (wchar_t& c : base)
        c = static_cast<wchar_t>(std::towupper(c));
    static const std::array<std::wstring_view, 6> plain = {L"CON", L"PRN",    L"AUX",
                                                           L"NUL", L"CONIN$", L"CONOUT$"};
    if (std::find(plain.begin(), plain.end(), base) != plain.end())
        return true;
    if (base.size() != 4 || (base.compare(0, 3, L"COM") != 0 && base.compare(0, 3, L"LPT") != 0))
        return false;
    const wchar_t digit = base[3];
    // Superscript one, two and three count as digits here too.
    return (digit >= L'0' && digit <= L'9') || digit == L'\x00B9' || digit == L'\x00B2' ||
           digit == L'\x00B3';
}

// A name the system takes as it stands: it would drop trailing dots and blanks, so that
// "secret." names "secret" ("." and ".." among them), and it reads device names as devices.
bool IsLiteralName(std::wstring_view name)
{
    return !name.empty() && name.back() != L'.' && name.back() != L' ' && !IsDeviceName(name);
}

bool Fits(const std::string& path)
{
    return path.size() < MAX_PATH;
}

// A name field of a listing entry, which the system terminates, read no further than the field.
template <size_t Size> std::wstring_view FieldText(const wchar_t (&field)[Size])
{
    return std::wstring_view(field, wcsnlen(field, Size));
}

// Whether a path is shreddable as far as its wide form tells (its narrow length is checked
// apart).
bool IsShreddableWide(std::wstring_view wide)
{
    if (wide.empty() || wide.find_first_of(L"?*") != std::wstring_view::npos)
        return false;
    std::wstring_view rest(wide);
    // The drive, "X:", is the only place a colon may stand.
    if (rest.size() >= 2 && rest[1] == L':') {
        rest.remove_prefix(2);
        if (!rest.empty() && rest[0] == L'\\')
            rest.remove_prefix(1);
    }
    if (rest.find(L':') != std::wstring_view::npos)
        return false;
    while (!rest.empty()) {
        const size_t end = std::min(rest.find(L'\\'), rest.size());
        const std::wstring_view component = rest.substr(0, end);
        if (!IsLiteralName(component))
            return false;
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return true;
}

} // namespace

ShortPathCall ShortPathsThrough(ShredOs& os)
{
    return [&os](const wchar_t* longPath, wchar_t* shortPath, DWORD size) {
        return os.GetShortPathNameW(longPath, shortPath, size);
    };
}

bool IsLinkTag(DWORD reparseTag)
{
    return reparseTag == 0 || IsReparseTagNameSurrogate(reparseTag);
}

bool IsLink(DWORD attributes, DWORD reparseTag)
{
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsLinkTag(reparseTag);
}

bool IsLink(const WIN32_FIND_DATAW& entry)
{
    // For a reparse point the listing carries its tag in dwReserved0.
    return IsLink(entry.dwFileAttributes, entry.dwReserved0);
}

bool IsJoinableName(std::wstring_view name)
{
    if (name.empty() || name == L"." || name == L"..")
        return false;
    if (std::find_if(name.begin(), name.end(), IsSeparator) != name.end())
        return false;
    return IsLiteralName(name);
}

bool IsStreamSuffix(std::wstring_view suffix)
{
    if (suffix.size() < 3 || suffix[0] != L':')
        return false;
    const size_t typeColon = suffix.find(L':', 1);
    if (typeColon == std::wstring_view::npos || typeColon == 1)
        return false;
    const std::wstring_view name = suffix.substr(1, typeColon - 1);
    const std::wstring_view type = suffix.substr(typeColon + 1);
    auto plain = [](std::wstring_view part) {
        return std::find_if(part.begin(), part.end(), IsSeparator) == part.end() &&
               part.find_first_of(L"?*") == std::wstring_view::npos;
    };
    return !type.empty() && plain(name) && plain(type);
}

std::optional<std::wstring> ShortPathOf(const std::wstring& path, const ShortPathCall& lookup)
{
    // Through the long-path prefix the system looks up the path exactly as written, instead of
    // first dropping trailing dots and so answering for another file.
    const std::wstring literal = std::wstring(LongPathPrefix) + path;
    const DWORD size = lookup(literal.c_str(), nullptr, 0);
    if (size == 0)
        return std::nullopt;
    std::wstring shortPath(size, L'\0');
    const DWORD length = lookup(literal.c_str(), shortPath.data(), size);
    if (length == 0 || length >= size)
        return std::nullopt;
    shortPath.resize(length);
    if (shortPath.compare(0, LongPathPrefix.size(), LongPathPrefix) == 0)
        shortPath.erase(0, LongPathPrefix.size());
    return shortPath;
}

std::optional<ShreddablePath> NameRules::FromWide(const std::wstring& wide, UINT codePage)
{
    std::optional<std::string> narrow = NarrowExactly(wide, codePage);
    if (!narrow || !Fits(*narrow) || !IsShreddableWide(wide))
        return std::nullopt;
    return ShreddablePath(std::move(*narrow), wide);
}

std::optional<ShreddablePath> NameRules::FromNarrow(const std::string& path, UINT codePage)
{
    if (!Fits(path))
        return std::nullopt;
    std::optional<std::wstring> wide = WidenExactly(path, codePage);
    if (!wide || !IsShreddableWide(*wide))
        return std::nullopt;
    return ShreddablePath(path, std::move(*wide));
}

std::optional<ShreddablePath> NameRules::Reachable(const std::wstring& path,
                                                   const ShortPathCall& lookup, UINT codePage)
{
    if (std::optional<ShreddablePath> itself = FromWide(path, codePage))
        return itself;
    const std::optional<std::wstring> shortForm = ShortPathOf(path, lookup);
    return shortForm ? FromWide(*shortForm, codePage) : std::nullopt;
}

std::optional<ShreddablePath> NameRules::ShortForm(const ShreddablePath& path,
                                                   const ShortPathCall& lookup, UINT codePage)
{
    const std::optional<std::wstring> shortForm = ShortPathOf(path.Wide(), lookup);
    std::optional<ShreddablePath> shorter =
        shortForm ? FromWide(*shortForm, codePage) : std::nullopt;
    if (shorter && shorter->size() < path.size())
        return shorter;
    return std::nullopt;
}

std::optional<ShreddablePath> NameRules::Child(const ShreddablePath& folder,
                                               const WIN32_FIND_DATAW& entry, UINT codePage)
{
    for (const std::wstring_view candidate :
         {FieldText(entry.cFileName), FieldText(entry.cAlternateFileName)}) {
        if (!IsJoinableName(candidate))
            continue;
        if (std::optional<ShreddablePath> child =
                FromWide(folder.Wide() + L"\\" + std::wstring(candidate), codePage))
            return child;
    }
    return std::nullopt;
}
