// The DLL's application object, its four exported COM entry points, and the entry points
// rundll32 calls for a wipe of free space from a command line.
#include "afx/AfxApp.h"
#include "afx/AfxDialog.h"
#include "common/TextConversion.h"
#include "shellext/ClassTable.h"
#include "shellext/ServerModule.h"
#include "shellext/WipeCommand.h"

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

// rundll32 calls the wide one where the system has it, the narrow one else.
extern "C" void CALLBACK WipeFreeSpaceW(HWND, HINSTANCE, LPWSTR commandLine, int)
{
    RunWipeCommandLineAndExit(commandLine ? commandLine : L"");
}

extern "C" void CALLBACK WipeFreeSpace(HWND, HINSTANCE, LPSTR commandLine, int)
{
    RunWipeCommandLineAndExit(commandLine ? Widen(commandLine) : std::wstring());
}
