// Keeps the Wine prefix's desktop in use while the tests run, without a window anyone can see,
// click or activate. Wine ends the desktop's process about a second after the last program using
// it has ended, and the next program that opens a window starts it again; that process inherits
// the program's output, and ctest waits for the output to close. A visible program kept for the
// purpose takes the foreground back whenever a test's window goes, and can lie over a test's
// dialog where the test clicks. A message-only window holds the desktop and is neither.
//
// Runs until the prefix's server ends it (scripts/wine-stop.sh).
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    HWND window =
        ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (!window)
        return 1;
    MSG message{};
    while (::GetMessageA(&message, nullptr, 0, 0) > 0)
        ::DispatchMessageA(&message);
    return 0;
}
