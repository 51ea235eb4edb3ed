#include "AfxWin.h"

#include <atomic>

namespace {
std::atomic<AfxMessageBoxHandler> messageBoxHandler{nullptr};
}

HWND AfxGetSafeOwner(HWND parent)
{
    HWND owner = parent ? parent : ::GetActiveWindow();
    // A popup cannot be owned by a child window.
    while (owner && (::GetWindowLongA(owner, GWL_STYLE) & WS_CHILD))
        owner = ::GetParent(owner);
    // Of that window and the popups it owns, the one the user last worked in.
    if (!parent && owner)
        owner = ::GetLastActivePopup(owner);
    return owner;
}

int AfxMessageBox(const char* text, UINT type, UINT)
{
    const HWND owner = AfxGetSafeOwner(nullptr);
    if (AfxMessageBoxHandler handler = messageBoxHandler.load())
        return handler(owner, text, type);
    return ::MessageBoxA(owner, text, "Orlenwick", type);
}

AfxMessageBoxHandler AfxSetMessageBoxHandler(AfxMessageBoxHandler handler)
{
    return messageBoxHandler.exchange(handler);
}
