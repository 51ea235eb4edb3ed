// Programs of the build run from inside Wine, as an installer or the shell would run them.
#pragma once

#include <windows.h>

#include <string>

constexpr DWORD ProgramTimedOut = 0xFFFFFFF0;

// The Windows path that reaches a file of the build, although no drive maps the Linux root.
std::string FromUnixPath(const std::string& unixPath);
// Copies a file of the build, named by its Unix path, to `path`; false when it cannot.
bool CopyFromBuild(const std::string& unixPath, const std::string& path);

std::string Quoted(const std::string& text);

struct ProgramRun
{
    DWORD ExitCode = ProgramTimedOut;
    std::string Output;
};

// Runs a program to its end (or ends it after the timeout), collecting its standard output. The
// wide form passes names outside the code page on whole.
ProgramRun RunProgram(std::wstring commandLine, const std::wstring& directory, DWORD timeoutMs);
ProgramRun RunProgram(const std::string& commandLine, const std::string& directory,
                      DWORD timeoutMs);

// A program of the prefix's 64-bit system folder, started there with `arguments`.
ProgramRun RunSystemProgram(const std::string& name, const std::string& arguments, DWORD timeoutMs);

// The prefix's own 64-bit regsvr32, as an installer runs it: options "/s" or "/u /s".
DWORD Regsvr32(const std::string& options, const std::string& dll);
