#include "LinkingShredOs.h"

#include "common/TextConversion.h"

void LinkingShredOs::Link(const std::string& link, const std::string& target)
{
    targets[link] = target;
    ReparseTags[link] = IO_REPARSE_TAG_SYMLINK;
}

std::vector<std::string> LinkingShredOs::Followed()
{
    std::lock_guard<std::mutex> guard(followLock);
    return followed;
}

HANDLE LinkingShredOs::CreateFileA(const char* name, DWORD access, DWORD share, DWORD disposition,
                                   DWORD flags)
{
    // Opened without following, the link itself is opened: its handle shows its tag.
    const bool opensLink = !(flags & FILE_FLAG_OPEN_REPARSE_POINT);
    return FakeShredOs::CreateFileA(Through(name, opensLink).c_str(), access, share, disposition,
                                    flags);
}

HANDLE LinkingShredOs::FindFirstFileW(const wchar_t* pattern, WIN32_FIND_DATAW* data)
{
    // A listing through a link shows the target's entries, under the link's own path.
    const std::string path = NarrowWithSubstitutes(pattern);
    const std::string through = Through(path, false);
    if (through == path)
        return FakeShredOs::FindFirstFileW(pattern, data);
    return FakeShredOs::FindFirstFileW(Widen(through).c_str(), data);
}

BOOL LinkingShredOs::SetFileAttributesA(const char* path, DWORD attributes)
{
    return FakeShredOs::SetFileAttributesA(Through(path, false).c_str(), attributes);
}

int LinkingShredOs::Rename(const char* from, const char* to)
{
    return FakeShredOs::Rename(Through(from, false).c_str(), Through(to, false).c_str());
}

int LinkingShredOs::Remove(const char* name)
{
    return FakeShredOs::Remove(Through(name, false).c_str());
}

BOOL LinkingShredOs::RemoveDirectoryA(const char* path)
{
    return FakeShredOs::RemoveDirectoryA(Through(path, false).c_str());
}

std::string LinkingShredOs::Through(const std::string& path, bool opensLink)
{
    for (const auto& [link, target] : targets) {
        const bool beneath = path.size() > link.size() && path.compare(0, link.size(), link) == 0 &&
                             (path[link.size()] == '\\' || path[link.size()] == ':');
        if (beneath || (opensLink && path == link)) {
            {
                std::lock_guard<std::mutex> guard(followLock);
                followed.push_back(path);
            }
            OnFollowed(path);
            return target + path.substr(link.size());
        }
    }
    return path;
}
