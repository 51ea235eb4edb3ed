// The wipe as users and administrators reach it, with the built DLL, on a volume of its own (a
// 128 MiB tmpfs mapped as a drive, new for every case): the drive's context menu through the
// shell road with the DLL registered (the one entry, the confirmation, the progress window and
// its end), rundll32's WipeFreeSpace quiet and with its windows, a cancel half-way through the
// progress window's button and its close box, and what the command line refuses, each with its
// exit status and its one result line.
#include "Captions.h"
#include "DialogDriver.h"
#include "InstalledShellRoad.h"
#include "ProgramRunner.h"
#include "TestFiles.h"
#include "TestSettings.h"
#include "TestVolume.h"
#include "VolumeRun.h"
#include "WaitUntil.h"
#include "WipeOs.h"
#include "common/TextConversion.h"
#include "core/ShredSettings.h"
#include "core/WipeJob.h"
#include "resources/resource.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD CommandTimeoutMs = 120000;

// The program's output without the line ends a pipe gives it.
std::vector<std::string> Lines(const std::string& output)
{
    std::vector<std::string> lines;
    std::istringstream text(output);
    for (std::string line; std::getline(text, line);) {
        line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
        lines.push_back(line);
    }
    return lines;
}

bool StartsWith(const std::string& text, const std::string& start)
{
    return text.rfind(start, 0) == 0;
}

class WipeShellRoadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(RequireMountedTestVolume(volume));
        ::RegDeleteTreeA(HKEY_CURRENT_USER, ShredSettingsKey);
        ASSERT_TRUE(StoreSettings(SettingsOf(MethodRandomData, 1)));
        ASSERT_TRUE(command.Copied());
        // What the user has on the volume, and one file deleted the ordinary way.
        MakeFolder(volume->Root + "Documents");
        WriteBytes(volume->Root + "Documents\\letter.doc", Pattern(70000, 1));
        WriteBytes(volume->Root + "photo.jpg", Pattern(3 << 20, 2));
        WriteBytes(volume->Root + "deleted.txt", Pattern(200000, 3));
        ASSERT_TRUE(::DeleteFileA((volume->Root + "deleted.txt").c_str()));
        before = SnapshotTree(Widen(volume->Drive));
        freeBefore = FreeBytesOf(*volume);
    }

    void TearDown() override { ::RegDeleteTreeA(HKEY_CURRENT_USER, ShredSettingsKey); }

    ProgramRun RunCommand(const std::string& arguments) const
    {
        return command.Run(arguments, CommandTimeoutMs);
    }

    // The volume as the case found it: the same files, the same free space, no wipe folder.
    void ExpectVolumeAsItWas() const
    {
        EXPECT_FALSE(Exists(volume->Root + WipeFolderName));
        EXPECT_EQ(FreeBytesOf(*volume), freeBefore);
        EXPECT_EQ(SnapshotTree(Widen(volume->Drive)), before);
    }

    std::string WipedLinePrefix() const { return "Free space on " + volume->Drive + " wiped: "; }

    std::optional<TestVolume> volume;
    const RundllWipe command{ORLENWICK_DLL_PATH};
    TreeSnapshot before;
    uint64_t freeBefore = 0;
};

} // namespace

