// Who owns the dialogs and boxes, driven as a person would with real boxes: "Settings" is owned
// by "Confirm Shredding", which cannot be clicked while it is open; each box is owned by the
// window it was raised from, and a box raised on a worker thread by none.
#include "TestPaths.h"
#include "Captions.h"
#include "DialogDriver.h"
#include "FakeShredOs.h"
#include "MessageBoxAnswerer.h"
#include "ProgressWindow.h"
#include "SettingsRegistryInPlace.h"
#include "StoredSettingValues.h"
#include "TestFiles.h"
#include "TestSettings.h"
#include "WaitUntil.h"
#include "WorkerJob.h"
#include "core/ShredThread.h"
#include "resources/resource.h"
#include "ui/ShredConfirmDlg.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <thread>

namespace {

// How long a click is given to open a window that must not open.
constexpr DWORD RefusalWaitMs = 1000;

std::atomic<int> workersRun{0};
std::atomic<HWND> progressOwner{nullptr};

// Has nothing to shred: reports its item finished, as every worker ends.
class FinishingWorker : public CShredThread
{
    DECLARE_DYNCREATE(FinishingWorker)

public:
    int Run() override
    {
        ++workersRun;
        progressOwner = ::GetWindow(ProgressWindow, GW_OWNER);
        ::SendMessageA(ProgressWindow, WM_COMMAND,
                       MakeShredWParam(ItemIndex, ShredStatusCommand(StatusFinished)), 0);
        AfxEndThread(0);
    }
};

IMPLEMENT_DYNCREATE(FinishingWorker)

HWND Owner(HWND window)
{
    return ::GetWindow(window, GW_OWNER);
}

// "Confirm Shredding" over one file, run modally on a thread standing in for the shell's, which
// then serves the progress window until it is gone; its workers only report that they finished.
class ConfirmRun
{
public:
    ConfirmRun()
        : ui(
              [this] {
                  CShredConfirmDlg dialog(false, &items);
                  dialog.WorkerClass = RUNTIME_CLASS(FinishingWorker);
                  result = dialog.DoModal();
              },
              [deadline = Deadline(30000)] {
                  return !::FindWindowA(nullptr, ShredProgressCaption) || deadline.Passed();
              }),
          confirm(WaitForDialog(ShredConfirmCaption))
    {}

    ~ConfirmRun()
    {
        ui.CancelUntilEnded({MessageBoxCaption, SettingsCaption, ShredConfirmCaption},
                            "the confirm dialog's thread");
    }
    ConfirmRun(const ConfirmRun&) = delete;
    ConfirmRun& operator=(const ConfirmRun&) = delete;

    HWND Confirm() const { return confirm; }
    std::vector<HWND> Visible(const char* caption) const
    {
        return VisibleWindows(ui.ThreadId(), caption);
    }
    HWND ActiveWindow() const { return GuiThreadInfo(ui.ThreadId()).hwndActive; }

    // Opens "Settings" through "Options" and puts it beside the confirm dialog, where it
    // covers none of its buttons; null when it does not open.
    HWND OpenSettings() const
    {
        Click(confirm, IDC_OPTIONS);
        HWND settings = WaitForDialog(SettingsCaption);
        if (settings)
            MoveBeside(settings);
        return settings;
    }

    void MoveBeside(HWND settings) const
    {
        RECT area{};
        ::GetWindowRect(confirm, &area);
        ::SetWindowPos(settings, nullptr, area.right + 10, area.top, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    // True when no visible window above the confirm dialog, of this program or another of the
    // prefix, lies over the button's centre, so a click there reaches the confirm dialog or
    // nothing.
    bool ButtonUncovered(int id) const
    {
        RECT button{};
        ::GetWindowRect(::GetDlgItem(confirm, id), &button);
        const POINT centre{(button.left + button.right) / 2, (button.top + button.bottom) / 2};
        for (HWND above = ::GetWindow(confirm, GW_HWNDPREV); above;
             above = ::GetWindow(above, GW_HWNDPREV)) {
            RECT area{};
            if (::IsWindowVisible(above) && ::GetWindowRect(above, &area) &&
                ::PtInRect(&area, centre))
                return false;
        }
        return true;
    }

    // Presses a button of "Settings" and waits until it has gone; false on timeout.
    bool CloseSettings(HWND settings, int button) const
    {
        Click(settings, button);
        return WaitForDialogGone(SettingsCaption);
    }

    // Cancels the confirm dialog and waits for its thread to end; false on timeout.
    bool Cancel()
    {
        Click(confirm, IDCANCEL);
        return Join();
    }

    bool Join() { return ui.Join(20000); }
    INT_PTR Result() const { return result; }

private:
    const ShredItemList items{"T:\\a.txt"};
    INT_PTR result = 0;
    UiThread ui;
    HWND confirm;
};

class DialogOwnerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        workersRun = 0;
        progressOwner = nullptr;
    }

