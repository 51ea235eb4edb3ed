#include "shellext/QuorvaneShlExt.h"

#include "afx/AfxDialog.h"
#include "common/TextConversion.h"
#include "common/Unique.h"
#include "common/Seam.h"
#include "engine/ItemVolume.h"
#include "engine/ShredNames.h"
#include "shellext/DataObjectOwners.h"
#include "shellext/InterfaceTable.h"
#include "shellext/MenuHelpText.h"
#include "shellext/RecycleBinSelection.h"
#include "shellext/ServerModule.h"
#include "shellext/TypeLibrary.h"
#include "ui/ShredConfirmDlg.h"

#include <shellapi.h>

#include <cstddef>
#include <new>
#include <vector>

namespace {

constexpr char MenuText[] = "Shred Item(s)";
constexpr char HelpText[] = "Shred this item";

// The record that owns an aggregated object: its own IUnknown controls the lifetime.
class QuorvaneShlExtAggregate : public IUnknown
{
public:
    explicit QuorvaneShlExtAggregate(IUnknown* outer) : contained(outer) {}
    virtual ~QuorvaneShlExtAggregate() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return contained.InternalQueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG count = --references;
        if (count == 0)
            delete this;
        return count;
    }

private:
    ULONG references = 0;
    CQuorvaneShlExt contained;
};

} // namespace

std::string SelectionName(const std::wstring& name, UINT codePage, const ShortPathCall& shortPaths)
{
    if (std::optional<ShreddablePath> reachable = NameRules::Reachable(name, shortPaths, codePage))
        return reachable->Narrow();
    // Passed on as it converts, "?" for what the code page lacks, at full length: the worker
    // refuses it and the user is told, which a best-fit or cut name would not do.
    return NarrowWithSubstitutes(name, codePage);
}

CQuorvaneShlExt::CQuorvaneShlExt(IUnknown* outer) : Outer(outer)
{
    Module.AddLock();
}

CQuorvaneShlExt::~CQuorvaneShlExt()
{
    Module.ReleaseLock();
}

HRESULT CQuorvaneShlExt::CreateObject(IUnknown* outer, REFIID riid, void** ppv)
{
    IUnknown* object = nullptr;
    if (outer) {
        auto* aggregate = new (std::nothrow) QuorvaneShlExtAggregate(outer);
        if (!aggregate)
            return E_OUTOFMEMORY;
        object = aggregate;
    } else {
        auto* plain = new (std::nothrow) CQuorvaneShlExt();
        if (!plain)
            return E_OUTOFMEMORY;
        object = static_cast<IQuorvaneShlExt*>(plain);
    }
    return HandOutNewObject(object, riid, ppv);
}

HRESULT CQuorvaneShlExt::InternalQueryInterface(REFIID riid, void** ppv)
{
    const InterfaceEntry table[] = {
        {&IID_IUnknown, static_cast<IQuorvaneShlExt*>(this)},
        {&IID_IQuorvaneShlExt, static_cast<IQuorvaneShlExt*>(this)},
        {&IID_IDispatch, static_cast<IQuorvaneShlExt*>(this)},
        {&IID_IShellExtInit, static_cast<IShellExtInit*>(this)},
        {&IID_IContextMenu, static_cast<IContextMenu*>(this)},
    };
    return QueryInterfaceTable(static_cast<IQuorvaneShlExt*>(this), table, riid, ppv);
}

STDMETHODIMP CQuorvaneShlExt::QueryInterface(REFIID riid, void** ppv)
{
    if (!Outer)
        return InternalQueryInterface(riid, ppv);
    const HRESULT hr = Outer->QueryInterface(riid, ppv);
    if (FAILED(hr) && Outer != static_cast<IUnknown*>(static_cast<IQuorvaneShlExt*>(this)))
        return InternalQueryInterface(riid, ppv);
    return hr;
}

STDMETHODIMP_(ULONG) CQuorvaneShlExt::AddRef()
{
    return Outer ? Outer->AddRef() : ++RefCount;
}

STDMETHODIMP_(ULONG) CQuorvaneShlExt::Release()
{
    if (Outer)
        return Outer->Release();
    const ULONG count = --RefCount;
    if (count == 0) {
        RefCount = 1;
        delete this;
    }
    return count;
}

