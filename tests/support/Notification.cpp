#include "Notification.h"

#include <algorithm>
#include <cstring>
#include <iterator>

Notification DecodeNotification(UINT message, WPARAM wParam, LPARAM lParam, bool posted)
{
    Notification notification;
    notification.Message = message;
    notification.ItemIndex = HIWORD(wParam);
    notification.Id = LOWORD(wParam);
    notification.Posted = posted;
    if (message == WM_SHRED_FILE && lParam) {
        const char* block = reinterpret_cast<const char*>(lParam);
        notification.Path.assign(block, strnlen(block, ShredFileNameBlockSize));
        FreeShredFileNameBlock(lParam);
    }
    return notification;
}

namespace {

template <typename Keep> Notifications Where(const Notifications& all, Keep keep)
{
    Notifications kept;
    std::copy_if(all.begin(), all.end(), std::back_inserter(kept), keep);
    return kept;
}

std::vector<std::string> PathsOf(const Notifications& some)
{
    std::vector<std::string> paths;
    for (const auto& n : some)
        paths.push_back(n.Path);
    return paths;
}

} // namespace

size_t CountCommand(const Notifications& all, WORD id)
{
    return std::count_if(all.begin(), all.end(), [id](const auto& n) { return n.IsCommand(id); });
}

size_t CountStatus(const Notifications& all, ShredStatus status)
{
    return CountCommand(all, ShredStatusCommand(status));
}

Notifications OnlySent(const Notifications& all)
{
    return Where(all, [](const auto& n) { return !n.Posted; });
}

Notifications OnlyPosted(const Notifications& all)
{
    return Where(all, [](const auto& n) { return n.Posted; });
}

std::vector<std::string> Announced(const Notifications& all)
{
    return PathsOf(
        Where(all, [](const auto& n) { return n.Message == WM_SHRED_FILE && n.Id != 0; }));
}

std::vector<std::string> Named(const Notifications& all)
{
    return PathsOf(Where(all, [](const auto& n) { return n.Message == WM_SHRED_FILE; }));
}

std::vector<std::string> Describe(const Notifications& all)
{
    std::vector<std::string> lines;
    for (const auto& n : all) {
        if (n.Message == WM_SHRED_FILE)
            lines.push_back("F:" + std::to_string(n.Id) + ":" + n.Path);
        else
            lines.push_back(std::string(n.Posted ? "P:" : "S:") + std::to_string(n.Id));
    }
    return lines;
}
