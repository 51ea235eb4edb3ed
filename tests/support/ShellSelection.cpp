#include "ShellSelection.h"

#include "TestOwners.h"
#include "common/TextConversion.h"

#include <gtest/gtest.h>

#include <shlobj.h>

UniqueCom<IDataObject> ShellSelection(const std::vector<std::wstring>& paths)
{
    std::vector<UniqueItemIdList> items;
    for (const std::wstring& path : paths) {
        UniqueItemIdList item;
        if (FAILED(::SHParseDisplayName(path.c_str(), nullptr, item.Receive(), 0, nullptr))) {
            item.Release();
            ADD_FAILURE() << "the shell cannot parse " << NarrowWithSubstitutes(path);
            return {};
        }
        items.push_back(std::move(item));
    }
    UniqueCom<IDataObject> selection;
    if (items.empty())
        return selection;
    const UniqueItemIdList folder(::ILClone(items.front().Get()));
    ::ILRemoveLastID(folder.Get());
    std::vector<PCUIDLIST_RELATIVE> names;
    for (const UniqueItemIdList& item : items)
        names.push_back(::ILFindLastID(item.Get()));
    if (FAILED(::CIDLData_CreateFromIDArray(folder.Get(), static_cast<UINT>(names.size()),
                                            names.data(), selection.Receive()))) {
        selection.Release();
        ADD_FAILURE() << "the shell makes no data object";
    }
    return selection;
}

UniqueCom<IDataObject> ShellSelection(const std::vector<std::string>& paths)
{
    std::vector<std::wstring> wide;
    for (const std::string& path : paths)
        wide.push_back(Widen(path));
    return ShellSelection(wide);
}
