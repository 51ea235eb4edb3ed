// The free-space wipe from a command line, for administrators and scheduled tasks, through the
// DLL's own export:
//
//   rundll32.exe Orlenwick.dll,WipeFreeSpace <drive> [/quiet]
//
// The same confirmation, progress window and final box as the drive's menu; with /quiet no
// window at all, the user's settings as they are. Either way the process writes one result line
// on its standard output and ends with the status of WipeExitStatus.
#pragma once

#include <windows.h>

#include <string>

struct WipeCommand
{
    std::string Root; // "N:\"
    bool Quiet = false;
    // Why the command line is not understood; empty when it is.
    std::string Error;
};

constexpr char WipeCommandUsage[] =
    "usage: rundll32.exe Orlenwick.dll,WipeFreeSpace <drive> [/quiet]";

// One drive ("N:", "N:\", a volume's root path) and at most the one option, in any order.
WipeCommand ParseWipeCommand(const std::wstring& commandLine);

// Runs the command on this thread; the result line in `line`, and the exit status.
UINT RunWipeCommand(const WipeCommand& command, std::string& line);

// What the exported entry points do: runs the command line, writes the result line on the
// standard output, and ends the process with the status.
[[noreturn]] void RunWipeCommandLineAndExit(const std::wstring& commandLine);
