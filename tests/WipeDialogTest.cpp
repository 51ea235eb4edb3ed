// The wipe's two windows. "Wipe Free Space": what it shows of the drive, its free space, the
// method and passes of the stored settings and the estimated time, what Options and Cancel change,
// and the launch behind OK (settings saved, the progress window opened, the worker started). No
// volume is ever written here: the confirmation's drive is a network path, which the started
// worker refuses before it touches anything. "Wiping Free Space...": the phase, the bytes, the
// rate and the time left as the job moves, Cancel and the close box asking the wipe to stop, and
// the one final box at the end.
#include "Captions.h"
#include "DialogDriver.h"
#include "MessageBoxAnswerer.h"
#include "TestOwners.h"
#include "TestSettings.h"
#include "WaitUntil.h"
#include "WipeOs.h"
#include "core/ShredThread.h"
#include "core/WipeJob.h"
#include "engine/WipeReport.h"
#include "resources/resource.h"
#include "ui/WipeConfirmDlg.h"
#include "ui/WipeProgressDlg.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr uint64_t MiB = 1ull << 20;
constexpr uint64_t GiB = 1ull << 30;
// Never a local volume: a worker started for it refuses it at once.
constexpr char NetworkRoot[] = "\\\\nowhere\\share\\";

WipeTarget Target()
{
    WipeTarget target;
    target.Root = NetworkRoot;
    target.Volume = "Q:";
    target.FileSystem = "NTFS";
    target.FreeBytes = static_cast<uint64_t>(25.3 * GiB);
    target.TotalBytes = 100 * GiB;
    target.WriteRate = 150.0 * MiB;
    return target;
}

DWORD StoredMethod()
{
    return StoredDword(StoredSettingsTree(), "ShreddingMethod", 0xFFFFFFFF);
}

// The estimate the dialog must show for the target at the stored passes.
std::string Estimate(int passes)
{
    const WipeTarget target = Target();
    return DurationText(static_cast<double>(target.FreeBytes) * passes / *target.WriteRate);
}

// Chooses the method in the settings dialog behind the confirmation's Options, and closes it
// with OK.
void ChooseMethod(HWND confirm, int method)
{
    Click(confirm, IDC_OPTIONS);
    HWND settings = WaitForDialog(SettingsCaption);
    ASSERT_NE(settings, nullptr);
    SelectComboItem(settings, IDC_METHOD, method);
    SyncWith(settings);
    Click(settings, IDOK);
    ASSERT_TRUE(WaitForDialogGone(SettingsCaption));
}

struct ConfirmRun
{
    INT_PTR Result = 0;
    std::shared_ptr<WipeJob> Job;
};

class WipeDialogTest : public ::testing::Test
{
protected:
    void SetUp() override { ::RegDeleteTreeA(HKEY_CURRENT_USER, ShredSettingsKey); }
    void TearDown() override { ::RegDeleteTreeA(HKEY_CURRENT_USER, ShredSettingsKey); }

    // Runs the confirmation on a stand-in shell thread, which then serves whatever window it
    // opened until it is gone; `drive` works the dialog from this thread.
    static ConfirmRun Confirm(const WipeTarget& target, const std::function<void(HWND)>& drive)
    {
        ConfirmRun run;
        DriveModalDialog(
            WipeConfirmCaption, WipeProgressCaption,
            [&] {
                CWipeConfirmDlg dialog(target);
                run.Result = dialog.DoModal();
                run.Job = dialog.Job;
            },
            drive);
        EXPECT_EQ(::FindWindowA(nullptr, WipeProgressCaption), nullptr);
        return run;
    }
};

