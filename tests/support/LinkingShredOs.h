// Links as the system treats them, which Wine cannot make: the link's own entry carries the
// reparse attribute, opening or listing through it reaches its target, opening it without
// following gives a handle that shows the link, and deleting it removes the link alone. Each call
// is logged under the name the engine gave, and each that went through a link as "followed:".
#pragma once

#include "FakeShredOs.h"

#include <map>
#include <string>
#include <vector>

class LinkingShredOs : public FakeShredOs
{
public:
    void Link(const std::string& link, const std::string& target);
    // The paths of the calls that reached a target through a link, in order.
    std::vector<std::string> Followed();

    HANDLE CreateFileA(const char* name, DWORD access, DWORD share, DWORD disposition,
                       DWORD flags) override;
    HANDLE FindFirstFileW(const wchar_t* pattern, WIN32_FIND_DATAW* data) override;
    BOOL SetFileAttributesA(const char* path, DWORD attributes) override;
    int Rename(const char* from, const char* to) override;
    int Remove(const char* name) override;
    BOOL RemoveDirectoryA(const char* path) override;

private:
    // The path a call reaches: beneath a link it is the target's; the link itself leads to the
    // target only for calls that open what they name.
    std::string Through(const std::string& path, bool opensLink);

    std::map<std::string, std::string> targets;
};