STDMETHODIMP CQuorvaneShlExt::GetTypeInfoCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 1;
    return S_OK;
}

STDMETHODIMP CQuorvaneShlExt::GetTypeInfo(UINT, LCID lcid, ITypeInfo** typeInfo)
{
    return QuorvaneShlExtTypeInfo.GetTypeInfo(lcid, typeInfo);
}

STDMETHODIMP CQuorvaneShlExt::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids)
{
    return QuorvaneShlExtTypeInfo.GetIDsOfNames(names, count, lcid, ids);
}

STDMETHODIMP CQuorvaneShlExt::Invoke(DISPID member, REFIID, LCID lcid, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argumentError)
{
    return QuorvaneShlExtTypeInfo.Invoke(static_cast<IQuorvaneShlExt*>(this), member, lcid, flags,
                                         params, result, exception, argumentError);
}

STDMETHODIMP CQuorvaneShlExt::Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* dataObject, HKEY)
{
    // A second call replaces the first selection.
    Items.clear();
    IsRecycleBin = false;

    if (!dataObject)
        return E_INVALIDARG;
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium = {};
    medium.tymed = TYMED_HGLOBAL;
    if (SUCCEEDED(dataObject->GetData(&format, &medium))) {
        const UniqueStorageMedium release(&medium);
        return CollectDroppedFiles(medium.hGlobal);
    }
    // Without a file list only the Recycle Bin's own menu is the Recycle Bin: a drop (which
    // names its target folder) never is, and neither are other items without files.
    if (folder || !NamesRecycleBin(dataObject))
        return E_INVALIDARG;
    IsRecycleBin = true;
    return S_OK;
}

HRESULT CQuorvaneShlExt::CollectDroppedFiles(HGLOBAL files)
{
    auto drop = static_cast<HDROP>(::GlobalLock(files));
    if (!drop)
        return E_INVALIDARG;
    const UniqueGlobalLock unlock(files);
    const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    bool onlyDrives = true;
    for (UINT i = 0; i < count; ++i) {
        // The whole name, whatever its length: a name cut short could be another file.
        const UINT length = ::DragQueryFileW(drop, i, nullptr, 0);
        if (length == 0)
            continue;
        std::wstring name(length + 1, L'\0');
        if (::DragQueryFileW(drop, i, name.data(), length + 1) != length)
            continue;
        name.resize(length);
        onlyDrives = onlyDrives && IsVolumeRoot(Seam<ShredOs>::Active(), name);
        Items.push_back(SelectionName(name, CP_ACP, &::GetShortPathNameW));
    }
    // A drive's own menu has no entry to shred it; a drive among other items is refused and
    // reported when the job reaches it.
    if (onlyDrives)
        Items.clear();
    return Items.empty() ? E_INVALIDARG : S_OK;
}

STDMETHODIMP CQuorvaneShlExt::QueryContextMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst, UINT,
                                               UINT flags)
{
    if (flags & CMF_DEFAULTONLY)
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
    ::InsertMenuA(menu, indexMenu, MF_BYPOSITION | MF_STRING, idCmdFirst, MenuText);
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1);
}

STDMETHODIMP CQuorvaneShlExt::InvokeCommand(CMINVOKECOMMANDINFO* info)
{
    AFX_MANAGE_STATE(AfxGetStaticModuleState());
    // Only the command given by offset 0, and only for a selection that was made.
    if (!info || !IS_INTRESOURCE(info->lpVerb) || LOWORD(info->lpVerb) != 0)
        return E_INVALIDARG;
    if (Items.empty() && !IsRecycleBin)
        return E_INVALIDARG;
    CShredConfirmDlg confirm(IsRecycleBin, &Items, nullptr);
    confirm.DoModal();
    return S_OK;
}

STDMETHODIMP CQuorvaneShlExt::GetCommandString(UINT_PTR idCmd, UINT type, UINT*, CHAR* name,
                                               UINT cchMax)
{
    return CopyMenuHelpText(HelpText, idCmd, type, name, cchMax);
}
