// The application object of a DLL built on the framework subset: the process-attach and
// -detach handling runs its InitInstance and ExitInstance, and the framework keeps a count of
// the objects that need the module loaded.
#pragma once

#include <windows.h>

class CWinApp
{
public:
    explicit CWinApp(const char* appName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance() { return TRUE; }
    virtual int ExitInstance() { return 0; }

    HINSTANCE m_hInstance = nullptr;
};

CWinApp* AfxGetApp();

// Objects that outlive the call that created them (workers, modeless windows) hold the module
// loaded with these.
void AfxOleLockApp();
void AfxOleUnlockApp();
// S_OK when no such object is left, S_FALSE otherwise.
HRESULT AfxDllCanUnloadNow();