TEST_F(WipeShellRoadTest, DrivesMenuOffersTheOneEntryAndWipesThroughItsWindows)
{
    InstalledShellRoad road;
    ASSERT_NO_FATAL_FAILURE(road.Install(ORLENWICK_DLL_PATH, ORLENWICK_STANDIN_PATH));

    // The root doubles its separator: quoted, a lone one before the quote would escape it.
    const ProgramRun run = road.RunStandIn(
        {"--handlers-of", "Drive", "--choose", WipeMenuText, "--confirm", volume->Root + "\\"},
        command.Folder());

    SCOPED_TRACE(run.Output);
    EXPECT_EQ(run.ExitCode, 0u);
    // The handler registered for drives is the DLL's own, and it offers exactly one entry.
    EXPECT_NE(run.Output.find("Drive handler {FD3B512D-299D-407B-AADC-6D4053C7212B}: "
                              "CoCreateInstance: 0x00000000"),
              std::string::npos);
    std::vector<std::string> entries;
    for (const std::string& line : Lines(run.Output))
        if (StartsWith(line, "menu: item "))
            entries.push_back(line);
    EXPECT_EQ(entries, std::vector<std::string>{"menu: item 100 \"Wipe Free Space\""});
    EXPECT_NE(run.Output.find("help text: \"Overwrite the free space of this drive\""),
              std::string::npos);
    EXPECT_NE(run.Output.find("confirm dialog: pressing OK"), std::string::npos);
    EXPECT_NE(run.Output.find("InvokeCommand: 0x00000000"), std::string::npos);
    EXPECT_NE(run.Output.find("progress window \"Wiping Free Space...\" open"), std::string::npos);
    EXPECT_NE(run.Output.find("progress window \"Wiping Free Space...\" closed"),
              std::string::npos);
    const std::vector<std::string> boxes = AnsweredBoxes(run.Output);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(StartsWith(boxes[0], WipedLinePrefix())) << boxes[0];
    EXPECT_NE(boxes[0].find(" file records"), std::string::npos) << boxes[0];
    EXPECT_NE(run.Output.find("DllCanUnloadNow: S_OK"), std::string::npos);
    ExpectVolumeAsItWas();
}

TEST_F(WipeShellRoadTest, QuietCommandLineWipesAndEndsWithStatusZeroAndOneLine)
{
    const ProgramRun run = RunCommand(volume->Drive + " /quiet");

    EXPECT_EQ(run.ExitCode, WipeExitWiped) << run.Output;
    const std::vector<std::string> lines = Lines(run.Output);
    ASSERT_EQ(lines.size(), 1u) << run.Output;
    EXPECT_TRUE(StartsWith(lines[0], WipedLinePrefix())) << lines[0];
    std::printf("%s\n", lines[0].c_str());
    ExpectVolumeAsItWas();
}

TEST_F(WipeShellRoadTest, CommandLineWithWindowsConfirmsShowsProgressAndTellsTheResult)
{
    ProgramRun run;
    std::thread command([&] { run = RunCommand(volume->Drive); });
    HWND confirm = WaitForDialog(WipeConfirmCaption, 30000);
    ASSERT_NE(confirm, nullptr);
    EXPECT_EQ(ControlText(confirm, IDC_WIPE_DRIVE).rfind(volume->Drive, 0), 0u);
    EXPECT_EQ(ControlText(confirm, IDC_WIPE_METHOD),
              "Cryptographically strong random data, 1 pass");
    // The short timed write worked (and its file is gone again: see the volume at the end).
    EXPECT_EQ(ControlText(confirm, IDC_WIPE_ESTIMATE), "less than a minute");
    Click(confirm, IDOK);
    // The window may be quick on a small volume: it is seen or its box is.
    HWND progress = WaitForDialog(WipeProgressCaption, 10000);
    HWND box = WaitForMessageBox(60000);
    ASSERT_NE(box, nullptr);
    EXPECT_NE(progress, nullptr);
    const std::string text = MessageBoxText(box);
    EXPECT_TRUE(StartsWith(text, WipedLinePrefix())) << text;
    EXPECT_TRUE(AnswerMessageBox(box));
    command.join();

    EXPECT_EQ(run.ExitCode, WipeExitWiped) << run.Output;
    EXPECT_EQ(Lines(run.Output), std::vector<std::string>{text});
    ExpectVolumeAsItWas();
}

