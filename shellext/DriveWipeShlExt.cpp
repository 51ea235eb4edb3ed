#include "shellext/DriveWipeShlExt.h"

#include "afx/AfxDialog.h"
#include "common/Seam.h"
#include "common/TextConversion.h"
#include "engine/WipeTarget.h"
#include "shellext/DataObjectOwners.h"
#include "shellext/InterfaceTable.h"
#include "shellext/MenuHelpText.h"
#include "shellext/ServerModule.h"
#include "ui/WipeConfirmDlg.h"

#include <shellapi.h>

#include <new>

namespace {

constexpr char MenuText[] = "Wipe Free Space";
constexpr char HelpText[] = "Overwrite the free space of this drive";

} // namespace

CDriveWipeShlExt::CDriveWipeShlExt()
{
    Module.AddLock();
}

CDriveWipeShlExt::~CDriveWipeShlExt()
{
    Module.ReleaseLock();
}

HRESULT CDriveWipeShlExt::CreateObject(IUnknown* outer, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    auto* object = new (std::nothrow) CDriveWipeShlExt();
    if (!object)
        return E_OUTOFMEMORY;
    return HandOutNewObject(static_cast<IShellExtInit*>(object), riid, ppv);
}

STDMETHODIMP CDriveWipeShlExt::QueryInterface(REFIID riid, void** ppv)
{
    const InterfaceEntry table[] = {
        {&IID_IUnknown, static_cast<IShellExtInit*>(this)},
        {&IID_IShellExtInit, static_cast<IShellExtInit*>(this)},
        {&IID_IContextMenu, static_cast<IContextMenu*>(this)},
    };
    return QueryInterfaceTable(static_cast<IShellExtInit*>(this), table, riid, ppv);
}

STDMETHODIMP_(ULONG) CDriveWipeShlExt::AddRef()
{
    return ++RefCount;
}

STDMETHODIMP_(ULONG) CDriveWipeShlExt::Release()
{
    const ULONG count = --RefCount;
    if (count == 0) {
        RefCount = 1;
        delete this;
    }
    return count;
}

STDMETHODIMP CDriveWipeShlExt::Initialize(PCIDLIST_ABSOLUTE, IDataObject* dataObject, HKEY)
{
    // A second call replaces the first selection.
    Root.clear();
    if (!dataObject)
        return E_INVALIDARG;
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium = {};
    medium.tymed = TYMED_HGLOBAL;
    if (FAILED(dataObject->GetData(&format, &medium)))
        return E_INVALIDARG;
    const UniqueStorageMedium release(&medium);
    return CollectRoot(medium.hGlobal);
}

HRESULT CDriveWipeShlExt::CollectRoot(HGLOBAL files)
{
    auto drop = static_cast<HDROP>(::GlobalLock(files));
    if (!drop)
        return E_INVALIDARG;
    const UniqueGlobalLock unlock(files);
    // One volume at a time: a wipe fills its volume, and two would fill two.
    if (::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) != 1)
        return E_INVALIDARG;
    const UINT length = ::DragQueryFileW(drop, 0, nullptr, 0);
    std::wstring item(length + 1, L'\0');
    if (length == 0 || ::DragQueryFileW(drop, 0, item.data(), length + 1) != length)
        return E_INVALIDARG;
    item.resize(length);
    const std::optional<std::string> root = WholeVolumeRoot(Seam<ShredOs>::Active(), item);
    if (!root)
        return E_INVALIDARG;
    Root = *root;
    return S_OK;
}

STDMETHODIMP CDriveWipeShlExt::QueryContextMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst, UINT,
                                                UINT flags)
{
    if ((flags & CMF_DEFAULTONLY) || Root.empty())
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
    ::InsertMenuA(menu, indexMenu, MF_BYPOSITION | MF_STRING, idCmdFirst, MenuText);
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1);
}

STDMETHODIMP CDriveWipeShlExt::InvokeCommand(CMINVOKECOMMANDINFO* info)
{
    AFX_MANAGE_STATE(AfxGetStaticModuleState());
    if (!info || !IS_INTRESOURCE(info->lpVerb) || LOWORD(info->lpVerb) != 0 || Root.empty())
        return E_INVALIDARG;
    // The wipe outlives the call: its window is served by the shell thread's loop.
    ConfirmWipe(Root);
    return S_OK;
}

STDMETHODIMP CDriveWipeShlExt::GetCommandString(UINT_PTR idCmd, UINT type, UINT*, CHAR* name,
                                                UINT cchMax)
{
    return CopyMenuHelpText(HelpText, idCmd, type, name, cchMax);
}
