#include "core/ShredThread.h"
#include "engine/ShredOs.h"

#include "afx/AfxApp.h"
#include "common/TextConversion.h"
#include "engine/ShredNames.h"

IMPLEMENT_DYNCREATE(CShredThread)

CCriticalSection CShredThread::ShredLock;

namespace {

// Holds ShredLock for one item; released on every way out.
class ShredLockHolder
{
public:
    ShredLockHolder() { CShredThread::ShredLock.Lock(); }
    ~ShredLockHolder() { CShredThread::ShredLock.Unlock(); }
    ShredLockHolder(const ShredLockHolder&) = delete;
    ShredLockHolder& operator=(const ShredLockHolder&) = delete;
};

} // namespace

// The job's first random block may keep the provider loaded; the job's end lets it go.
class CShredThread::ProviderKeepAliveScope
{
public:
    explicit ProviderKeepAliveScope(CShredThread& worker) : worker(worker)
    {
        worker.ProviderKeepAliveDue = true;
    }
    ~ProviderKeepAliveScope()
    {
        worker.ProviderKeepAliveDue = false;
        worker.ProviderKeepAlive.Reset();
    }
    ProviderKeepAliveScope(const ProviderKeepAliveScope&) = delete;
    ProviderKeepAliveScope& operator=(const ProviderKeepAliveScope&) = delete;

private:
    CShredThread& worker;
};

CShredThread::CShredThread()
{
    m_bAutoDelete = TRUE;
    // The module must stay loaded while a worker lives.
    AfxOleLockApp();
}

CShredThread::~CShredThread()
{
    AfxOleUnlockApp();
}

void CShredThread::SetSettings(ShredSettings settings)
{
    Settings.ShreddingMethod = settings.ShreddingMethod;
    Settings.MangleDateAndTime = settings.MangleDateAndTime;
    Settings.OverwriteTails = settings.OverwriteTails;
    Settings.Passes = settings.Passes;
}

BOOL CShredThread::InitInstance()
{
    return TRUE;
}

int CShredThread::Run()
{
    // The job runs in a function of its own so that everything it holds is released before
    // the thread ends: AfxEndThread does not return.
    RunJob();
    AfxEndThread(0, TRUE);
}

int CShredThread::ExitInstance()
{
    return CWinThread::ExitInstance();
}

void CShredThread::RunJob()
{
    ShredLockHolder lock;
    // Ends before the lock does: the provider is let go before the next item starts.
    ProviderKeepAliveScope providerKeepAlive(*this);
    if (IsRecycleBin) {
        ShredRecycleBin();
    } else if (ShredItem(ItemPath) == 2) {
        SendStatus(StatusNetworkAborted);
    }
    SendStatus(StatusFinished);
}

int CShredThread::ShredItem(std::string path)
{
    int tailLength = 512;
    bool ntfs = false;
    if (!ProbeVolume(path, tailLength, ntfs))
        return 2;
    if (!IsShreddablePath(path)) {
        SendStatus(StatusInvalidArguments);
        return 1;
    }

    // One lookup tells whether the item exists, whether it is a folder and what kind of reparse
    // point it is, if any.
    WIN32_FIND_DATAW entry{};
    const std::wstring widePath = Widen(path);
    HANDLE found = Os->FindFirstFileW(widePath.c_str(), &entry);
    if (found == INVALID_HANDLE_VALUE) {
        if (::GetLastError() == ERROR_FILE_NOT_FOUND)
            SendStatus(StatusFileNotFound);
        return 1;
    }
    Os->FindClose(found);
    if (IsLink(entry))
        RemoveLink(path, entry.dwFileAttributes);
    else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        ShredDirectory(path, tailLength, ntfs);
    else
        ShredFile(path, tailLength, ntfs, std::string());
    return 1;
}

void CShredThread::RemoveLink(const std::string& path, DWORD attributes)
{
    // A symbolic link, junction or mount point: only the link is the user's to destroy, never
    // what it points to, so it is removed without being opened.
    const bool removed = (attributes & FILE_ATTRIBUTE_DIRECTORY)
                             ? Os->RemoveDirectoryA(path.c_str()) != FALSE
                             : Os->Remove(path.c_str()) == 0;
    SendStatus(removed ? StatusShredded : StatusRemoveFailed);
}
