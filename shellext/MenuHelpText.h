// The help text of a context-menu entry, as IContextMenu::GetCommandString hands it out.
#pragma once

#include <windows.h>

#include <shlobj.h>

// Copies `text` into the caller's buffer in the form asked for (narrow, or UTF-16 with
// GCS_UNICODE), cut to `size` characters; E_INVALIDARG for anything but the help text of the one
// entry (command 0).
HRESULT CopyMenuHelpText(const char* text, UINT_PTR command, UINT type, CHAR* buffer, UINT size);
