// Wine only: a real Unix symbolic link, as Wine shows them to programs (a folder's with the
// reparse attribute and a tag of 0, a file's as an ordinary file), made and removed with the
// system's own ln and rm. Both paths must lie in folders of the test's own: a shredder bug must
// find nothing else behind the link.
#pragma once

#include <string>

class UnixLink
{
public:
    UnixLink(const std::string& link, const std::string& target);
    // Removes the link alone, never what it points to.
    ~UnixLink();
    UnixLink(const UnixLink&) = delete;
    UnixLink& operator=(const UnixLink&) = delete;

    bool Made() const { return made; }

private:
    std::string unixLink;
    std::string windowsLink;
    bool made = false;
};