    const ClearedSettingsKey settingsKey;
};

} // namespace

TEST_F(DialogOwnerTest, SettingsIsOwnedByConfirmWhichStaysDisabledUntilSettingsCloses)
{
    ConfirmRun run;
    HWND confirm = run.Confirm();
    ASSERT_NE(confirm, nullptr);
    EXPECT_EQ(Owner(confirm), nullptr) << "no window was active on the shell thread";
    EXPECT_TRUE(::IsWindowEnabled(confirm));

    HWND settings = run.OpenSettings();
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(Owner(settings), confirm);
    EXPECT_FALSE(::IsWindowEnabled(confirm));
    EXPECT_EQ(run.ActiveWindow(), settings);

    ASSERT_TRUE(run.CloseSettings(settings, IDCANCEL));
    SyncWith(confirm);
    EXPECT_TRUE(::IsWindowEnabled(confirm));
    EXPECT_EQ(run.ActiveWindow(), confirm);

    ASSERT_TRUE(run.Cancel());
    EXPECT_EQ(run.Result(), IDCANCEL);
}

TEST_F(DialogOwnerTest, AMouseClickOnOptionsOpensSettingsOnceAndNotASecondTime)
{
    ConfirmRun run;
    HWND confirm = run.Confirm();
    ASSERT_NE(confirm, nullptr);

    // The click as a person makes it opens "Settings" while the confirm dialog takes input.
    ASSERT_TRUE(MouseClick(confirm, IDC_OPTIONS));
    HWND settings = WaitForDialog(SettingsCaption);
    ASSERT_NE(settings, nullptr) << "a mouse click does not reach the button";
    run.MoveBeside(settings);
    ASSERT_TRUE(run.ButtonUncovered(IDC_OPTIONS));

    ASSERT_TRUE(MouseClick(confirm, IDC_OPTIONS));
    EXPECT_FALSE(WaitUntil([&] { return run.Visible(SettingsCaption).size() >= 2; }, RefusalWaitMs))
        << "a second \"Settings\"";
    EXPECT_EQ(run.Visible(SettingsCaption), std::vector<HWND>{settings});

    ASSERT_TRUE(run.CloseSettings(settings, IDCANCEL));
    ASSERT_TRUE(run.Cancel());
    EXPECT_EQ(run.Result(), IDCANCEL);
}

TEST_F(DialogOwnerTest, OkInConfirmCannotBeClickedWhileSettingsIsOpenSoTheEditIsSaved)
{
    ConfirmRun run;
    HWND confirm = run.Confirm();
    ASSERT_NE(confirm, nullptr);
    HWND settings = run.OpenSettings();
    ASSERT_NE(settings, nullptr);
    ASSERT_TRUE(run.ButtonUncovered(IDOK));
    SetControlText(settings, IDC_PASSES, "9");

    ASSERT_TRUE(MouseClick(confirm, IDOK));
    WaitUntil([] { return workersRun != 0; }, RefusalWaitMs);
    EXPECT_EQ(workersRun.load(), 0) << "the run started";
    EXPECT_TRUE(::IsWindowVisible(confirm));
    EXPECT_TRUE(::IsWindowVisible(settings));

    ASSERT_TRUE(run.CloseSettings(settings, IDOK));
    SyncWith(confirm);
    // Now the same click starts the run, with the edit.
    ASSERT_TRUE(MouseClick(confirm, IDOK));
    ASSERT_TRUE(run.Join());
    EXPECT_EQ(run.Result(), IDOK);
    EXPECT_EQ(workersRun.load(), 1);
    EXPECT_EQ(progressOwner.load(), nullptr)
        << "the progress window must outlive the confirm dialog";
    ShredSettings stored;
    stored.Load();
    EXPECT_EQ(stored.Passes, 9);
}

TEST_F(DialogOwnerTest, ValidationBoxesAreOwnedBySettings)
{
    ConfirmRun run;
    HWND confirm = run.Confirm();
    ASSERT_NE(confirm, nullptr);
    HWND settings = run.OpenSettings();
    ASSERT_NE(settings, nullptr);

    const struct
    {
        const char* Passes;
        const char* Message;
    } cases[] = {{"0", "Please enter a whole number from 1 to 100."},
                 {"101", "Please enter a whole number from 1 to 100."},
                 {"abc", "Please enter a whole number."}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("passes \"") + c.Passes + "\"");
        SetControlText(settings, IDC_PASSES, c.Passes);
        Click(settings, IDOK);
        HWND box = WaitForMessageBox();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(MessageBoxText(box), c.Message);
        EXPECT_EQ(Owner(box), settings);
        EXPECT_FALSE(::IsWindowEnabled(settings));
        EXPECT_FALSE(::IsWindowEnabled(confirm));
        ASSERT_TRUE(AnswerMessageBox(box));
        SyncWith(settings);
        EXPECT_TRUE(::IsWindowVisible(settings)) << "a refused OK closes nothing";
        EXPECT_TRUE(::IsWindowEnabled(settings));
    }

    // Tests that answer boxes without windows see the owner the real box gets.
    {
        const MessageBoxAnswerer answerer;
        SetControlText(settings, IDC_PASSES, "0");
        Click(settings, IDOK);
        SyncWith(settings);
        EXPECT_EQ(answerer.Owners(), std::vector<HWND>{settings});
    }

    ASSERT_TRUE(run.CloseSettings(settings, IDCANCEL));
    ASSERT_TRUE(run.Cancel());
}

