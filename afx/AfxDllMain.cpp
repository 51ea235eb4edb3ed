// The DLL entry point of a module built on the framework subset: starts and stops its
// application object. Linked only into the DLL.
#include "afx/AfxApp.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    CWinApp* app = AfxGetApp();
    if (!app)
        return reason != DLL_PROCESS_ATTACH;
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        ::DisableThreadLibraryCalls(instance);
        app->m_hInstance = instance;
        return app->InitInstance();
    case DLL_PROCESS_DETACH:
        app->ExitInstance();
        return TRUE;
    default:
        return TRUE;
    }
}
