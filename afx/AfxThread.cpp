#include "AfxWin.h"

#include <process.h>

namespace {

// The framework thread object of each thread, so AfxEndThread knows what to delete.
thread_local CWinThread* currentThread = nullptr;

unsigned __stdcall ThreadEntry(void* parameter)
{
    auto* thread = static_cast<CWinThread*>(parameter);
    currentThread = thread;
    int exitCode = thread->InitInstance() ? thread->Run() : thread->ExitInstance();
    AfxEndThread(static_cast<UINT>(exitCode));
}

} // namespace

CWinThread::~CWinThread()
{
    if (m_hThread)
        ::CloseHandle(m_hThread);
}

CWinThread* AfxBeginThread(CRuntimeClass* threadClass, int priority, UINT stackSize,
                           DWORD createFlags, LPSECURITY_ATTRIBUTES securityAttributes)
{
    auto* thread = dynamic_cast<CWinThread*>(threadClass ? threadClass->CreateObject() : nullptr);
    if (!thread)
        return nullptr;
    // Whoever unloads this module once the thread object is gone must not pull the code from
    // under the thread's last instructions.
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                         reinterpret_cast<LPCSTR>(&ThreadEntry), &thread->m_hModuleReference);
    auto handle = _beginthreadex(securityAttributes, stackSize, &ThreadEntry, thread,
                                 createFlags | CREATE_SUSPENDED, nullptr);
    if (handle == 0) {
        if (thread->m_hModuleReference)
            ::FreeLibrary(thread->m_hModuleReference);
        delete thread;
        return nullptr;
    }
    thread->m_hThread = reinterpret_cast<HANDLE>(handle);
    ::SetThreadPriority(thread->m_hThread, priority);
    if (!(createFlags & CREATE_SUSPENDED))
        thread->ResumeThread();
    return thread;
}

void AfxEndThread(UINT exitCode, BOOL deleteThread)
{
    CWinThread* thread = currentThread;
    currentThread = nullptr;
    HMODULE module = thread ? thread->m_hModuleReference : nullptr;
    if (thread)
        thread->m_hModuleReference = nullptr;
    if (thread && deleteThread && thread->m_bAutoDelete)
        delete thread;
    if (module)
        ::FreeLibraryAndExitThread(module, exitCode);
    _endthreadex(exitCode);
}
