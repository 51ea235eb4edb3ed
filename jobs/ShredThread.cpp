#include "jobs/ShredThread.h"

#include "afx/AfxApp.h"
#include "engine/ShredNames.h"

#include <shlwapi.h>

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
    if (!IsShreddableName(path)) {
        SendStatus(StatusInvalidArguments);
        return 1;
    }

    CFileFind finder;
    if (!finder.FindFile(path.c_str(), 0)) {
        if (::GetLastError() == ERROR_FILE_NOT_FOUND)
            SendStatus(StatusFileNotFound);
        return 1;
    }
    const DWORD attributes = Os->GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        RemoveLink(path, attributes);
    else if (::PathIsDirectoryA(path.c_str()))
        ShredDirectory(path, tailLength, ntfs);
    else
        ShredFile(path, tailLength, ntfs, std::string());
    finder.Close();
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