TEST_F(DialogOwnerTest, SaveFailureBoxIsOwnedByConfirmAndTheRunGoesOn)
{
    LockedRegistry locked;
    Seam<SettingsRegistry>::Substitute inPlace(locked);
    ConfirmRun run;
    HWND confirm = run.Confirm();
    ASSERT_NE(confirm, nullptr);

    Click(confirm, IDOK);
    HWND box = WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), SaveFailedText);
    EXPECT_EQ(Owner(box), confirm);
    EXPECT_FALSE(::IsWindowEnabled(confirm));
    EXPECT_TRUE(::IsWindowVisible(confirm)) << "the box comes before the confirm dialog hides";
    ASSERT_TRUE(AnswerMessageBox(box));

    ASSERT_TRUE(run.Join());
    EXPECT_EQ(run.Result(), IDOK);
    EXPECT_EQ(WaitForMessageBox(0), nullptr);
}

TEST_F(DialogOwnerTest, RenameBoxOfAWorkerHasNoOwnerWhileTheShellThreadHasAnActiveDialog)
{
    ConfirmRun run;
    HWND confirm = run.Confirm();
    ASSERT_NE(confirm, nullptr);
    ASSERT_EQ(run.ActiveWindow(), confirm);
    ASSERT_EQ(::GetForegroundWindow(), confirm);

    TempFolder folder;
    const std::string path = folder / "renamed.txt";
    WriteText(path, "contents");
    FakeShredOs os;
    os.RecordMessages = true;
    os.Script.FailAll(Call::Rename, EACCES);
    std::thread worker([&os, path] {
        SeamedWorker shredder(os, SettingsOf(MethodRandomData, 1, true, true));
        shredder.ShredFile(Shreddable(path), 512, false, "");
    });
    HWND box = WaitForMessageBox();
    EXPECT_NE(box, nullptr);
    if (box) {
        EXPECT_EQ(MessageBoxText(box), "Access violation");
        EXPECT_EQ(Owner(box), nullptr);
        EXPECT_TRUE(::IsWindowEnabled(confirm));
        EXPECT_TRUE(AnswerMessageBox(box));
    }
    worker.join();
    EXPECT_EQ(os.Renames().size(), 1u);

    ASSERT_TRUE(run.Cancel());
}

TEST(DialogOwnerProgress, FinalErrorBoxIsOwnedByTheActiveProgressWindowWhichCompletesOnce)
{
    ProgressWindow progress(false, {"T:\\a", "T:\\b"});
    ASSERT_NE(progress.Handle(), nullptr);
    EXPECT_EQ(Owner(progress.Handle()), nullptr);
    EXPECT_EQ(GuiThreadInfo(progress.ThreadId()).hwndActive, progress.Handle());
    progress.Statuses({{0, StatusAccessViolation}, {0, StatusFinished}});

    // The last worker waits in its notification until the box is answered; pass markers
    // posted before it are dispatched by the box's own loop.
    HWND box = nullptr;
    HWND owner = nullptr;
    std::string text;
    bool progressEnabled = true;
    std::thread person([&] {
        box = WaitForMessageBox();
        if (!box)
            return;
        owner = Owner(box);
        text = MessageBoxText(box);
        progressEnabled = ::IsWindowEnabled(progress.Handle()) != FALSE;
        AnswerMessageBox(box);
    });
    ::PostMessageA(progress.Handle(), WM_HOLD_UNTIL_SENT, 0, 0);
    for (int cycle = 0; cycle < 5; ++cycle)
        progress.PostPassMarker(1, cycle);
    progress.Status(1, StatusFinished);
    person.join();

    ASSERT_NE(box, nullptr);
    EXPECT_EQ(text, "Error(s) occured while deleting item(s): \n\nT:\\a: \nAccess Violation\n\n");
    EXPECT_EQ(owner, progress.Handle());
    EXPECT_FALSE(progressEnabled);
    EXPECT_FALSE(progress.IsOpen());
    EXPECT_EQ(progress.DestroyCalls(), 1);
    EXPECT_EQ(progress.Deletions(), 1);
    EXPECT_EQ(WaitForMessageBox(RefusalWaitMs), nullptr) << "a second final box";
}
