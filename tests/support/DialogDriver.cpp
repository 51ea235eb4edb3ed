#include "DialogDriver.h"

#include "Captions.h"
#include "WaitUntil.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

// The text of a message box is the static control of this id.
constexpr int MessageBoxTextId = 0xFFFF;

HWND FindVisible(const char* windowClass, const char* caption)
{
    HWND window = ::FindWindowA(windowClass, caption);
    return window && ::IsWindowVisible(window) ? window : nullptr;
}

struct CaptionSearch
{
    const char* Caption;
    std::vector<HWND> Found;
};

// A callback of its own, not a lambda: on x86 the system calls it with its own convention.
BOOL CALLBACK AddIfVisibleWithCaption(HWND window, LPARAM found)
{
    auto* search = reinterpret_cast<CaptionSearch*>(found);
    if (::IsWindowVisible(window) && WindowText(window) == search->Caption)
        search->Found.push_back(window);
    return TRUE;
}

} // namespace

HWND WaitForDialog(const char* caption, DWORD timeoutMs)
{
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindVisible(nullptr, caption)) != nullptr; }, timeoutMs);
    return found;
}

bool WaitForDialogGone(const char* caption, DWORD timeoutMs)
{
    return WaitUntil([&] { return FindVisible(nullptr, caption) == nullptr; }, timeoutMs);
}

std::string ControlText(HWND dialog, int id)
{
    char text[1024] = {};
    ::SendDlgItemMessageA(dialog, id, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

std::string WindowText(HWND window)
{
    char text[256] = {};
    ::GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string WindowClass(HWND window)
{
    char name[64] = {};
    ::GetClassNameA(window, name, sizeof name);
    return name;
}

bool IsControlEnabled(HWND dialog, int id)
{
    return ::IsWindowEnabled(::GetDlgItem(dialog, id)) != FALSE;
}

bool IsChecked(HWND dialog, int id)
{
    return ::SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

int ComboSelection(HWND dialog, int id)
{
    return static_cast<int>(::SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0));
}

int ComboCount(HWND dialog, int id)
{
    return static_cast<int>(::SendDlgItemMessageA(dialog, id, CB_GETCOUNT, 0, 0));
}

std::string ComboItemText(HWND dialog, int id, int index)
{
    char text[256] = {};
    ::SendDlgItemMessageA(dialog, id, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
    return text;
}

void Click(HWND dialog, int id)
{
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

bool MouseClick(HWND dialog, int id)
{
    RECT area{};
    if (!::GetWindowRect(::GetDlgItem(dialog, id), &area))
        return false;
    // Absolute mouse coordinates run from 0 to 65535 across the primary screen.
    const int width = ::GetSystemMetrics(SM_CXSCREEN);
    const int height = ::GetSystemMetrics(SM_CYSCREEN);
    if (width <= 1 || height <= 1)
        return false;
    const int x = (area.left + area.right) / 2;
    const int y = (area.top + area.bottom) / 2;
    INPUT input[3] = {};
    for (INPUT& event : input)
        event.type = INPUT_MOUSE;
    input[0].mi.dx = (x * 65535 + (width - 1) / 2) / (width - 1);
    input[0].mi.dy = (y * 65535 + (height - 1) / 2) / (height - 1);
    input[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    input[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input[2].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    return ::SendInput(3, input, sizeof input[0]) == 3;
}

void SetControlText(HWND dialog, int id, const std::string& text)
{
    ::SendDlgItemMessageA(dialog, id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void SelectComboItem(HWND dialog, int id, int index)
{
    ::SendDlgItemMessageA(dialog, id, CB_SETCURSEL, index, 0);
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

HWND WaitForMessageBox(DWORD timeoutMs)
{
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindVisible(DialogClass, MessageBoxCaption)) != nullptr; },
              timeoutMs);
    return found;
}

std::string MessageBoxText(HWND box)
{
    return ControlText(box, MessageBoxTextId);
}

bool AnswerMessageBox(HWND box)
{
    ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return WaitUntil([box] { return !::IsWindow(box); }, 10000);
}

void SyncWith(HWND dialog)
{
    // A message sent from another thread is handled ahead of the posted ones, at the loop's
    // next look at its queue: the sends show that the loop is running and idle, and the pause
    // between them lets it dispatch what was posted before, the null message included.
    ::PostMessageA(dialog, WM_NULL, 0, 0);
    DWORD_PTR result = 0;
    ::SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
    ::Sleep(20);
    ::SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
}

std::vector<HWND> VisibleWindows(DWORD threadId, const char* caption)
{
    CaptionSearch search{caption, {}};
    ::EnumThreadWindows(threadId, AddIfVisibleWithCaption, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

GUITHREADINFO GuiThreadInfo(DWORD threadId)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    ::GetGUIThreadInfo(threadId, &info);
    return info;
}

UiThread::UiThread(std::function<void()> work, std::function<bool()> done)
    : finished(::CreateEventA(nullptr, TRUE, FALSE, nullptr))
{
    std::atomic<DWORD> id{0};
    thread = std::thread([this, work, done, &id] {
        id = ::GetCurrentThreadId();
        work();
        while (!done())
            ServeMessages(20);
        ::SetEvent(finished.Get());
    });
    while (id == 0)
        ::Sleep(1);
    threadId = id;
}

UiThread::~UiThread()
{
    thread.join();
}

bool UiThread::Join(DWORD timeoutMs)
{
    return ::WaitForSingleObject(finished.Get(), timeoutMs) == WAIT_OBJECT_0;
}

void UiThread::CancelUntilEnded(std::initializer_list<const char*> captions, const char* what)
{
    const bool ended = WaitUntil(
        [&] {
            if (Join(50))
                return true;
            for (const char* caption : captions)
                for (HWND window : VisibleWindows(threadId, caption))
                    ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            return false;
        },
        10000, 0);
    if (!ended) {
        std::fprintf(stderr, "%s did not end\n", what);
        std::_Exit(3);
    }
}

void DriveModalDialog(const char* caption, const char* servedCaption,
                      const std::function<void()>& modal, const std::function<void(HWND)>& drive)
{
    const Deadline deadline(20000);
    UiThread ui(modal, [deadline, servedCaption] {
        return !::FindWindowA(nullptr, servedCaption) || deadline.Passed();
    });
    HWND dialog = WaitForDialog(caption);
    EXPECT_NE(dialog, nullptr);
    if (dialog)
        drive(dialog);
    EXPECT_TRUE(ui.Join(25000));
}

DialogAnswerer::DialogAnswerer(const char* caption, int button, const char* watched,
                               bool answerBoxes)
    : thread([this, caption, button, watched, answerBoxes] {
          HWND last = nullptr;
          while (!stop) {
              HWND dialog = WaitForDialog(caption, 0);
              if (dialog && dialog != last) {
                  last = dialog;
                  ++answered;
                  Click(dialog, button);
              }
              if (watched && WaitForDialog(watched, 0))
                  watchedSeen = true;
              if (HWND box = answerBoxes ? WaitForMessageBox(0) : nullptr) {
                  ++boxes;
                  ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                  // Long enough for the box to go before it is looked for again.
                  ::Sleep(200);
              }
              ::Sleep(5);
          }
      })
{}

DialogAnswerer::~DialogAnswerer()
{
    stop = true;
    thread.join();
}
