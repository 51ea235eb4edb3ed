#include "core/ShredThread.h"
#include "engine/ShredOs.h"

#include "afx/AfxApp.h"
#include "engine/ItemVolume.h"
#include "engine/ShredNames.h"

IMPLEMENT_DYNCREATE(CShredThread)

CCriticalSection CShredThread::ShredLock;

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
    CSingleLock lock(&ShredLock, TRUE);
    // Kept from the job's first random block, and let go while the lock is still held, before
    // the next item starts.
    ProviderKeepAliveDue = true;
    if (IsRecycleBin) {
        ShredRecycleBin();
    } else if (ShredItem(ItemPath) == 2) {
        ReportFailure(ItemPath, StatusNetworkAborted);
    }
    SendStatus(StatusFinished);
    ProviderKeepAliveDue = false;
    ProviderKeepAlive.Reset();
}

int CShredThread::ShredItem(std::string path)
{
    return ShredItem(path, NameRules::FromNarrow(path));
}

int CShredThread::ShredItem(const ShreddablePath& path)
{
    return ShredItem(path.Narrow(), path);
}

int CShredThread::ShredItem(const std::string& path, const std::optional<ShreddablePath>& item)
{
    int tailLength = 512;
    bool namedStreams = false;
    if (!ProbeVolume(path, tailLength, namedStreams))
        return 2;
    if (!item) {
        ReportFailure(path, StatusInvalidArguments);
        return 1;
    }
    // A drive is never walked: everything on it would go.
    if (IsVolumeRoot(Os(), item->Wide())) {
        ReportFailure(path, StatusVolumeRoot);
        return 1;
    }
    CurrentItem = item;
    ItemVolume = VolumeSerialOf(Os(), item->Wide());

    // One lookup tells whether the item exists, whether it is a folder and what kind of reparse
    // point it is, if any.
    WIN32_FIND_DATAW entry{};
    const bool found =
        OwnListing(Os(), Os().FindFirstFileW(item->Wide().c_str(), &entry)).IsValid();
    if (!found) {
        if (Os().GetLastError() == ERROR_FILE_NOT_FOUND)
            ReportFailure(path, StatusFileNotFound);
        return 1;
    }
    if (IsLink(entry))
        RemoveLink(*item, entry.dwFileAttributes, entry.dwReserved0);
    else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        ShredDirectory(*item, tailLength, namedStreams);
    else
        ShredFile(*item, tailLength, namedStreams, std::string());
    return 1;
}

bool CShredThread::RemoveLink(const ShreddablePath& path, DWORD attributes, DWORD reparseTag)
{
    // A link without a valid tag is one of Wine's Unix links, and Wine removes what such a link
    // points to in its place.
    if (reparseTag == 0) {
        ReportFailure(path.Narrow(), StatusLinkLeft);
        return false;
    }
    // A symbolic link, junction or mount point: only the link is the user's to destroy, never
    // what it points to, so it is removed without being opened.
    const bool removed = (attributes & FILE_ATTRIBUTE_DIRECTORY)
                             ? Os().RemoveDirectoryA(path.c_str()) != FALSE
                             : Os().Remove(path.c_str()) == 0;
    if (removed)
        SendStatus(StatusShredded);
    else
        ReportFailure(path.Narrow(), StatusRemoveFailed);
    return removed;
}
