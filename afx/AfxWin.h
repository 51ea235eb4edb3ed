// The small part of the dialog-and-thread framework this DLL is built on: runtime classes,
// worker threads, a critical section and its scoped lock, and the message box.
#pragma once

#include <windows.h>

class CObject;

// Names a class and creates its objects, so a thread can be started from its class alone.
struct CRuntimeClass
{
    const char* m_lpszClassName;
    CObject* (*m_pfnCreateObject)();

    CObject* CreateObject() const { return m_pfnCreateObject ? m_pfnCreateObject() : nullptr; }
};

class CObject
{
public:
    virtual ~CObject() = default;
    virtual CRuntimeClass* GetRuntimeClass() const = 0;
};

#define RUNTIME_CLASS(class_name) (&class_name::classRuntime)

#define DECLARE_DYNCREATE(class_name)                                                              \
public:                                                                                            \
    static CRuntimeClass classRuntime;                                                             \
    static CObject* CreateObject();                                                                \
    CRuntimeClass* GetRuntimeClass() const override;

#define IMPLEMENT_DYNCREATE(class_name)                                                            \
    CRuntimeClass class_name::classRuntime = {#class_name, &class_name::CreateObject};             \
    CObject* class_name::CreateObject()                                                            \
    {                                                                                              \
        return new class_name;                                                                     \
    }                                                                                              \
    CRuntimeClass* class_name::GetRuntimeClass() const                                             \
    {                                                                                              \
        return RUNTIME_CLASS(class_name);                                                          \
    }

// A thread whose object lives as long as the thread and, with m_bAutoDelete, deletes itself.
class CWinThread : public CObject
{
public:
    CWinThread() = default;
    ~CWinThread() override;
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    DWORD ResumeThread() { return ::ResumeThread(m_hThread); }

    virtual BOOL InitInstance() { return FALSE; }
    virtual int Run() { return ExitInstance(); }
    virtual int ExitInstance() { return 0; }

    HANDLE m_hThread = nullptr;
    BOOL m_bAutoDelete = TRUE;
    // The module holding the thread's code, kept loaded until the thread has left it.
    HMODULE m_hModuleReference = nullptr;
};

// Creates an object of the class and its thread; the thread starts unless CREATE_SUSPENDED is
// given. Returns null (and creates nothing that lasts) when either cannot be made.
CWinThread* AfxBeginThread(CRuntimeClass* threadClass, int priority = THREAD_PRIORITY_NORMAL,
                           UINT stackSize = 0, DWORD createFlags = 0,
                           LPSECURITY_ATTRIBUTES securityAttributes = nullptr);

// Ends the calling framework thread; deletes its object first when asked and auto-deleting.
[[noreturn]] void AfxEndThread(UINT exitCode, BOOL deleteThread = TRUE);

class CCriticalSection
{
public:
    CCriticalSection() { ::InitializeCriticalSection(&m_sect); }
    ~CCriticalSection() { ::DeleteCriticalSection(&m_sect); }
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    BOOL Lock()
    {
        ::EnterCriticalSection(&m_sect);
        return TRUE;
    }
    BOOL Unlock()
    {
        ::LeaveCriticalSection(&m_sect);
        return TRUE;
    }
    // Takes the section only when nobody holds it.
    BOOL TryLock() { return ::TryEnterCriticalSection(&m_sect); }

private:
    CRITICAL_SECTION m_sect;
};

// Holds a critical section until the end of the scope, or until Unlock.
class CSingleLock
{
public:
    CSingleLock(CCriticalSection* section, BOOL initialLock) : m_pSection(section)
    {
        if (initialLock)
            Lock();
    }
    ~CSingleLock() { Unlock(); }
    CSingleLock(const CSingleLock&) = delete;
    CSingleLock& operator=(const CSingleLock&) = delete;

    BOOL Lock()
    {
        if (!m_bLocked)
            m_bLocked = m_pSection->Lock();
        return TRUE;
    }
    BOOL Unlock()
    {
        if (m_bLocked)
            m_bLocked = !m_pSection->Unlock();
        return TRUE;
    }
    // Holds the section if nobody else does; TRUE when it is held.
    BOOL TryLock()
    {
        if (!m_bLocked)
            m_bLocked = m_pSection->TryLock();
        return m_bLocked;
    }

private:
    CCriticalSection* m_pSection;
    BOOL m_bLocked = FALSE;
};

// The owner of a modal dialog or box: the given parent's top-level window; with no parent, the
// last active popup of the calling thread's active window, so the window the user works in is
// disabled underneath. Null on a thread with no active window, such as a worker's.
HWND AfxGetSafeOwner(HWND parent);

// An OK-style message box with the module's name as caption, owned by AfxGetSafeOwner(null).
int AfxMessageBox(const char* text, UINT type = MB_OK, UINT helpId = 0);

// Where AfxMessageBox shows its box: the real MessageBoxA unless a test puts its own in place
// (Seam<AfxMessageBoxes>), which then sees the owner the box would have had.
class AfxMessageBoxes
{
public:
    virtual ~AfxMessageBoxes() = default;
    virtual int Show(HWND owner, const char* text, UINT type);
};
