#include "afx/AfxApp.h"

#include <atomic>

namespace {
CWinApp* application = nullptr;
std::atomic<long> applicationLocks{0};
} // namespace

CWinApp::CWinApp(const char*)
{
    application = this;
}

CWinApp::~CWinApp()
{
    if (application == this)
        application = nullptr;
}

CWinApp* AfxGetApp()
{
    return application;
}

void AfxOleLockApp()
{
    ++applicationLocks;
}

void AfxOleUnlockApp()
{
    --applicationLocks;
}

HRESULT AfxDllCanUnloadNow()
{
    return applicationLocks.load() == 0 ? S_OK : S_FALSE;
}
