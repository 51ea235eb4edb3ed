#include "Notification.h"

#include <cstring>

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

size_t CountCommand(const Notifications& all, WORD id)
{
    size_t count = 0;
    for (const auto& n : all)
        count += n.IsCommand(id) ? 1 : 0;
    return count;
}

size_t CountStatus(const Notifications& all, ShredStatus status)
{
    return CountCommand(all, ShredStatusCommand(status));
}

Notifications OnlySent(const Notifications& all)
{
    Notifications sent;
    for (const auto& n : all)
        if (!n.Posted)
            sent.push_back(n);
    return sent;
}

Notifications OnlyPosted(const Notifications& all)
{
    Notifications posted;
    for (const auto& n : all)
        if (n.Posted)
            posted.push_back(n);
    return posted;
}

std::vector<std::string> Announced(const Notifications& all)
{
    std::vector<std::string> paths;
    for (const auto& n : all)
        if (n.Message == WM_SHRED_FILE && n.Id != 0)
            paths.push_back(n.Path);
    return paths;
}

std::vector<std::string> Named(const Notifications& all)
{
    std::vector<std::string> paths;
    for (const auto& n : all)
        if (n.Message == WM_SHRED_FILE)
            paths.push_back(n.Path);
    return paths;
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
