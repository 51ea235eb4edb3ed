// What a worker may reach: the system calls it makes, and the items a name may lie in.
#include "core/ShredThread.h"

#include "common/Seam.h"
#include "common/TextConversion.h"
#include "engine/ShredOs.h"

ShredOs& CShredThread::Os() const
{
    return Seam<ShredOs>::Active();
}

std::vector<std::wstring> CShredThread::SelectedItems() const
{
    std::vector<std::wstring> items;
    if (Selection)
        for (const std::string& item : *Selection)
            if (std::optional<std::wstring> wide = WidenExactly(item))
                items.push_back(*wide);
    if (CurrentItem)
        items.push_back(CurrentItem->Wide());
    return items;
}
