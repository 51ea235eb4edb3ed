// The calls a fake saw, in the order they were made, from any thread: each entry is
// "kind:detail" ("open:T:\a.txt", "write:512", "flush"), so that a test can compare whole
// sequences, keep the kinds it cares about, or count them.
#pragma once

#include <algorithm>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

class CallLog
{
public:
    // An entry of the kind alone when the detail is empty ("flush").
    void Add(const std::string& kind, const std::string& detail = "")
    {
        std::lock_guard<std::mutex> guard(lock);
        entries.push_back(detail.empty() ? kind : kind + ":" + detail);
    }

    // Forgets every entry so far.
    void Clear()
    {
        std::lock_guard<std::mutex> guard(lock);
        entries.clear();
    }

    std::vector<std::string> Entries() const
    {
        std::lock_guard<std::mutex> guard(lock);
        return entries;
    }

    // The entries of the kinds, in order.
    std::vector<std::string> Of(std::initializer_list<std::string> kinds) const
    {
        std::vector<std::string> kept;
        for (const std::string& entry : Entries())
            if (std::any_of(kinds.begin(), kinds.end(),
                            [&](const std::string& kind) { return IsOf(entry, kind); }))
                kept.push_back(entry);
        return kept;
    }

    // The details of the entries of the kind, in order.
    std::vector<std::string> Details(const std::string& kind) const
    {
        std::vector<std::string> details;
        for (const std::string& entry : Entries())
            if (IsOf(entry, kind))
                details.push_back(entry.size() > kind.size() ? entry.substr(kind.size() + 1) : "");
        return details;
    }

    size_t Count(const std::string& kind) const { return Details(kind).size(); }

    // How many entries are exactly this one.
    size_t Count(const std::string& kind, const std::string& detail) const
    {
        const std::vector<std::string> all = Entries();
        return std::count(all.begin(), all.end(), kind + ":" + detail);
    }

private:
    static bool IsOf(const std::string& entry, const std::string& kind)
    {
        return entry.compare(0, kind.size(), kind) == 0 &&
               (entry.size() == kind.size() || entry[kind.size()] == ':');
    }

    mutable std::mutex lock;
    std::vector<std::string> entries;
};