// The progress window of a job of Q: this test moves by hand (from `phase`, when given), served
// by a stand-in shell thread until it destroys itself.
class ProgressWindowOf
{
public:
    explicit ProgressWindowOf(std::optional<WipePhase> phase = std::nullopt)
        : job(HandMovedJob(phase)),
          ui([this] { Open(); },
             [job = job] { return job->ProgressWindow && !::IsWindow(job->ProgressWindow); })
    {
        window = WaitForDialog(WipeProgressCaption);
    }
    // A window a failed test left open is ended as the worker would end it.
    ~ProgressWindowOf()
    {
        if (window && ::IsWindow(window)) {
            if (!job->Result())
                job->StoreResult(WipeResultOf(WipeOutcome::Cancelled));
            ::PostMessageA(window, WM_WIPE_DONE, 0, 0);
        }
    }
    ProgressWindowOf(const ProgressWindowOf&) = delete;
    ProgressWindowOf& operator=(const ProgressWindowOf&) = delete;

    HWND Window() const { return window; }
    WipeJob& Job() const { return *job; }
    // Lets at least one of the window's timer ticks pass.
    void Tick() const
    {
        ::Sleep(400);
        SyncWith(window);
    }
    bool Gone() { return ui.Join(10000); }
    // The worker's end: the result stored, then the window told.
    void End(const WipeResult& result) const
    {
        job->StoreResult(result);
        ::PostMessageA(window, WM_WIPE_DONE, 0, 0);
    }

private:
    static std::shared_ptr<WipeJob> HandMovedJob(std::optional<WipePhase> phase)
    {
        auto job = std::make_shared<WipeJob>();
        job->Root = "Q:\\";
        if (phase)
            job->Progress.SetPhase(*phase);
        return job;
    }

    void Open()
    {
        auto* dialog = new CWipeProgressDlg(job);
        ASSERT_TRUE(dialog->Create(IDD_WIPE_PROGRESS));
        dialog->ShowWindow(SW_SHOW);
        job->ProgressWindow = dialog->m_hWnd;
    }

    std::shared_ptr<WipeJob> job;
    HWND window = nullptr;
    UiThread ui;
};

} // namespace

TEST_F(WipeDialogTest, ConfirmationShowsTheDriveItsFreeSpaceTheMethodAndTheTime)
{
    ASSERT_TRUE(StoreSettings(SettingsOf(MethodRandomData, 3)));
    const ConfirmRun run = Confirm(Target(), [](HWND confirm) {
        char caption[64] = {};
        ::GetWindowTextA(confirm, caption, sizeof caption);
        EXPECT_STREQ(caption, WipeConfirmCaption);
        EXPECT_EQ(ControlText(confirm, IDOK), "OK");
        EXPECT_EQ(ControlText(confirm, IDCANCEL), "Cancel");
        EXPECT_EQ(ControlText(confirm, IDC_OPTIONS), "Options");
        EXPECT_EQ(ControlText(confirm, IDC_WIPE_DRIVE), "Q: (NTFS)");
        EXPECT_EQ(ControlText(confirm, IDC_WIPE_FREE), "25.3 GB of 100.0 GB");
        EXPECT_EQ(ControlText(confirm, IDC_WIPE_METHOD),
                  "Cryptographically strong random data, 3 passes");
        EXPECT_EQ(ControlText(confirm, IDC_WIPE_ESTIMATE), Estimate(3));
        EXPECT_EQ(Estimate(3), "about 9 minutes");
        // What the drive goes through meanwhile is said plainly.
        bool warned = false;
        for (HWND child = ::GetWindow(confirm, GW_CHILD); child;
             child = ::GetWindow(child, GW_HWNDNEXT)) {
            char text[512] = {};
            ::GetWindowTextA(child, text, sizeof text);
            const std::string shown = text;
            warned = warned ||
                     (shown.find("nearly full") != std::string::npos &&
                      shown.find("other programs may fail to write to it") != std::string::npos);
        }
        EXPECT_TRUE(warned);
        Click(confirm, IDCANCEL);
    });
    EXPECT_EQ(run.Result, IDCANCEL);
    EXPECT_EQ(run.Job, nullptr);
}

