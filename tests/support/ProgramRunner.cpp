#include "ProgramRunner.h"

#include "WaitUntil.h"

#include "common/TextConversion.h"
#include "common/Unique.h"

#include <algorithm>
#include <cstdio>

std::string FromUnixPath(const std::string& unixPath)
{
    std::string path = "\\\\?\\unix" + unixPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

bool CopyFromBuild(const std::string& unixPath, const std::string& path)
{
    return ::CopyFileA(FromUnixPath(unixPath).c_str(), path.c_str(), FALSE) != FALSE;
}

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

ProgramRun RunProgram(const std::string& commandLine, const std::string& directory, DWORD timeoutMs)
{
    return RunProgram(Widen(commandLine), Widen(directory), timeoutMs);
}

ProgramRun RunProgram(std::wstring commandLine, const std::wstring& directory, DWORD timeoutMs)
{
    ProgramRun run;
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    UniqueHandle readEnd;
    UniqueHandle writeEnd;
    if (!::CreatePipe(readEnd.Receive(), writeEnd.Receive(), &inheritable, 0))
        return run;
    ::SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.Get();
    startup.hStdError = writeEnd.Get();
    PROCESS_INFORMATION started = {};
    const bool isStarted = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0,
                                            nullptr, directory.c_str(), &startup, &started);
    // Only the child may hold the write end, or the pipe never reports its end.
    writeEnd.Reset();
    if (!isStarted) {
        run.Output = "cannot start: " + NarrowWithSubstitutes(commandLine);
        return run;
    }
    const UniqueHandle process(started.hProcess);
    const UniqueHandle thread(started.hThread);
    // Polled rather than read blindly, so nothing that inherited the pipe can block the test.
    auto drain = [&] {
        DWORD available = 0;
        while (::PeekNamedPipe(readEnd.Get(), nullptr, 0, nullptr, &available, nullptr) &&
               available) {
            char buffer[4096];
            DWORD read = 0;
            if (!::ReadFile(readEnd.Get(), buffer, std::min<DWORD>(available, sizeof buffer), &read,
                            nullptr) ||
                read == 0)
                break;
            run.Output.append(buffer, read);
        }
    };
    // Waiting on the process between the looks, the pipe drained at each.
    const bool ended = WaitUntil(
        [&] {
            drain();
            return ::WaitForSingleObject(process.Get(), 20) == WAIT_OBJECT_0;
        },
        timeoutMs, 0);
    if (ended) {
        ::GetExitCodeProcess(process.Get(), &run.ExitCode);
    } else {
        ::TerminateProcess(process.Get(), ProgramTimedOut);
        ::WaitForSingleObject(process.Get(), 10000);
    }
    drain();
    return run;
}

ProgramRun RunSystemProgram(const std::string& name, const std::string& arguments, DWORD timeoutMs)
{
    char system[MAX_PATH] = {};
    ::GetSystemDirectoryA(system, MAX_PATH);
    return RunProgram(Quoted(std::string(system) + "\\" + name) + " " + arguments, system,
                      timeoutMs);
}

DWORD Regsvr32(const std::string& options, const std::string& dll)
{
    const ProgramRun run = RunSystemProgram("regsvr32.exe", options + " " + Quoted(dll), 60000);
    // A failed registration is otherwise only a number in the test's log.
    if (run.ExitCode != 0)
        std::fprintf(stderr, "regsvr32 %s %s exited %lu: %s\n", options.c_str(), dll.c_str(),
                     run.ExitCode, run.Output.c_str());
    return run.ExitCode;
}
