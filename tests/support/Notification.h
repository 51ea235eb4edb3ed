// One notification as the progress window would receive it.
#pragma once

#include "core/ShredProtocol.h"

#include <string>
#include <vector>

struct Notification
{
    UINT Message = 0;
    WORD ItemIndex = 0;
    WORD Id = 0; // command id, or the progress range of WM_SHRED_FILE
    bool Posted = false;
    std::string Path; // WM_SHRED_FILE only

    bool IsCommand(WORD id) const { return Message == WM_COMMAND && Id == id; }
    bool IsStatus(ShredStatus status) const { return IsCommand(ShredStatusCommand(status)); }
};

using Notifications = std::vector<Notification>;

// Decodes a notification; takes ownership of a WM_SHRED_FILE name block and frees it.
Notification DecodeNotification(UINT message, WPARAM wParam, LPARAM lParam, bool posted);

size_t CountCommand(const Notifications& all, WORD id);
size_t CountStatus(const Notifications& all, ShredStatus status);
Notifications OnlySent(const Notifications& all);
Notifications OnlyPosted(const Notifications& all);
// The paths of the files announced to be overwritten, in order: the WM_SHRED_FILE
// notifications with a range (one without names a failure for the window's list).
std::vector<std::string> Announced(const Notifications& all);
// The paths every WM_SHRED_FILE named, in order.
std::vector<std::string> Named(const Notifications& all);
// A compact form for comparing sequences: "F:<range>:<path>", "P:<id>", "S:<id>".
std::vector<std::string> Describe(const Notifications& all);