TEST_F(WipeDialogTest, OptionsChangeTheMethodAndTheEstimateAndCancelSavesNothing)
{
    ASSERT_TRUE(StoreSettings(SettingsOf(MethodRandomData, 1)));
    const ConfirmRun run = Confirm(Target(), [](HWND confirm) {
        EXPECT_EQ(ControlText(confirm, IDC_WIPE_ESTIMATE), Estimate(1));
        ASSERT_NO_FATAL_FAILURE(ChooseMethod(confirm, MethodGutmann));
        SyncWith(confirm);
        EXPECT_EQ(ControlText(confirm, IDC_WIPE_METHOD), GutmannText);
        EXPECT_EQ(ControlText(confirm, IDC_WIPE_ESTIMATE), Estimate(35));
        EXPECT_NE(Estimate(35), Estimate(1));
        Click(confirm, IDCANCEL);
    });
    EXPECT_EQ(run.Result, IDCANCEL);
    EXPECT_EQ(StoredMethod(), static_cast<DWORD>(MethodRandomData));
}

TEST_F(WipeDialogTest, WithoutATimedWriteTheEstimateSaysWhy)
{
    WipeTarget target = Target();
    target.WriteRate.reset();
    Confirm(target, [](HWND confirm) {
        EXPECT_EQ(ControlText(confirm, IDC_WIPE_ESTIMATE),
                  "unknown: a short write to the drive failed");
        Click(confirm, IDCANCEL);
    });
}

TEST_F(WipeDialogTest, OkSavesTheSettingsOpensTheProgressWindowAndStartsTheWipe)
{
    MessageBoxAnswerer boxes;
    ASSERT_TRUE(StoreSettings(SettingsOf(MethodRandomData, 1)));
    bool confirmHidden = false;
    const ConfirmRun run = Confirm(Target(), [&](HWND confirm) {
        ASSERT_NO_FATAL_FAILURE(ChooseMethod(confirm, MethodDoD));
        // A shred holds the lock meanwhile: the wipe waits for it with its window open.
        CSingleLock shredding(&CShredThread::ShredLock, TRUE);
        Click(confirm, IDOK);
        HWND progress = WaitForDialog(WipeProgressCaption, 5000);
        ASSERT_NE(progress, nullptr);
        confirmHidden = !::IsWindowVisible(confirm) || !::IsWindow(confirm);
        ::Sleep(300);
        SyncWith(progress);
        EXPECT_EQ(ControlText(progress, IDC_WIPE_PHASE),
                  "Waiting for a shred or another wipe to finish...");
        // Then the worker refuses the network path and the window ends with its box.
    });
    EXPECT_EQ(run.Result, IDOK);
    EXPECT_TRUE(confirmHidden);
    EXPECT_EQ(StoredMethod(), static_cast<DWORD>(MethodDoD));
    ASSERT_NE(run.Job, nullptr);
    EXPECT_EQ(run.Job->Root, NetworkRoot);
    EXPECT_EQ(run.Job->Options.Settings.ShreddingMethod, MethodDoD);
    ASSERT_TRUE(run.Job->Result());
    EXPECT_EQ(run.Job->Result()->Outcome, WipeOutcome::Refused);
    // Its one box said why.
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0], run.Job->Result()->Refusal);
    EXPECT_NE(boxes.Texts()[0].find("network path"), std::string::npos);
}