TEST_F(WipeShellRoadTest, CancelHalfWayInTheProgressWindowStopsWithinASecondAndLeavesNothing)
{
    // Gutmann's 35 passes keep the wipe of this volume going for seconds.
    ASSERT_TRUE(StoreSettings(SettingsOf(MethodGutmann, 1)));
    for (const bool closeBox : {false, true}) {
        SCOPED_TRACE(closeBox ? "close box" : "Cancel button");
        ProgramRun run;
        std::thread command([&] { run = RunCommand(volume->Drive); });
        HWND confirm = WaitForDialog(WipeConfirmCaption, 30000);
        ASSERT_NE(confirm, nullptr);
        Click(confirm, IDOK);
        HWND progress = WaitForDialog(WipeProgressCaption, 10000);
        ASSERT_NE(progress, nullptr);
        // Half-way, as the window's own bar shows it.
        WaitUntil(
            [progress] {
                return !::IsWindow(progress) ||
                       ::SendDlgItemMessageA(progress, IDC_WIPE_BAR, PBM_GETPOS, 0, 0) >= 500;
            },
            60000, 20);
        ASSERT_TRUE(::IsWindow(progress)) << "the wipe ended before it was half-way";
        const auto position = ::SendDlgItemMessageA(progress, IDC_WIPE_BAR, PBM_GETPOS, 0, 0);
        EXPECT_LT(position, 1000);
        const Clock::time_point cancelled = Clock::now();
        if (closeBox)
            ::PostMessageA(progress, WM_SYSCOMMAND, SC_CLOSE, 0);
        else
            Click(progress, IDCANCEL);
        EXPECT_TRUE(WaitForDialogGone(WipeProgressCaption, 10000));
        const auto stopped =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - cancelled).count();
        command.join();

        EXPECT_LT(stopped, 1000) << "the window closed " << stopped << " ms after the cancel";
        std::printf("%s at %.1f%%: the wipe stopped, cleaned up and closed its window %lld ms "
                    "later\n",
                    closeBox ? "close box" : "Cancel", position / 10.0,
                    static_cast<long long>(stopped));
        EXPECT_EQ(run.ExitCode, WipeExitCancelled) << run.Output;
        const std::vector<std::string> lines = Lines(run.Output);
        ASSERT_EQ(lines.size(), 1u) << run.Output;
        EXPECT_TRUE(
            StartsWith(lines[0], "Free space on " + volume->Drive + " not wiped: cancelled after "))
            << lines[0];
        EXPECT_NE(lines[0].find("; every filler file deleted"), std::string::npos) << lines[0];
        ExpectVolumeAsItWas();
    }
}

TEST_F(WipeShellRoadTest, CommandLineRefusesWhatIsNoLocalVolumesRootWithItsStatus)
{
    MakeFolder(volume->Root + "Folder");
    before = SnapshotTree(Widen(volume->Drive));
    const struct
    {
        std::string Arguments;
        UINT Status;
        std::string Line;
    } refused[] = {
        {volume->Root + "Folder /quiet", WipeExitRefused,
         "Free space on " + volume->Root + "Folder not wiped: " + volume->Root +
             "Folder is not the root of a volume: only a whole volume's free space can be "
             "wiped."},
        {"\\\\server\\share /quiet", WipeExitRefused,
         "Free space on \\\\server\\share not wiped: \\\\server\\share is a network path: its "
         "free space can only be wiped on the computer that holds it."},
        {"/quiet", WipeExitUsage,
         "no drive given; usage: rundll32.exe Orlenwick.dll,WipeFreeSpace <drive> [/quiet]"},
    };
    for (const auto& command : refused) {
        const ProgramRun run = RunCommand(command.Arguments);
        EXPECT_EQ(run.ExitCode, command.Status) << command.Arguments;
        EXPECT_EQ(Lines(run.Output), std::vector<std::string>{command.Line});
    }
    // With its windows, the refusal is also told in a box.
    ProgramRun run;
    std::thread withWindows([&] { run = RunCommand("\\\\server\\share"); });
    HWND box = WaitForMessageBox(30000);
    ASSERT_NE(box, nullptr);
    EXPECT_NE(MessageBoxText(box).find("is a network path"), std::string::npos);
    EXPECT_TRUE(AnswerMessageBox(box));
    withWindows.join();
    EXPECT_EQ(run.ExitCode, WipeExitRefused);
    EXPECT_EQ(::FindWindowA(nullptr, WipeConfirmCaption), nullptr);
    ExpectVolumeAsItWas();
}
