#include "common/TextConversion.h"
#include "engine/ShredNames.h"
#include "engine/ShredOs.h"
#include "core/ShredThread.h"

namespace {

bool IsDotEntry(const WIN32_FIND_DATAW& entry)
{
    const std::wstring_view name(entry.cFileName);
    return name == L"." || name == L"..";
}

bool ListingFits(const std::string& folder)
{
    return folder.size() + 2 < MAX_PATH;
}

} // namespace

std::optional<std::string> CShredThread::ShortFormOf(const std::string& path)
{
    const std::optional<std::wstring> wide = WidenExactly(path);
    const std::optional<std::wstring> shortForm =
        wide ? ShortPathOf(*wide, ShortPathsThrough(Os())) : std::nullopt;
    std::optional<std::string> shortPath = shortForm ? NarrowExactly(*shortForm) : std::nullopt;
    if (shortPath && IsShreddablePath(*shortPath) && shortPath->size() < path.size())
        return shortPath;
    return std::nullopt;
}

std::optional<std::string> CShredThread::ListablePath(const std::string& folder)
{
    if (ListingFits(folder))
        return folder;
    // Too long to list as it is: the same folder by its short path, when the volume has one.
    std::optional<std::string> shortPath = ShortFormOf(folder);
    if (shortPath && ListingFits(*shortPath))
        return shortPath;
    return std::nullopt;
}

void CShredThread::ShredDirectory(std::string path, int tailLength, bool ntfs)
{
    const std::optional<std::string> folder = ListablePath(path);
    // A folder that cannot be looked into is removed when empty and reported otherwise, never
    // left behind in silence.
    if (!folder) {
        if (!Os().RemoveDirectoryA(path.c_str()))
            SendStatus(StatusInvalidArguments);
        return;
    }
    {
        // The folder's short form, asked for once, when a child does not fit below its path.
        std::optional<std::optional<std::string>> shortFolder;
        const std::wstring pattern = Widen(*folder) + L"\\*";
        WIN32_FIND_DATAW entry{};
        const UniqueListing listing =
            OwnListing(Os(), Os().FindFirstFileW(pattern.c_str(), &entry));
        // Every entry is examined, the first one too: not every listing starts with ".".
        for (bool more = listing.IsValid(); more;
             more = Os().FindNextFileW(listing.Get(), &entry)) {
            if (IsDotEntry(entry))
                continue;
            std::optional<std::string> child = ChildPath(*folder, entry);
            if (!child) {
                if (!shortFolder)
                    shortFolder = ShortFormOf(*folder);
                if (*shortFolder)
                    child = ChildPath(**shortFolder, entry);
            }
            if (!child) {
                SendStatus(StatusInvalidArguments);
                continue;
            }
            if (IsLink(entry))
                RemoveLink(*child, entry.dwFileAttributes);
            else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                ShredDirectory(*child, tailLength, ntfs);
            else
                ShredFile(*child, tailLength, ntfs, std::string());
        }
    }
    Os().RemoveDirectoryA(folder->c_str());
}
