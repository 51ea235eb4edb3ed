// Drives real dialogs from another thread, as a person would: finds them by caption once they
// are visible, reads control texts and states, types, selects and clicks.
#pragma once

#include "common/Unique.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

// Null on timeout. Waits until the dialog is visible, so its initialisation has finished.
HWND WaitForDialog(const char* caption, DWORD timeoutMs = 10000);
// Waits until no visible window of the caption is left; false on timeout.
bool WaitForDialogGone(const char* caption, DWORD timeoutMs = 10000);

std::string ControlText(HWND dialog, int id);
std::string WindowText(HWND window);
std::string WindowClass(HWND window);
bool IsControlEnabled(HWND dialog, int id);
bool IsChecked(HWND dialog, int id);
int ComboSelection(HWND dialog, int id);
std::string ComboItemText(HWND dialog, int id, int index);
int ComboCount(HWND dialog, int id);

// Posts the click, so a handler that opens another modal dialog does not block the caller.
void Click(HWND dialog, int id);
// Clicks the control with the system's mouse input at its centre on the screen, as a person
// does: a disabled window, or one under a modal dialog, does not take it. False when the input
// was refused.
bool MouseClick(HWND dialog, int id);
void SetControlText(HWND dialog, int id, const std::string& text);
// Selects an item and tells the dialog as a user's selection would.
void SelectComboItem(HWND dialog, int id, int index);
// A real message box of this module (caption "Orlenwick"), once visible; null on timeout.
HWND WaitForMessageBox(DWORD timeoutMs = 10000);
std::string MessageBoxText(HWND box);
// Presses OK in the box and waits until it has gone; false on timeout.
bool AnswerMessageBox(HWND box);
// Waits until every message posted to the dialog's thread before the call has been handled.
void SyncWith(HWND dialog);
// The visible top-level windows of a thread with this caption.
std::vector<HWND> VisibleWindows(DWORD threadId, const char* caption);
// The thread's active and focus windows, among others.
GUITHREADINFO GuiThreadInfo(DWORD threadId);

// A thread standing in for the shell's: runs `work` (which may show modal dialogs), then keeps
// serving messages until `done` holds, as the shell keeps serving a modeless progress window.
class UiThread
{
public:
    UiThread(
        std::function<void()> work, std::function<bool()> done = [] { return true; });
    ~UiThread();
    UiThread(const UiThread&) = delete;
    UiThread& operator=(const UiThread&) = delete;

    // False on timeout.
    bool Join(DWORD timeoutMs = 30000);
    DWORD ThreadId() const { return threadId; }
    // Cancels the thread's visible windows of these captions until it ends; a failed check must
    // leave no modal dialog behind for the next test, nor hang, so when it does not end within
    // 10 seconds the program exits with `what` said.
    void CancelUntilEnded(std::initializer_list<const char*> captions, const char* what);

private:
    std::thread thread;
    UniqueHandle finished;
    DWORD threadId = 0;
};

// Runs `modal` (a dialog's DoModal) on a stand-in shell thread, which then serves the window it
// opened, captioned `servedCaption`, until that is gone or 20 seconds have passed; `drive` works
// the dialog captioned `caption` from this thread. Fails the test when the dialog never shows or
// the thread does not end.
void DriveModalDialog(const char* caption, const char* servedCaption,
                      const std::function<void()>& modal, const std::function<void(HWND)>& drive);

// Stands in for the user on a thread of its own while it lives: presses `button` in each dialog
// captioned `caption` that appears, and notes whether a window captioned `watched` ever showed;
// with `answerBoxes`, also presses OK in each message box of this module.
class DialogAnswerer
{
public:
    DialogAnswerer(const char* caption, int button, const char* watched = nullptr,
                   bool answerBoxes = false);
    ~DialogAnswerer();
    DialogAnswerer(const DialogAnswerer&) = delete;
    DialogAnswerer& operator=(const DialogAnswerer&) = delete;

    int Answered() const { return answered; }
    int Boxes() const { return boxes; }
    bool WatchedSeen() const { return watchedSeen; }

private:
    std::atomic<bool> stop{false};
    std::atomic<int> answered{0};
    std::atomic<int> boxes{0};
    std::atomic<bool> watchedSeen{false};
    std::thread thread;
};
