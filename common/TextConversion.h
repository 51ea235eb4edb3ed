// Conversions between UTF-16 and the narrow code page the narrow calls use. A wide text becomes
// narrow only when it converts exactly: no best-fit look-alike, no default character, nothing
// lost. A narrow name that came out of a best-fit conversion could name another file.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

// The narrow form of `wide` in `codePage`, or nothing when any character does not survive the
// round trip back to UTF-16 unchanged.
std::optional<std::string> NarrowExactly(std::wstring_view wide, UINT codePage = CP_ACP);

// The narrow form with "?" for every character that does not convert exactly: for a name that
// is shown or refused, never for one that is opened.
std::string NarrowWithSubstitutes(std::wstring_view wide, UINT codePage = CP_ACP);

// The UTF-16 form of `narrow`, or nothing when it is not valid text in `codePage`.
std::optional<std::wstring> WidenExactly(std::string_view narrow, UINT codePage = CP_ACP);

// The UTF-16 form of a text known to be valid (a fixed text, a name that was converted exactly).
std::wstring Widen(std::string_view narrow, UINT codePage = CP_ACP);
