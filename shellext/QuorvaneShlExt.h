// The object the shell creates for a context menu: collects the selection, adds
// "Shred Item(s)", gives its help text, and runs the confirm dialog when it is chosen.
#pragma once

#include "engine/ShredNames.h"
#include "shellext/Guids.h"
#include "ui/ShredItemList.h"

#include <shlobj.h>

// The narrow name a selected item reaches the worker by: one that names exactly that item (its
// own or its short path), or, where none does, one the worker refuses.
std::string SelectionName(const std::wstring& name, UINT codePage, const ShortPathCall& shortPaths);

class CQuorvaneShlExt : public IQuorvaneShlExt, public IShellExtInit, public IContextMenu
{
public:
    // With an outer unknown the object lives inside an aggregate and forwards its counts there.
    explicit CQuorvaneShlExt(IUnknown* outer = nullptr);
    virtual ~CQuorvaneShlExt();
    CQuorvaneShlExt(const CQuorvaneShlExt&) = delete;
    CQuorvaneShlExt& operator=(const CQuorvaneShlExt&) = delete;

    // The instance creator of the class table: plain, or aggregated when `outer` is set.
    static HRESULT CreateObject(IUnknown* outer, REFIID riid, void** ppv);
    // Answers from this object's own interface list.
    HRESULT InternalQueryInterface(REFIID riid, void** ppv);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** typeInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                               DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

    // IShellExtInit
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* dataObject,
                            HKEY progId) override;

    // IContextMenu
    STDMETHODIMP QueryContextMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                                  UINT flags) override;
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) override;
    STDMETHODIMP GetCommandString(UINT_PTR idCmd, UINT type, UINT* reserved, CHAR* name,
                                  UINT cchMax) override;

    ShredItemList Items;
    bool IsRecycleBin = false;

private:
    HRESULT CollectDroppedFiles(HGLOBAL files);

    IUnknown* Outer;
    ULONG RefCount = 0;
};
