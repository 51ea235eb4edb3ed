#include "RecordingWindow.h"

#include <chrono>
#include <stdexcept>

namespace {
constexpr UINT WM_FLUSH = WM_APP + 77;
constexpr char WindowClass[] = "OrlenwickRecordingWindow";
} // namespace

RecordingWindow::RecordingWindow()
{
    std::mutex readyLock;
    std::condition_variable ready;
    bool created = false;
    thread = std::thread([&] {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = &RecordingWindow::WindowProc;
        windowClass.hInstance = ::GetModuleHandleA(nullptr);
        windowClass.lpszClassName = WindowClass;
        ::RegisterClassA(&windowClass);
        HWND handle = ::CreateWindowExA(0, WindowClass, "Recording", WS_OVERLAPPED, 0, 0, 10, 10,
                                        nullptr, nullptr, windowClass.hInstance, this);
        {
            std::lock_guard<std::mutex> guard(readyLock);
            window = handle;
            created = true;
        }
        ready.notify_all();
        if (handle)
            Loop();
    });
    std::unique_lock<std::mutex> guard(readyLock);
    ready.wait(guard, [&] { return created; });
    if (!window) {
        // Without a window every wait would only time out: say why at once.
        guard.unlock();
        thread.join();
        throw std::runtime_error("cannot create a window: is the prefix's null graphics "
                                 "driver set (scripts/wine-prefix.sh)?");
    }
}

RecordingWindow::~RecordingWindow()
{
    if (window)
        ::PostMessageA(window, WM_CLOSE, 0, 0);
    thread.join();
}

void RecordingWindow::Loop()
{
    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
}

LRESULT CALLBACK RecordingWindow::WindowProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        ::SetWindowLongPtrA(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<RecordingWindow*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
    case WM_COMMAND:
    case WM_SHRED_FILE:
        self->Record(DecodeNotification(message, wParam, lParam, !::InSendMessage()));
        return 0;
    case WM_FLUSH: {
        std::lock_guard<std::mutex> guard(self->lock);
        ++self->flushes;
        self->changed.notify_all();
        return 0;
    }
    case WM_CLOSE:
        ::DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    default:
        return ::DefWindowProcA(window, message, wParam, lParam);
    }
}

void RecordingWindow::Record(const Notification& notification)
{
    std::lock_guard<std::mutex> guard(lock);
    received.push_back(notification);
    if (notification.IsStatus(StatusFinished))
        ++finished;
    changed.notify_all();
}

bool RecordingWindow::Flush(DWORD timeoutMs)
{
    std::unique_lock<std::mutex> guard(lock);
    const size_t target = flushes + 1;
    ::PostMessageA(window, WM_FLUSH, 0, 0);
    return changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                            [&] { return flushes >= target; });
}

bool RecordingWindow::WaitForFinished(size_t count, DWORD timeoutMs)
{
    {
        std::unique_lock<std::mutex> guard(lock);
        if (!changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                              [&] { return finished >= count; }))
            return false;
    }
    return Flush(timeoutMs);
}

Notifications RecordingWindow::Received()
{
    std::lock_guard<std::mutex> guard(lock);
    return received;
}
