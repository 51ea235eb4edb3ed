#include "AfxWin.h"

#include "common/Seam.h"

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

int AfxMessageBoxes::Show(HWND owner, const char* text, UINT type)
{
    return ::MessageBoxA(owner, text, "Orlenwick", type);
}

int AfxMessageBox(const char* text, UINT type, UINT)
{
    return Seam<AfxMessageBoxes>::Active().Show(AfxGetSafeOwner(nullptr), text, type);
}
