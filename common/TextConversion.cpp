#include "common/TextConversion.h"

namespace {

UINT Resolve(UINT codePage)
{
    if (codePage == CP_ACP)
        return ::GetACP();
    if (codePage == CP_OEMCP)
        return ::GetOEMCP();
    return codePage;
}

// Code pages on which the best-fit flag and the default-character pointer are invalid, so that
// a conversion asking for them fails outright (UTF-8 among them).
bool RefusesBestFitControl(UINT codePage)
{
    return codePage == 42 || (codePage >= 50220 && codePage <= 50229) || codePage == 52936 ||
           codePage == 54936 || (codePage >= 57002 && codePage <= 57011) || codePage == 65000 ||
           codePage == CP_UTF8;
}

bool ChecksInvalidCharacters(UINT codePage)
{
    return !RefusesBestFitControl(codePage) || codePage == CP_UTF8 || codePage == 54936;
}

} // namespace

std::optional<std::wstring> WidenExactly(std::string_view narrow, UINT codePage)
{
    const UINT page = Resolve(codePage);
    if (narrow.empty())
        return std::wstring();
    const DWORD flags = ChecksInvalidCharacters(page) ? MB_ERR_INVALID_CHARS : 0;
    const int length = static_cast<int>(narrow.size());
    const int size = ::MultiByteToWideChar(page, flags, narrow.data(), length, nullptr, 0);
    if (size <= 0)
        return std::nullopt;
    std::wstring wide(static_cast<size_t>(size), L'\0');
    if (::MultiByteToWideChar(page, flags, narrow.data(), length, wide.data(), size) != size)
        return std::nullopt;
    return wide;
}

std::wstring Widen(std::string_view narrow, UINT codePage)
{
    const UINT page = Resolve(codePage);
    const int length = static_cast<int>(narrow.size());
    const int size = ::MultiByteToWideChar(page, 0, narrow.data(), length, nullptr, 0);
    std::wstring wide(static_cast<size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0)
        ::MultiByteToWideChar(page, 0, narrow.data(), length, wide.data(), size);
    return wide;
}

std::optional<std::string> NarrowExactly(std::wstring_view wide, UINT codePage)
{
    const UINT page = Resolve(codePage);
    if (wide.empty())
        return std::string();
    const bool bestFitControl = !RefusesBestFitControl(page);
    DWORD flags = 0;
    if (bestFitControl)
        flags = WC_NO_BEST_FIT_CHARS;
    else if (page == CP_UTF8 || page == 54936)
        flags = WC_ERR_INVALID_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultPointer = bestFitControl ? &usedDefault : nullptr;
    const int length = static_cast<int>(wide.size());
    const int size = ::WideCharToMultiByte(page, flags, wide.data(), length, nullptr, 0, nullptr,
                                           usedDefaultPointer);
    if (size <= 0 || usedDefault)
        return std::nullopt;
    std::string narrow(static_cast<size_t>(size), '\0');
    if (::WideCharToMultiByte(page, flags, wide.data(), length, narrow.data(), size, nullptr,
                              usedDefaultPointer) != size ||
        usedDefault)
        return std::nullopt;
    // The round trip is the definition of exact: it also catches what the flags cannot report
    // (on UTF-8, where they are refused, and a lone surrogate, which becomes U+FFFD).
    const std::optional<std::wstring> back = WidenExactly(narrow, page);
    if (!back || *back != wide)
        return std::nullopt;
    return narrow;
}

std::string NarrowWithSubstitutes(std::wstring_view wide, UINT codePage)
{
    if (std::optional<std::string> exact = NarrowExactly(wide, codePage))
        return *exact;
    std::string narrow;
    for (size_t i = 0; i < wide.size();) {
        // A surrogate pair is one character.
        const size_t units =
            IS_HIGH_SURROGATE(wide[i]) && i + 1 < wide.size() && IS_LOW_SURROGATE(wide[i + 1]) ? 2
                                                                                               : 1;
        const std::optional<std::string> character = NarrowExactly(wide.substr(i, units), codePage);
        narrow += character ? *character : std::string("?");
        i += units;
    }
    return narrow;
}
