// The object the shell creates for a drive's context menu (registered under Drive): offers
// "Wipe Free Space" when the selection is exactly one volume's root, and asks the user about the
// wipe when it is chosen. It never shreds anything; the files' handler is another class.
#pragma once

#include <shlobj.h>

#include <string>

class CDriveWipeShlExt : public IShellExtInit, public IContextMenu
{
public:
    CDriveWipeShlExt();
    virtual ~CDriveWipeShlExt();
    CDriveWipeShlExt(const CDriveWipeShlExt&) = delete;
    CDriveWipeShlExt& operator=(const CDriveWipeShlExt&) = delete;

    // The instance creator of the class table; the class is not aggregated.
    static HRESULT CreateObject(IUnknown* outer, REFIID riid, void** ppv);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IShellExtInit
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* dataObject,
                            HKEY progId) override;

    // IContextMenu
    STDMETHODIMP QueryContextMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                                  UINT flags) override;
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) override;
    STDMETHODIMP GetCommandString(UINT_PTR idCmd, UINT type, UINT* reserved, CHAR* name,
                                  UINT cchMax) override;

    // The selected volume's root ("N:\"); empty until Initialize accepted a selection.
    std::string Root;

private:
    HRESULT CollectRoot(HGLOBAL files);

    ULONG RefCount = 0;
};
