#include "common/TextConversion.h"
#include "core/ShredThread.h"
#include "engine/CheckedOpen.h"
#include "engine/ItemVolume.h"
#include "engine/ShredNames.h"
#include "engine/ShredOs.h"

#include <memory>

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
    if (IsVolumeRoot(Os(), Widen(*folder))) {
        SendStatus(StatusVolumeRoot);
        return;
    }
    {
        // Held while it is listed and its entries are shredded: a folder that is open without
        // delete sharing cannot be renamed or replaced by a link to somewhere else meanwhile.
        const CheckedHandle held = OpenChecked(Os(), *folder, ItemKind::Folder, ItemVolume);
        if (!held.Handle) {
            SendStatus(*held.Refusal);
            return;
        }
        ShredEntries(*folder, tailLength, ntfs);
    }
    Os().RemoveDirectoryA(folder->c_str());
}

void CShredThread::ShredEntries(const std::string& folder, int tailLength, bool ntfs)
{
    // Every level of a deep tree holds its listing entry while the levels below it run: on the
    // heap, so that the deepest walk the paths allow fits a worker's small stack.
    const auto entry = std::make_unique<WIN32_FIND_DATAW>();
    // The folder's short form, asked for once, when a child does not fit below its path.
    std::optional<std::optional<std::string>> shortFolder;
    const std::wstring pattern = Widen(folder) + L"\\*";
    const UniqueListing listing =
        OwnListing(Os(), Os().FindFirstFileW(pattern.c_str(), entry.get()));
    // Every entry is examined, the first one too: not every listing starts with ".".
    for (bool more = listing.IsValid(); more;
         more = Os().FindNextFileW(listing.Get(), entry.get())) {
        if (IsDotEntry(*entry))
            continue;
        std::optional<std::string> child = ChildPath(folder, *entry);
        if (!child) {
            if (!shortFolder)
                shortFolder = ShortFormOf(folder);
            if (*shortFolder)
                child = ChildPath(**shortFolder, *entry);
        }
        if (!child) {
            SendStatus(StatusInvalidArguments);
            continue;
        }
        if (IsLink(*entry))
            RemoveLink(*child, entry->dwFileAttributes, entry->dwReserved0);
        else if (entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ShredDirectory(*child, tailLength, ntfs);
        else
            ShredFile(*child, tailLength, ntfs, std::string());
    }
}
