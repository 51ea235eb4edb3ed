// A real window on a thread of its own that records the workers' notifications as the progress
// window receives them: sent ones while the worker waits, posted ones from its queue.
#pragma once

#include "Notification.h"

#include <condition_variable>
#include <mutex>
#include <thread>

class RecordingWindow
{
public:
    RecordingWindow();
    ~RecordingWindow();
    RecordingWindow(const RecordingWindow&) = delete;
    RecordingWindow& operator=(const RecordingWindow&) = delete;

    HWND Handle() const { return window; }

    // Waits until `count` StatusFinished have arrived, then until every message posted before
    // has been handled too. False on timeout.
    bool WaitForFinished(size_t count, DWORD timeoutMs = 60000);
    Notifications Received();
    // Returns once every message posted to the window before the call has been handled.
    bool Flush(DWORD timeoutMs = 60000);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Loop();
    void Record(const Notification& notification);

    std::thread thread;
    HWND window = nullptr;
    std::mutex lock;
    std::condition_variable changed;
    Notifications received;
    size_t finished = 0;
    size_t flushes = 0;
};
