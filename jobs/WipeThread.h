// The worker of a free-space wipe, and the wipe itself run under the process-wide lock of the
// shred jobs: a wipe and a shred never run at once.
#pragma once

#include "afx/AfxWin.h"
#include "core/WipeJob.h"

#include <memory>

class ShredOs;

// Runs the job's wipe on the calling thread once no shred or other wipe holds the lock, and
// stores the result in the job. A cancel while it waits ends it before anything is touched.
void RunWipeJob(WipeJob& job, ShredOs& os);

class CWipeThread : public CWinThread
{
    DECLARE_DYNCREATE(CWipeThread)

public:
    CWipeThread();
    ~CWipeThread() override;

    BOOL InitInstance() override { return TRUE; }
    // Runs the wipe, posts WM_WIPE_DONE to the job's window, then ends the thread and deletes
    // the worker; never returns.
    int Run() override;

    std::shared_ptr<WipeJob> Job;
};

// Starts a worker for the job. When no thread can be made, the job gets a failed result and its
// window is told at once, as it would be by a worker.
void StartWipeWorker(const std::shared_ptr<WipeJob>& job);
