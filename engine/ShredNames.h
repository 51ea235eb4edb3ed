// Which names the engine acts on, and how a name from the shell or from a listing becomes one
// that names exactly that item for the narrow calls. Names arrive in UTF-16; a narrow name is
// used only when it converts exactly and the system will not read it as another file.
#pragma once

#include "core/ShreddablePath.h"
#include "engine/ShredOs.h"

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

// A name from a listing that may be joined to its folder's path: not empty, "." or "..", no
// "\", "/" or ":", and no name the system rewrites or takes for a device.
bool IsJoinableName(std::wstring_view name);

// A stream's name as the backup interface lists it, ":name:type": the name between the colons
// and the type are not empty and hold no separator and no wildcard.
bool IsStreamSuffix(std::wstring_view suffix);

// The system's short-name lookup, GetShortPathNameW or a stand-in with its signature.
using ShortPathCall = std::function<DWORD(const wchar_t*, wchar_t*, DWORD)>;

// The short-name lookup of the engine's seam.
ShortPathCall ShortPathsThrough(ShredOs& os);

// A reparse point the engine never goes through: a name surrogate (symbolic link, junction,
// mount point), or one whose tag is not valid (Wine lists its Unix links with a tag of 0). Any
// other reparse point (a cloud placeholder, a deduplicated file) holds the user's data.
bool IsLinkTag(DWORD reparseTag);
bool IsLink(DWORD attributes, DWORD reparseTag);
bool IsLink(const WIN32_FIND_DATAW& entry);

// The short form of a full path as the volume gives it, looked up without letting the system
// rewrite the path first; nothing when the lookup fails.
std::optional<std::wstring> ShortPathOf(const std::wstring& path, const ShortPathCall& lookup);

// The rules that make a ShreddablePath. A path is shreddable when the narrow calls take it as
// naming exactly what it says: shorter than MAX_PATH, valid text in the code page, no wildcard
// or "?" substitute, no ":" but the drive's, and no component the system rewrites (".", "..",
// trailing dots or blanks, an empty one) or takes for a device (CON, NUL, COM1...).
struct NameRules
{
    // A narrow path as it stands, when it is shreddable.
    static std::optional<ShreddablePath> FromNarrow(const std::string& path,
                                                    UINT codePage = CP_ACP);

    // The path that names exactly the item at `path`: the path itself when it converts exactly
    // and is shreddable, else its short form when that is; nothing otherwise.
    static std::optional<ShreddablePath>
    Reachable(const std::wstring& path, const ShortPathCall& lookup, UINT codePage = CP_ACP);

    // The short form of a path, when the volume gives one that is shorter and shreddable.
    static std::optional<ShreddablePath>
    ShortForm(const ShreddablePath& path, const ShortPathCall& lookup, UINT codePage = CP_ACP);

    // `folder` joined with a listed entry: its own name when that converts exactly and the
    // child path is shreddable, else its short name when that is; nothing when neither names it
    // safely.
    static std::optional<ShreddablePath>
    Child(const ShreddablePath& folder, const WIN32_FIND_DATAW& entry, UINT codePage = CP_ACP);

private:
    // The path whose wide form is `wide`, when it converts exactly and is shreddable.
    static std::optional<ShreddablePath> FromWide(const std::wstring& wide, UINT codePage);
};
