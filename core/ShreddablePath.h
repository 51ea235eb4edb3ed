// A full path the engine may act on: its narrow form names exactly the item its wide form does
// (no character lost or replaced by a look-alike), it fits the narrow calls' buffer, and no
// component of it is one the system would read as another file or a device. Only the name rules
// (engine/ShredNames.h) make one, so a path of this type has passed them once and for all.
#pragma once

#include <string>

class ShreddablePath
{
public:
    const std::string& Narrow() const { return narrow; }
    const std::wstring& Wide() const { return wide; }
    const char* c_str() const { return narrow.c_str(); }
    size_t size() const { return narrow.size(); }

private:
    friend struct NameRules;
    ShreddablePath(std::string narrow, std::wstring wide)
        : narrow(std::move(narrow)), wide(std::move(wide))
    {}

    std::string narrow;
    std::wstring wide;
};
