// The walk's view of the system for tests: every listing, open, announcement and removal
// logged in order; links stood in for by ordinary entries the seam marks (opening or listing
// through one reaches its target, deleting it removes the link alone); and the listings the
// platform will not give on demand: sealed folders, renamed and extra entries, dots anywhere.
#pragma once

#include "LinkingShredOs.h"
#include "common/TextConversion.h"

#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

class WalkOs : public LinkingShredOs
{
public:
    // Listings deliver "." and ".." after the first real entry and at the end.
    bool DotsInside = false;
    // Folders whose listing cannot be opened.
    std::set<std::string> Sealed;
    // Entries (by full path) delivered under another long and short name.
    std::map<std::string, std::pair<std::wstring, std::wstring>> Renamed;
    // Entries added to a folder's listing.
    std::map<std::string, std::vector<WIN32_FIND_DATAW>> Extra;
    // Entries (by full path) that become links to the given targets once their folder has been
    // listed: someone swapped them between the listing and the open.
    std::map<std::string, std::string> LinkedOnceListed;
    // Folders that cannot be removed while they are read-only, as Windows keeps them; resetting
    // their attributes makes them ordinary.
    std::set<std::string> ReadOnlyFolders;
    // Folders whose listing fails (not at its end) after giving this many entries (one or more).
    std::map<std::string, size_t> ListingBreaksAfter;

    // "list:", "open:" (opened for writing), "file:" (announced to the window), "remove:",
    // "rmdir:" and "followed:" calls, in order.
    std::vector<std::string> Log() const
    {
        return Calls.Of({"list", "open", "file", "remove", "rmdir", "followed"});
    }

    HANDLE FindFirstFileW(const wchar_t* pattern, WIN32_FIND_DATAW* data) override
    {
        std::string folder = NarrowWithSubstitutes(pattern);
        const bool listing = folder.size() > 2 && folder.compare(folder.size() - 2, 2, "\\*") == 0;
        if (!listing)
            return LinkingShredOs::FindFirstFileW(pattern, data);
        folder.resize(folder.size() - 2);
        LogCall("list", folder);
        if (Sealed.count(folder)) {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        WIN32_FIND_DATAW entry{};
        HANDLE handle = LinkingShredOs::FindFirstFileW(pattern, &entry);
        if (handle == INVALID_HANDLE_VALUE)
            return handle;
        std::deque<WIN32_FIND_DATAW> entries;
        do {
            auto renamed = Renamed.find(folder + "\\" + NarrowWithSubstitutes(entry.cFileName));
            if (renamed != Renamed.end()) {
                CopyName(renamed->second.first, entry.cFileName);
                CopyName(renamed->second.second, entry.cAlternateFileName);
            }
            entries.push_back(entry);
        } while (FakeShredOs::FindNextFileW(handle, &entry));
        auto extra = Extra.find(folder);
        if (extra != Extra.end())
            entries.insert(entries.end(), extra->second.begin(), extra->second.end());
        for (const auto& [entry, target] : LinkedOnceListed)
            if (entry.rfind('\\') == folder.size() && entry.compare(0, folder.size(), folder) == 0)
                Link(entry, target);
        if (DotsInside)
            MoveDots(entries);
        const auto breaks = ListingBreaksAfter.find(folder);
        const bool breaksEarly =
            breaks != ListingBreaksAfter.end() && entries.size() > breaks->second;
        if (breaksEarly)
            entries.resize(breaks->second);
        *data = entries.front();
        entries.pop_front();
        std::lock_guard<std::mutex> guard(listingLock);
        pending[handle] = std::move(entries);
        if (breaksEarly)
            broken.insert(handle);
        return handle;
    }
    BOOL FindNextFileW(HANDLE listing, WIN32_FIND_DATAW* data) override
    {
        std::lock_guard<std::mutex> guard(listingLock);
        auto entries = pending.find(listing);
        if (entries == pending.end())
            return FakeShredOs::FindNextFileW(listing, data);
        if (entries->second.empty()) {
            ::SetLastError(broken.count(listing) ? ERROR_IO_DEVICE : ERROR_NO_MORE_FILES);
            return FALSE;
        }
        *data = entries->second.front();
        entries->second.pop_front();
        return TRUE;
    }
    BOOL FindClose(HANDLE listing) override
    {
        {
            std::lock_guard<std::mutex> guard(listingLock);
            pending.erase(listing);
            broken.erase(listing);
        }
        return FakeShredOs::FindClose(listing);
    }
    BOOL RemoveDirectoryA(const char* path) override
    {
        if (ReadOnlyFolders.count(path)) {
            LogCall("rmdir", path);
            ::SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        return LinkingShredOs::RemoveDirectoryA(path);
    }
    BOOL SetFileAttributesA(const char* path, DWORD attributes) override
    {
        if (!(attributes & FILE_ATTRIBUTE_READONLY))
            ReadOnlyFolders.erase(path);
        return LinkingShredOs::SetFileAttributesA(path, attributes);
    }

    // A name into a field of a listing entry, cut to fit.
    template <size_t Size> static void CopyName(const std::wstring& name, wchar_t (&field)[Size])
    {
        const size_t length = name.copy(field, Size - 1);
        field[length] = L'\0';
    }

private:
    static void MoveDots(std::deque<WIN32_FIND_DATAW>& entries)
    {
        std::deque<WIN32_FIND_DATAW> dots;
        std::deque<WIN32_FIND_DATAW> names;
        for (const WIN32_FIND_DATAW& entry : entries) {
            const std::wstring name = entry.cFileName;
            (name == L"." || name == L".." ? dots : names).push_back(entry);
        }
        entries = names;
        for (size_t i = 0; i < dots.size(); ++i)
            entries.insert(i == 0 && !entries.empty() ? entries.begin() + 1 : entries.end(),
                           dots[i]);
    }

    std::mutex listingLock;
    std::map<HANDLE, std::deque<WIN32_FIND_DATAW>> pending;
    std::set<HANDLE> broken;
};

// A listing entry with a name and attributes and nothing else.
inline WIN32_FIND_DATAW Entry(const std::wstring& name, DWORD attributes)
{
    WIN32_FIND_DATAW entry{};
    entry.dwFileAttributes = attributes;
    WalkOs::CopyName(name, entry.cFileName);
    return entry;
}
