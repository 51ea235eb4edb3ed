// The shell's ID lists: an owner for one the shell allocated, and the shell's ID list format
// (CFSTR_SHELLIDLIST): the count of items, the offsets of the folder's ID list and of each
// item's, then the lists themselves, in one global block.
#pragma once

#include "common/Unique.h"

#include <shlobj.h>

#include <cstring>
#include <vector>

struct ItemIdListTraits : NullInvalid<ITEMIDLIST*>
{
    void Close(Handle list) const { ::ILFree(list); }
};

using UniqueItemIdList = Unique<ItemIdListTraits>;

// The block for `items` in `folder`, as the shell's data objects carry it; the caller frees it.
inline HGLOBAL ShellIdListBlock(PCIDLIST_ABSOLUTE folder,
                                const std::vector<PCUIDLIST_RELATIVE>& items)
{
    std::vector<const ITEMIDLIST*> lists{folder};
    lists.insert(lists.end(), items.begin(), items.end());
    std::vector<UINT> header{static_cast<UINT>(items.size())};
    SIZE_T size = sizeof(UINT) * (1 + lists.size());
    for (const ITEMIDLIST* list : lists) {
        header.push_back(static_cast<UINT>(size));
        size += ::ILGetSize(list);
    }
    HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    auto* bytes = static_cast<BYTE*>(::GlobalLock(block));
    if (!bytes)
        return block;
    std::memcpy(bytes, header.data(), header.size() * sizeof(UINT));
    for (size_t i = 0; i < lists.size(); ++i)
        std::memcpy(bytes + header[i + 1], lists[i], ::ILGetSize(lists[i]));
    ::GlobalUnlock(block);
    return block;
}
