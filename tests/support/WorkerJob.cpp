#include "WorkerJob.h"

#include "RecordingWindow.h"

#include <gtest/gtest.h>

#include <stdexcept>

WorkerJob::WorkerJob(HWND progressWindow, const ShredSettings& settings, ShredOs* os)
    : progressWindow(progressWindow), settings(settings)
{
    if (os)
        seam.emplace(*os);
}

WorkerJob::~WorkerJob()
{
    Join();
}

void WorkerJob::Select(std::vector<std::string> paths)
{
    selection = std::make_shared<const std::vector<std::string>>(std::move(paths));
}

void WorkerJob::Start(const WorkerItem& item)
{
    auto* worker = static_cast<CShredThread*>(
        AfxBeginThread(RUNTIME_CLASS(CShredThread), THREAD_PRIORITY_NORMAL, WorkerStackReservation,
                       CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!worker)
        throw std::runtime_error("no worker");
    if (!item.IsRecycleBin)
        worker->ItemPath = item.Path;
    worker->IsRecycleBin = item.IsRecycleBin;
    worker->ItemIndex = item.Index;
    if (!item.IsRecycleBin)
        worker->Selection = selection;
    worker->SetSettings(settings);
    worker->ProgressWindow = progressWindow;
    // The worker deletes itself and closes its own handle: keep one of ours to wait on.
    UniqueHandle own;
    ::DuplicateHandle(::GetCurrentProcess(), worker->m_hThread, ::GetCurrentProcess(),
                      own.Receive(), 0, FALSE, DUPLICATE_SAME_ACCESS);
    threads.push_back(std::move(own));
    worker->ResumeThread();
}

void WorkerJob::Start(const std::vector<std::string>& paths)
{
    Select(paths);
    for (size_t i = 0; i < paths.size(); ++i)
        Start(WorkerItem{paths[i], static_cast<int32_t>(i), false});
}

bool WorkerJob::Join(DWORD timeoutMs)
{
    for (const UniqueHandle& thread : threads) {
        if (::WaitForSingleObject(thread.Get(), timeoutMs) != WAIT_OBJECT_0)
            return false;
    }
    return true;
}

std::vector<DWORD> WorkerJob::ExitCodes() const
{
    std::vector<DWORD> codes;
    for (const UniqueHandle& thread : threads) {
        DWORD code = STILL_ACTIVE;
        ::GetExitCodeThread(thread.Get(), &code);
        codes.push_back(code);
    }
    return codes;
}

Notifications RunJob(RecordingWindow& window, const ShredSettings& settings, ShredOs& os,
                     const std::vector<WorkerItem>& items, std::vector<DWORD>* exitCodes)
{
    WorkerJob job(window.Handle(), settings, &os);
    std::vector<std::string> selected;
    for (const WorkerItem& item : items)
        if (!item.IsRecycleBin)
            selected.push_back(item.Path);
    job.Select(selected);
    for (const WorkerItem& item : items)
        job.Start(item);
    EXPECT_TRUE(window.WaitForFinished(items.size()));
    EXPECT_TRUE(job.Join());
    if (exitCodes)
        *exitCodes = job.ExitCodes();
    return window.Received();
}
