#include "engine/ShredNames.h"
#include "jobs/ShredThread.h"

namespace {

class ScopedListing
{
public:
    ScopedListing(ShredOs& os, HANDLE listing) : os(os), listing(listing) {}
    ~ScopedListing()
    {
        if (listing != INVALID_HANDLE_VALUE)
            os.FindClose(listing);
    }
    ScopedListing(const ScopedListing&) = delete;
    ScopedListing& operator=(const ScopedListing&) = delete;

    HANDLE Get() const { return listing; }
    bool IsOpen() const { return listing != INVALID_HANDLE_VALUE; }

private:
    ShredOs& os;
    HANDLE listing;
};

// The name an entry can be reached by. A long name the narrow listing could not represent
// carries "?" substitutes; its short name, when the volume has one, names the same entry.
std::string ReachableName(const WIN32_FIND_DATAA& entry)
{
    const std::string name = entry.cFileName;
    if (name.find('?') == std::string::npos)
        return name;
    const std::string shortName = entry.cAlternateFileName;
    if (shortName.empty() || shortName.find('?') != std::string::npos)
        return std::string();
    return shortName;
}

} // namespace

void CShredThread::ShredDirectory(std::string path, int tailLength, bool ntfs)
{
    const std::string pattern = path + "\\*";
    // A folder whose listing pattern does not fit the narrow calls cannot be looked into: it is
    // removed when empty and reported otherwise, never left behind in silence.
    if (pattern.size() >= MAX_PATH) {
        if (!Os->RemoveDirectoryA(path.c_str()))
            SendStatus(StatusInvalidArguments);
        return;
    }
    {
        WIN32_FIND_DATAA entry{};
        ScopedListing listing(*Os, Os->FindFirstFileA(pattern.c_str(), &entry));
        // Every entry is examined, the first one too: not every listing starts with ".".
        for (bool more = listing.IsOpen(); more; more = Os->FindNextFileA(listing.Get(), &entry)) {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string reachable = ReachableName(entry);
            const std::string child = path + "\\" + reachable;
            if (reachable.empty() || !IsShreddableName(child)) {
                SendStatus(StatusInvalidArguments);
                continue;
            }
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                RemoveLink(child, entry.dwFileAttributes);
            else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                ShredDirectory(child, tailLength, ntfs);
            else
                ShredFile(child, tailLength, ntfs, std::string());
        }
    }
    Os->RemoveDirectoryA(path.c_str());
}
