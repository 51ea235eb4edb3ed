// Waiting, with a time limit, for something another thread or program does.
#pragma once

#include <windows.h>

#include <chrono>

// A moment a given number of milliseconds from its making.
class Deadline
{
public:
    explicit Deadline(DWORD timeoutMs)
        : end(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs))
    {}
    bool Passed() const { return std::chrono::steady_clock::now() > end; }

private:
    std::chrono::steady_clock::time_point end;
};

// How the waiting thread spends the time between two looks.
enum class WhileWaiting
{
    // Sleeps.
    Sleep,
    // Dispatches its messages and waits for the next, as a thread serving windows must.
    ServeMessages
};

// Dispatches every message waiting for this thread, then waits up to `waitMs` for another.
inline void ServeMessages(DWORD waitMs)
{
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, waitMs, QS_ALLINPUT);
}

// Looks at `condition` every `pollMs` until it holds (true) or the deadline has passed (false).
template <typename Condition>
bool WaitUntil(Condition condition, const Deadline& deadline, DWORD pollMs = 10,
               WhileWaiting between = WhileWaiting::Sleep)
{
    while (!condition()) {
        if (deadline.Passed())
            return false;
        if (between == WhileWaiting::ServeMessages)
            ServeMessages(pollMs);
        else
            ::Sleep(pollMs);
    }
    return true;
}

template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs, DWORD pollMs = 10,
               WhileWaiting between = WhileWaiting::Sleep)
{
    return WaitUntil(condition, Deadline(timeoutMs), pollMs, between);
}