TEST_F(WipeDialogTest, ProgressWindowShowsPhaseBytesRateAndTimeLeft)
{
    MessageBoxAnswerer boxes;
    ProgressWindowOf window(WipePhase::Waiting);
    WipeProgress& progress = window.Job().Progress;
    ASSERT_NE(window.Window(), nullptr);
    HWND dialog = window.Window();
    EXPECT_EQ(ControlText(dialog, IDC_WIPE_PHASE),
              "Waiting for a shred or another wipe to finish...");
    EXPECT_EQ(ControlText(dialog, IDCANCEL), "Cancel");

    // 10 MiB of 40 MiB in a hundred seconds: about 102 KB a second, five minutes left.
    progress.BytesTotal = 40 * MiB;
    progress.BytesDone = 10 * MiB;
    progress.FillStartedTick = ::GetTickCount64() - 100000;
    progress.SetPhase(WipePhase::Filling);
    window.Tick();
    EXPECT_EQ(ControlText(dialog, IDC_WIPE_PHASE), "Overwriting the free space of Q:");
    EXPECT_EQ(ControlText(dialog, IDC_WIPE_DONE), "10.0 MB of 40.0 MB");
    const std::string rate = ControlText(dialog, IDC_WIPE_RATE);
    ASSERT_GT(rate.size(), 5u);
    EXPECT_EQ(rate.substr(rate.size() - 5), " KB/s") << rate;
    const double perSecond = std::atof(rate.c_str());
    EXPECT_GE(perSecond, 100.0) << rate;
    EXPECT_LE(perSecond, 102.4) << rate;
    EXPECT_EQ(ControlText(dialog, IDC_WIPE_LEFT), "about 6 minutes");
    EXPECT_EQ(::SendDlgItemMessageA(dialog, IDC_WIPE_BAR, PBM_GETPOS, 0, 0), 250);

    progress.Records = 1234;
    progress.SetPhase(WipePhase::Records);
    window.Tick();
    EXPECT_EQ(ControlText(dialog, IDC_WIPE_PHASE),
              "Overwriting the free file records of Q: (1,234 so far)");
    EXPECT_EQ(ControlText(dialog, IDC_WIPE_LEFT), "finishing");
    EXPECT_EQ(::SendDlgItemMessageA(dialog, IDC_WIPE_BAR, PBM_GETPOS, 0, 0), 1000);

    window.End(WipeResultOf(WipeOutcome::Wiped, 40 * MiB, 1234, "Q:"));
    ::PostMessageA(dialog, WM_WIPE_DONE, 0, 0);
    EXPECT_TRUE(window.Gone());
    // One box, with the result line, however often the end is told.
    EXPECT_EQ(boxes.Texts(),
              std::vector<std::string>{"Free space on Q: wiped: 40.0 MB, 1,234 file records"});
}

TEST_F(WipeDialogTest, CancelButtonAndCloseBoxAskTheWipeToStop)
{
    MessageBoxAnswerer boxes;
    for (const bool closeBox : {false, true}) {
        SCOPED_TRACE(closeBox ? "close box" : "Cancel button");
        ProgressWindowOf window(WipePhase::Filling);
        HWND dialog = window.Window();
        ASSERT_NE(dialog, nullptr);
        if (closeBox)
            ::PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        else
            Click(dialog, IDCANCEL);
        SyncWith(dialog);
        EXPECT_TRUE(window.Job().Progress.CancelRequested);
        EXPECT_FALSE(IsControlEnabled(dialog, IDCANCEL));
        EXPECT_EQ(ControlText(dialog, IDC_WIPE_PHASE), "Cancelling: deleting the filler files...");
        // It stays until the worker says it is done, and then goes without a box.
        window.Tick();
        EXPECT_TRUE(::IsWindowVisible(dialog));
        window.End(WipeResultOf(WipeOutcome::Cancelled, 3 * MiB, 0, "Q:"));
        EXPECT_TRUE(window.Gone());
    }
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(WipeDialogTest, FailuresAreListedInOneBoxAtTheEnd)
{
    MessageBoxAnswerer boxes;
    ProgressWindowOf window;
    ASSERT_NE(window.Window(), nullptr);
    WipeResult failed = WipeResultOf(WipeOutcome::Failed, 8 * MiB, 0, "Q:");
    failed.Failures = {{"Q:\\W\\Filler-000002.tmp", "could not be written: denied"},
                       {"Q:\\W", "could not be removed: busy"}};
    window.End(failed);
    EXPECT_TRUE(window.Gone());
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0], WipeResultBox(failed));
    EXPECT_NE(boxes.Texts()[0].find("Q:\\W\\Filler-000002.tmp: \ncould not be written: denied"),
              std::string::npos);
}
