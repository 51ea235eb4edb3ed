// Starts workers the way the launcher does: created suspended, given their job, resumed.
#pragma once

#include "Notification.h"
#include "common/Seam.h"
#include "common/Unique.h"
#include "core/ShredThread.h"
#include "engine/ShredOs.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct WorkerItem
{
    std::string Path;
    int32_t Index = 0;
    bool IsRecycleBin = false;
};

class WorkerJob
{
public:
    // With `os`, the workers' system calls go to it until the job object ends.
    WorkerJob(HWND progressWindow, const ShredSettings& settings, ShredOs* os = nullptr);
    ~WorkerJob();
    WorkerJob(const WorkerJob&) = delete;
    WorkerJob& operator=(const WorkerJob&) = delete;

    // The job's selection, which every worker started after it is given (as the launcher gives
    // every worker the whole selection).
    void Select(std::vector<std::string> paths);
    void Start(const WorkerItem& item);
    // Selects the paths and starts a worker for each.
    void Start(const std::vector<std::string>& paths);
    // Waits for every worker thread to end; false on timeout.
    bool Join(DWORD timeoutMs = 60000);
    std::vector<DWORD> ExitCodes() const;
    // The thread of the worker started `index`th, for as long as the job object lives.
    HANDLE Thread(size_t index) const { return threads.at(index).Get(); }

private:
    HWND progressWindow;
    ShredSettings settings;
    std::shared_ptr<const std::vector<std::string>> selection;
    std::optional<Seam<ShredOs>::Substitute> seam;
    std::vector<UniqueHandle> threads;
};

// The seam of a SeamedWorker, in place before the worker is made and until it is gone.
struct SeamInPlace
{
    explicit SeamInPlace(ShredOs& os) : Substitute(os) {}
    Seam<ShredOs>::Substitute Substitute;
};

// A worker whose engine functions the test calls on its own thread, every system call of it
// going to `os`.
class SeamedWorker : private SeamInPlace, public CShredThread
{
public:
    explicit SeamedWorker(ShredOs& os) : SeamInPlace(os) {}
    SeamedWorker(ShredOs& os, const ShredSettings& settings) : SeamInPlace(os)
    {
        SetSettings(settings);
    }
};

class RecordingWindow;

// One job of the items, each at its own index, reporting to the window, with the workers' system
// calls going to `os`; what the window received once every worker has finished. The workers'
// exit codes go to `exitCodes` when given.
Notifications RunJob(RecordingWindow& window, const ShredSettings& settings, ShredOs& os,
                     const std::vector<WorkerItem>& items, std::vector<DWORD>* exitCodes = nullptr);
