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

bool ListingFits(const ShreddablePath& folder)
{
    return folder.size() + 2 < MAX_PATH;
}

} // namespace

std::optional<ShreddablePath> CShredThread::ListablePath(const ShreddablePath& folder)
{
    if (ListingFits(folder))
        return folder;
    // Too long to list as it is: the same folder by its short path, when the volume has one.
    std::optional<ShreddablePath> shortPath = NameRules::ShortForm(folder, ShortPathsThrough(Os()));
    if (shortPath && ListingFits(*shortPath))
        return shortPath;
    return std::nullopt;
}

bool CShredThread::ShredDirectory(const ShreddablePath& path, int tailLength, bool namedStreams)
{
    const std::optional<ShreddablePath> folder = ListablePath(path);
    // A folder that cannot be looked into is removed when empty and reported otherwise, never
    // left behind in silence.
    if (!folder) {
        if (Os().RemoveDirectoryA(path.c_str()))
            return true;
        ReportFailure(path.Narrow(), StatusInvalidArguments);
        return false;
    }
    if (IsVolumeRoot(Os(), folder->Wide())) {
        ReportFailure(folder->Narrow(), StatusVolumeRoot);
        return false;
    }
    FolderContents contents;
    {
        // Held while it is listed and its entries are shredded: a folder that is open without
        // delete sharing cannot be renamed or replaced by a link to somewhere else meanwhile.
        const CheckedHandle held =
            OpenChecked(Os(), folder->Narrow(), ItemKind::Folder, ItemVolume);
        if (!held.Handle) {
            ReportFailure(folder->Narrow(), *held.Refusal);
            return false;
        }
        contents = ShredEntries(*folder, tailLength, namedStreams);
    }
    // What was not listed was not shredded: removing the folder would fail, or worse.
    if (!contents.Listed) {
        ReportFailure(folder->Narrow(), StatusFolderNotListed);
        return false;
    }
    // A folder's streams go before it does, by the rules of a file's.
    if (namedStreams) {
        const ShredStatus streams =
            ShredStreams(*folder, folder->Narrow(), tailLength, StatusShredded);
        if (!MeansGone(streams)) {
            ReportFailure(folder->Narrow(), streams);
            return false;
        }
    }
    // A folder that still holds what was kept for a reason already reported is kept with it.
    return RemoveFolder(*folder, contents.AllGone);
}

bool CShredThread::RemoveFolder(const ShreddablePath& folder, bool emptied)
{
    // A read-only folder (the shell marks customised folders so) is removed like any other.
    Os().SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    std::optional<ShreddablePath> renamed = folder;
    // Its name is in the disk's records as a file's is: scrambled first, when names are.
    if (Settings.MangleDateAndTime && emptied) {
        renamed = RenameScrambled(folder);
        if (!renamed) {
            ReportFailure(folder.Narrow(), StatusNameNotScrambled);
            return false;
        }
    }
    if (Os().RemoveDirectoryA(renamed->c_str()))
        return true;
    if (emptied)
        ReportFailure(folder.Narrow(), StatusFolderNotRemoved);
    return false;
}

CShredThread::FolderContents CShredThread::ShredEntries(const ShreddablePath& folder,
                                                        int tailLength, bool namedStreams)
{
    // Every level of a deep tree holds its listing entry while the levels below it run: on the
    // heap, so that the deepest walk the paths allow fits a worker's small stack.
    const auto entry = std::make_unique<WIN32_FIND_DATAW>();
    // The folder's short form, asked for once, when a child does not fit below its path.
    std::optional<std::optional<ShreddablePath>> shortFolder;
    const std::wstring pattern = folder.Wide() + L"\\*";
    const UniqueListing listing =
        OwnListing(Os(), Os().FindFirstFileW(pattern.c_str(), entry.get()));
    // A folder with no entry at all (not even "." and "..") is listed whole.
    FolderContents contents{listing.IsValid() || Os().GetLastError() == ERROR_FILE_NOT_FOUND, true};
    // Every entry is examined, the first one too: not every listing starts with ".".
    for (bool more = listing.IsValid(); more;
         more = Os().FindNextFileW(listing.Get(), entry.get())) {
        if (!IsDotEntry(*entry) &&
            !ShredEntry(folder, *entry, shortFolder, tailLength, namedStreams))
            contents.AllGone = false;
    }
    // A listing that ended otherwise than at its end left entries unseen.
    if (listing.IsValid() && Os().GetLastError() != ERROR_NO_MORE_FILES)
        contents.Listed = false;
    return contents;
}

bool CShredThread::ShredEntry(const ShreddablePath& folder, const WIN32_FIND_DATAW& entry,
                              std::optional<std::optional<ShreddablePath>>& shortFolder,
                              int tailLength, bool namedStreams)
{
    const std::optional<ShreddablePath> child = EntryPath(folder, entry, shortFolder);
    if (!child)
        return false;
    if (IsLink(entry))
        return RemoveLink(*child, entry.dwFileAttributes, entry.dwReserved0);
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return ShredDirectory(*child, tailLength, namedStreams);
    return MeansGone(ShredFile(*child, tailLength, namedStreams, std::string()));
}

std::optional<ShreddablePath>
CShredThread::EntryPath(const ShreddablePath& folder, const WIN32_FIND_DATAW& entry,
                        std::optional<std::optional<ShreddablePath>>& shortFolder)
{
    std::optional<ShreddablePath> child = NameRules::Child(folder, entry);
    if (!child) {
        if (!shortFolder)
            shortFolder = NameRules::ShortForm(folder, ShortPathsThrough(Os()));
        if (*shortFolder)
            child = NameRules::Child(**shortFolder, entry);
    }
    // Named as it is listed, for the user's eyes only.
    if (!child)
        ReportFailure(folder.Narrow() + "\\" + NarrowWithSubstitutes(entry.cFileName),
                      StatusInvalidArguments);
    return child;
}
