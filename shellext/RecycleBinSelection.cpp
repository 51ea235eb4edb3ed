#include "shellext/RecycleBinSelection.h"

#include "shellext/DataObjectOwners.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cstring>

namespace {

// What the desktop gives as the Recycle Bin's parsing name: its class.
constexpr wchar_t RecycleBinParsingName[] = L"::{645FF040-5081-101B-9F08-00AA002F954E}";

// The ID list at `offset` of the block, when it ends, terminator and all, inside the block.
const ITEMIDLIST* IdListAt(const BYTE* block, SIZE_T size, UINT offset)
{
    for (SIZE_T at = offset; at < size && size - at >= sizeof(USHORT);) {
        USHORT itemSize = 0;
        std::memcpy(&itemSize, block + at, sizeof itemSize);
        if (itemSize == 0)
            return reinterpret_cast<const ITEMIDLIST*>(block + offset);
        if (itemSize < sizeof(USHORT) || itemSize > size - at)
            return nullptr;
        at += itemSize;
    }
    return nullptr;
}

bool IsRecycleBin(PCIDLIST_ABSOLUTE folder, PCUIDLIST_RELATIVE child)
{
    const UniqueTaskMemory<ITEMIDLIST> item(::ILCombine(folder, child));
    UniqueCom<IShellFolder> desktop;
    STRRET name{};
    UniqueTaskMemory<wchar_t> text;
    return item && SUCCEEDED(::SHGetDesktopFolder(desktop.Receive())) &&
           SUCCEEDED(desktop->GetDisplayNameOf(item.Get(), SHGDN_FORPARSING, &name)) &&
           SUCCEEDED(::StrRetToStrW(&name, item.Get(), text.Receive())) &&
           ::CompareStringOrdinal(text.Get(), -1, RecycleBinParsingName, -1, TRUE) == CSTR_EQUAL;
}

} // namespace

bool NamesRecycleBin(IDataObject* dataObject)
{
    FORMATETC format = {static_cast<CLIPFORMAT>(::RegisterClipboardFormat(CFSTR_SHELLIDLIST)),
                        nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium = {};
    if (format.cfFormat == 0 || FAILED(dataObject->GetData(&format, &medium)))
        return false;
    const UniqueStorageMedium release(&medium);
    if (medium.tymed != TYMED_HGLOBAL)
        return false;
    const SIZE_T size = ::GlobalSize(medium.hGlobal);
    const auto* block = static_cast<const BYTE*>(::GlobalLock(medium.hGlobal));
    if (!block)
        return false;
    const UniqueGlobalLock unlock(medium.hGlobal);
    // The count, the folder's offset and one item's: a selection of more is not the Recycle Bin.
    UINT header[3] = {};
    if (size < sizeof header)
        return false;
    std::memcpy(header, block, sizeof header);
    if (header[0] != 1)
        return false;
    const ITEMIDLIST* folder = IdListAt(block, size, header[1]);
    const ITEMIDLIST* child = IdListAt(block, size, header[2]);
    return folder && child && IsRecycleBin(folder, child);
}
