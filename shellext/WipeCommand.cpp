#include "shellext/WipeCommand.h"

#include "afx/AfxDialog.h"
#include "common/Seam.h"
#include "common/TextConversion.h"
#include "core/WipeJob.h"
#include "engine/ShredOs.h"
#include "engine/WipeReport.h"
#include "engine/WipeTarget.h"
#include "jobs/WipeThread.h"
#include "ui/WipeConfirmDlg.h"

#include <vector>

namespace {

// The command line's words; a quoted one keeps its blanks.
std::vector<std::wstring> Words(const std::wstring& line)
{
    std::vector<std::wstring> words;
    std::wstring word;
    bool quoted = false;
    bool inWord = false;
    for (const wchar_t c : line) {
        if (c == L'"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (c == L' ' || c == L'\t')) {
            if (inWord)
                words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(word);
    return words;
}

bool IsOption(const std::wstring& word)
{
    return word.size() > 1 && word[0] == L'/' && word[1] != L'/';
}

// Serves the progress window, as the shell's thread would, until the job has ended and its
// window is gone.
void ServeUntilDone(const WipeJob& job)
{
    while (!job.Result() || (job.ProgressWindow && ::IsWindow(job.ProgressWindow))) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        MSG message;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageA(&message);
        }
    }
}

WipeResult RunQuiet(const std::string& root)
{
    ShredOs& os = Seam<ShredOs>::Active();
    if (std::optional<std::string> refusal = WipeRefusal(os, root)) {
        WipeResult refused;
        refused.Outcome = WipeOutcome::Refused;
        refused.Volume = VolumeNameOf(root);
        refused.Refusal = *refusal;
        return refused;
    }
    WipeJob job;
    job.Root = root;
    job.Options.Settings.Load();
    RunWipeJob(job, os);
    return *job.Result();
}

WipeResult RunWithWindows(const std::string& root)
{
    std::string refusal;
    const std::shared_ptr<WipeJob> job = ConfirmWipe(root, &refusal);
    if (job) {
        ServeUntilDone(*job);
        return *job->Result();
    }
    WipeResult notStarted;
    notStarted.Volume = VolumeNameOf(root);
    notStarted.Outcome = refusal.empty() ? WipeOutcome::Cancelled : WipeOutcome::Refused;
    notStarted.Refusal = refusal;
    return notStarted;
}

// The line on the process's standard output, when it has one (a console, a file, a pipe).
void WriteLine(const std::string& line)
{
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (!out || out == INVALID_HANDLE_VALUE)
        return;
    const std::string text = line + "\r\n";
    DWORD written = 0;
    ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

} // namespace

WipeCommand ParseWipeCommand(const std::wstring& commandLine)
{
    WipeCommand command;
    std::vector<std::wstring> drives;
    for (const std::wstring& word : Words(commandLine)) {
        if (!IsOption(word)) {
            drives.push_back(word);
        } else if (::CompareStringOrdinal(word.c_str(), -1, L"/quiet", -1, TRUE) == CSTR_EQUAL) {
            command.Quiet = true;
        } else {
            command.Error = "unknown option " + NarrowWithSubstitutes(word);
            return command;
        }
    }
    if (drives.size() != 1) {
        command.Error = drives.empty() ? "no drive given" : "more than one drive given";
        return command;
    }
    const std::optional<std::string> narrow = NarrowExactly(drives.front());
    if (!narrow) {
        command.Error = "the drive's name does not convert to the system's code page";
        return command;
    }
    command.Root = WipeRootOf(*narrow);
    return command;
}

UINT RunWipeCommand(const WipeCommand& command, std::string& line)
{
    AFX_MANAGE_STATE(AfxGetStaticModuleState());
    if (!command.Error.empty()) {
        line = command.Error + "; " + WipeCommandUsage;
        return WipeExitUsage;
    }
    const WipeResult result = command.Quiet ? RunQuiet(command.Root) : RunWithWindows(command.Root);
    line = WipeResultLine(result);
    return ExitStatusOf(result.Outcome);
}

void RunWipeCommandLineAndExit(const std::wstring& commandLine)
{
    std::string line;
    const UINT status = RunWipeCommand(ParseWipeCommand(commandLine), line);
    WriteLine(line);
    // rundll32 ends with its own status whatever the entry point does: the status is the
    // process's only by ending it here.
    ::ExitProcess(status);
}
