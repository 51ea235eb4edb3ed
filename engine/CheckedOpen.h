// Opening what the engine is about to overwrite or list without following a link, and checking
// on the open handle that it is what the listing said: still no link, the same kind, and on the
// item's own volume. A name may be swapped for a link at any moment between the listing and the
// open; once open without delete sharing, it can no longer be renamed or replaced.
#pragma once

#include "core/ShredProtocol.h"
#include "engine/ShredOs.h"

#include <optional>
#include <string>

enum class ItemKind
{
    File,
    Folder,
    // A named stream, of a file or of a folder (whose streams' handles show a folder).
    Stream,
};

struct CheckedHandle
{
    // Open only when every check passed.
    UniqueFileHandle Handle;
    BY_HANDLE_FILE_INFORMATION Information{};
    // Why nothing may be done through the name, when the handle is not open.
    std::optional<ShredStatus> Refusal;
};

// A file or stream is opened for reading its attributes, a folder for listing. `volume` is the
// serial number of the volume the item lies on, when known.
CheckedHandle OpenChecked(ShredOs& os, const std::string& name, ItemKind kind,
                          std::optional<DWORD> volume);

// The file `held` was opened on, opened again for writing (and `moreAccess`): the held handle
// keeps its name from being replaced meanwhile, and the new handle must show the same file.
CheckedHandle ReopenForWriting(ShredOs& os, const std::string& name, const CheckedHandle& held,
                               DWORD moreAccess = 0);

// The status an open that failed with the system's `error` reports; nothing was written.
ShredStatus StatusForOpenError(DWORD error);
