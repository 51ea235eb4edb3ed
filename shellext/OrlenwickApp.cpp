// The DLL's application object and its four exported COM entry points.
#include "afx/AfxApp.h"
#include "afx/AfxDialog.h"
#include "shellext/ClassTable.h"
#include "shellext/ServerModule.h"

class COrlenwickApp : public CWinApp
{
public:
    COrlenwickApp() : CWinApp(nullptr) {}

    BOOL InitInstance() override
    {
        Module.Start(ClassTable, m_hInstance);
        return CWinApp::InitInstance();
    }

    int ExitInstance() override
    {
        Module.Stop();
        return CWinApp::ExitInstance();
    }
};

COrlenwickApp theApp;

STDAPI DllCanUnloadNow()
{
    AFX_MANAGE_STATE(AfxGetStaticModuleState());
    return AfxDllCanUnloadNow() == S_OK && Module.LockCount == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    return Module.FindClassObject(rclsid, riid, ppv);
}

STDAPI DllRegisterServer()
{
    return Module.RegisterClasses();
}

STDAPI DllUnregisterServer()
{
    return Module.UnregisterClasses();
}
