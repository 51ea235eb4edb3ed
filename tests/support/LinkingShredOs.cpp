#include "LinkingShredOs.h"

#include "common/TextConversion.h"

void LinkingShredOs::Link(const std::string& link, const std::string& target)
{
    targets[link] = target;
    ReparseTags[link] = IO_REPARSE_TAG_SYMLINK;
}

std::vector<std::string> LinkingShredOs::Followed()
{
    return Calls.Details("followed");
}

// Each call is logged under the name the engine gave, before the link is followed; the call on
// the target is not logged again.
HANDLE LinkingShredOs::CreateFileA(const char* name, DWORD access, DWORD share, DWORD disposition,
                                   DWORD flags)
{
    LogCall(access & GENERIC_WRITE ? "open" : "check", name);
    // Opened without following, the link itself is opened: its handle shows its tag.
    const bool opensLink = !(flags & FILE_FLAG_OPEN_REPARSE_POINT);
    const std::string through = Through(name, opensLink);
    const Unlogged logged;
    return FakeShredOs::CreateFileA(through.c_str(), access, share, disposition, flags);
}

HANDLE LinkingShredOs::FindFirstFileW(const wchar_t* pattern, WIN32_FIND_DATAW* data)
{
    // A listing through a link shows the target's entries, under the link's own path.
    const std::string path = NarrowWithSubstitutes(pattern);
    LogCall("find", path);
    const std::string through = Through(path, false);
    const Unlogged logged;
    if (through == path)
        return FakeShredOs::FindFirstFileW(pattern, data);
    return FakeShredOs::FindFirstFileW(Widen(through).c_str(), data);
}

BOOL LinkingShredOs::SetFileAttributesA(const char* path, DWORD attributes)
{
    LogCall("attributes", path);
    const std::string through = Through(path, false);
    const Unlogged logged;
    return FakeShredOs::SetFileAttributesA(through.c_str(), attributes);
}

int LinkingShredOs::Rename(const char* from, const char* to)
{
    LogCall("rename", std::string(from) + ">" + to);
    const std::string fromThrough = Through(from, false);
    const std::string toThrough = Through(to, false);
    const Unlogged logged;
    return FakeShredOs::Rename(fromThrough.c_str(), toThrough.c_str());
}

int LinkingShredOs::Remove(const char* name)
{
    LogCall("remove", name);
    const std::string through = Through(name, false);
    const Unlogged logged;
    return FakeShredOs::Remove(through.c_str());
}

BOOL LinkingShredOs::RemoveDirectoryA(const char* path)
{
    LogCall("rmdir", path);
    const std::string through = Through(path, false);
    const Unlogged logged;
    return FakeShredOs::RemoveDirectoryA(through.c_str());
}

std::string LinkingShredOs::Through(const std::string& path, bool opensLink)
{
    for (const auto& [link, target] : targets) {
        const bool beneath = path.size() > link.size() && path.compare(0, link.size(), link) == 0 &&
                             (path[link.size()] == '\\' || path[link.size()] == ':');
        if (beneath || (opensLink && path == link)) {
            LogCall("followed", path);
            return target + path.substr(link.size());
        }
    }
    return path;
}
