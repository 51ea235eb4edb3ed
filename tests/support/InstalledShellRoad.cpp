#include "InstalledShellRoad.h"

#include <gtest/gtest.h>

InstalledShellRoad::~InstalledShellRoad()
{
    Uninstall();
}

void InstalledShellRoad::Install(const std::string& dll, const std::string& standIn,
                                 const std::string& standInUtf8)
{
    keysBefore = ShellKeysSnapshot::Take();
    folder = std::make_unique<TempFolder>();
    ASSERT_TRUE(CopyFromBuild(dll, Dll())) << dll;
    ASSERT_TRUE(CopyFromBuild(standIn, StandIn())) << standIn;
    if (!standInUtf8.empty()) {
        ASSERT_TRUE(CopyFromBuild(standInUtf8, StandInUtf8())) << standInUtf8;
    }
    ASSERT_EQ(0u, Regsvr32("/s", Dll()));
    registered = true;
}

void InstalledShellRoad::Uninstall()
{
    if (registered) {
        EXPECT_EQ(0u, Regsvr32("/u /s", Dll()));
    }
    if (folder)
        keysBefore.Restore();
    registered = false;
    folder.reset();
}

ProgramRun InstalledShellRoad::RunStandIn(const std::vector<std::string>& arguments,
                                          const std::string& directory) const
{
    std::string commandLine = Quoted(StandIn());
    for (const std::string& argument : arguments)
        commandLine += " " + (argument.rfind("--", 0) == 0 ? argument : Quoted(argument));
    return RunProgram(commandLine, directory, StandInTimeoutMs);
}

void ExpectCompleteRun(const ProgramRun& run, const char* answer)
{
    EXPECT_EQ(0u, run.ExitCode);
    EXPECT_NE(std::string::npos, run.Output.find("CoCreateInstance: 0x00000000"));
    EXPECT_NE(std::string::npos, run.Output.find("item 100 \"Shred Item(s)\""));
    EXPECT_NE(std::string::npos, run.Output.find(std::string("pressing ") + answer));
    EXPECT_NE(std::string::npos, run.Output.find("InvokeCommand: 0x00000000"));
    EXPECT_EQ(std::string::npos, run.Output.find("did not close in time"));
    EXPECT_NE(std::string::npos, run.Output.find("DllCanUnloadNow: S_OK"));
}

std::vector<std::string> AnsweredBoxes(const std::string& output)
{
    // The stand-in prints each as: message box: "<text>", the text running over lines; a pipe
    // takes its line ends as "\r\n".
    std::string text;
    for (const char c : output)
        if (c != '\r')
            text += c;
    constexpr char Opening[] = "message box: \"";
    std::vector<std::string> boxes;
    for (size_t at = text.find(Opening); at != std::string::npos; at = text.find(Opening, at)) {
        at += sizeof Opening - 1;
        const size_t end = text.find("\"\n", at);
        boxes.push_back(text.substr(at, end == std::string::npos ? end : end - at));
        at = end;
    }
    return boxes;
}
