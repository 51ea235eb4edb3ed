#include "jobs/WipeThread.h"

#include "afx/AfxApp.h"
#include "common/Seam.h"
#include "core/ShredThread.h"
#include "engine/FreeSpaceWipe.h"
#include "engine/WipeReport.h"
#include "engine/WipeTarget.h"

namespace {

// How often a wipe waiting for the lock looks for a cancel.
constexpr DWORD LockPollMs = 50;

} // namespace

void RunWipeJob(WipeJob& job, ShredOs& os)
{
    job.Progress.SetPhase(WipePhase::Waiting);
    CSingleLock lock(&CShredThread::ShredLock, FALSE);
    while (!lock.TryLock()) {
        if (job.Progress.CancelRequested) {
            WipeResult cancelled;
            cancelled.Outcome = WipeOutcome::Cancelled;
            cancelled.Volume = VolumeNameOf(job.Root);
            job.Progress.SetPhase(WipePhase::Finished);
            job.StoreResult(cancelled);
            return;
        }
        ::Sleep(LockPollMs);
    }
    FreeSpaceWipe wipe(os, job.Options, job.Progress);
    job.StoreResult(wipe.Run(job.Root));
}

IMPLEMENT_DYNCREATE(CWipeThread)

CWipeThread::CWipeThread()
{
    m_bAutoDelete = TRUE;
    // The module must stay loaded while a worker lives.
    AfxOleLockApp();
}

CWipeThread::~CWipeThread()
{
    AfxOleUnlockApp();
}

int CWipeThread::Run()
{
    if (Job) {
        RunWipeJob(*Job, Seam<ShredOs>::Active());
        ::PostMessageA(Job->ProgressWindow, WM_WIPE_DONE, 0, 0);
        Job.reset();
    }
    AfxEndThread(0, TRUE);
}

void StartWipeWorker(const std::shared_ptr<WipeJob>& job)
{
    auto* worker = dynamic_cast<CWipeThread*>(
        AfxBeginThread(RUNTIME_CLASS(CWipeThread), THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED));
    if (!worker) {
        WipeResult failed;
        failed.Outcome = WipeOutcome::Failed;
        failed.Volume = VolumeNameOf(job->Root);
        failed.Failures.push_back(
            {job->Root, "the wipe could not be started: " + SystemErrorText(::GetLastError())});
        job->Progress.SetPhase(WipePhase::Finished);
        job->StoreResult(failed);
        ::PostMessageA(job->ProgressWindow, WM_WIPE_DONE, 0, 0);
        return;
    }
    worker->Job = job;
    worker->ResumeThread();
}
