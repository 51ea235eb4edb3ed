// The shell road as the tests take it: the built DLL and the shell stand-ins copied into a
// temporary folder of their own, the DLL registered with the prefix's regsvr32 as an installer
// leaves it, and the stand-in run on a selection; the registration and the shell keys it created
// removed again at the end.
#pragma once

#include "ProgramRunner.h"
#include "ShellKeys.h"
#include "TestFiles.h"

#include <memory>
#include <string>
#include <vector>

class InstalledShellRoad
{
public:
    InstalledShellRoad() = default;
    ~InstalledShellRoad();
    InstalledShellRoad(const InstalledShellRoad&) = delete;
    InstalledShellRoad& operator=(const InstalledShellRoad&) = delete;

    // Copies the modules from their Unix paths in the build (the UTF-8 stand-in only when named)
    // and registers the DLL; a step that fails fails the running test.
    void Install(const std::string& dll, const std::string& standIn,
                 const std::string& standInUtf8 = "");
    // Unregisters the DLL and restores the shell keys; the folder goes with the object.
    void Uninstall();

    std::string Dll() const { return *folder / "Orlenwick.dll"; }
    std::string StandIn() const { return *folder / "ShellStandIn.exe"; }
    // The shell as it runs where the ANSI code page is UTF-8.
    std::string StandInUtf8() const { return *folder / "ShellStandInUtf8.exe"; }

    // The stand-in with its options ("--confirm", "--bin"...) as they are and every other
    // argument quoted, started in `directory`.
    ProgramRun RunStandIn(const std::vector<std::string>& arguments,
                          const std::string& directory) const;

private:
    std::unique_ptr<TempFolder> folder;
    ShellKeysSnapshot keysBefore;
    bool registered = false;
};

constexpr DWORD StandInTimeoutMs = 120000;

// A run that went the whole way: the handler was created, its menu built, its command invoked
// with the confirm dialog answered so, and the server could be unloaded at the end.
void ExpectCompleteRun(const ProgramRun& run, const char* answer);

// The texts of the message boxes the stand-in answered, in order.
std::vector<std::string> AnsweredBoxes(const std::string& output);
