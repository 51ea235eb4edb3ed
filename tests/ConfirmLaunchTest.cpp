// The confirm dialog and the launch behind its OK: what it shows, what Options and Cancel change,
// when the settings are saved, and the progress window and workers it starts, workers that
// record the job they were given instead of shredding.
#include "Captions.h"
#include "DialogDriver.h"
#include "MessageBoxAnswerer.h"
#include "RegistryKeys.h"
#include "SettingsRegistryInPlace.h"
#include "StoredSettingValues.h"
#include "TestOwners.h"
#include "WaitUntil.h"
#include "core/ShredThread.h"
#include "resources/resource.h"
#include "ui/ShredConfirmDlg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>

namespace {

// What one worker was given, as it saw it when it ran.
struct WorkerRecord
{
    int Sequence = 0; // creation order
    std::string ItemPath;
    int32_t ItemIndex = -1;
    bool IsRecycleBin = false;
    SettingValues Settings;
    HWND ProgressWindow = nullptr;
    bool ProgressVisible = false;
};

std::mutex workersLock;
std::vector<WorkerRecord> workerRecords;
std::atomic<int> workersCreated{0};
std::atomic<int> workersDeleted{0};

// Stands in for the shredding worker: reports its job, then finishes as a worker does.
class RecordingWorker : public CShredThread
{
    DECLARE_DYNCREATE(RecordingWorker)

public:
    RecordingWorker() : sequence(workersCreated++) {}
    ~RecordingWorker() override { ++workersDeleted; }

    int Run() override
    {
        {
            std::lock_guard<std::mutex> guard(workersLock);
            workerRecords.push_back(WorkerRecord{sequence, ItemPath, ItemIndex, IsRecycleBin,
                                                 Values(Settings), ProgressWindow,
                                                 ::IsWindowVisible(ProgressWindow) != FALSE});
        }
        ::SendMessageA(ProgressWindow, WM_COMMAND,
                       MakeShredWParam(ItemIndex, ShredStatusCommand(StatusFinished)), 0);
        AfxEndThread(0);
    }

private:
    int sequence;
};

IMPLEMENT_DYNCREATE(RecordingWorker)

std::atomic<int> creationAttempts{0};

CObject* CreateAllButTheSecond()
{
    return creationAttempts++ == 1 ? nullptr : RecordingWorker::CreateObject();
}

CObject* CreateNothing()
{
    ++creationAttempts;
    return nullptr;
}

CRuntimeClass SecondWorkerFails = {"SecondWorkerFails", &CreateAllButTheSecond};
CRuntimeClass NoWorkerCreated = {"NoWorkerCreated", &CreateNothing};

// What the shell thread's CBT hook saw when the progress window was being created.
struct CreationWatch
{
    HWND Confirm = nullptr;
    HWND Progress = nullptr;
    int ProgressCreations = 0;
    bool ConfirmVisibleAtProgress = true;
    SettingValues StoredAtProgress;
};

CreationWatch watch;

bool IsCaption(const CREATESTRUCTA* create, const char* caption)
{
    const char* name = create->lpszName;
    return name && !IS_INTRESOURCE(name) && std::strcmp(name, caption) == 0;
}

LRESULT CALLBACK WatchCreations(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        const CREATESTRUCTA* create = reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs;
        if (IsCaption(create, ShredConfirmCaption))
            watch.Confirm = reinterpret_cast<HWND>(wParam);
        if (IsCaption(create, ShredProgressCaption)) {
            watch.Progress = reinterpret_cast<HWND>(wParam);
            ++watch.ProgressCreations;
            watch.ConfirmVisibleAtProgress = ::IsWindowVisible(watch.Confirm) != FALSE;
            watch.StoredAtProgress = StoredSettingValues();
        }
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

struct LaunchResult
{
    INT_PTR DialogResult = 0;
    SettingValues DialogSettings;      // the confirm dialog's record when DoModal returned
    std::vector<WorkerRecord> Workers; // in creation order
    CreationWatch Watch;
};

class ConfirmLaunchTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ::RegDeleteTreeA(HKEY_CURRENT_USER, ShredSettingsKey);
        std::lock_guard<std::mutex> guard(workersLock);
        workerRecords.clear();
        workersCreated = 0;
        workersDeleted = 0;
        creationAttempts = 0;
    }

    void TearDown() override { ::RegDeleteTreeA(HKEY_CURRENT_USER, ShredSettingsKey); }

    // Runs the confirm dialog on a stand-in shell thread, which then serves the progress window
    // until it is gone; `drive` works the dialog from this thread.
    LaunchResult Launch(bool isRecycleBin, const ShredItemList& items,
                        const std::function<void(HWND)>& drive,
                        CRuntimeClass* workerClass = RUNTIME_CLASS(RecordingWorker))
    {
        watch = CreationWatch{};
        LaunchResult result;
        DriveModalDialog(
            ShredConfirmCaption, ShredProgressCaption,
            [&] {
                const UniqueHook hook(
                    ::SetWindowsHookExA(WH_CBT, &WatchCreations, nullptr, ::GetCurrentThreadId()));
                CShredConfirmDlg dialog(isRecycleBin, &items);
                dialog.WorkerClass = workerClass;
                result.DialogResult = dialog.DoModal();
                result.DialogSettings = Values(dialog.Settings);
            },
            drive);
        WaitUntil([] { return workersDeleted >= workersCreated; }, 5000, 5);
        EXPECT_EQ(workersDeleted.load(), workersCreated.load()) << "a worker did not end";
        EXPECT_EQ(::FindWindowA(nullptr, ShredProgressCaption), nullptr);

        result.Watch = watch;
        std::lock_guard<std::mutex> guard(workersLock);
        result.Workers = workerRecords;
        std::sort(
            result.Workers.begin(), result.Workers.end(),
            [](const WorkerRecord& a, const WorkerRecord& b) { return a.Sequence < b.Sequence; });
        return result;
    }

    static void PressOk(HWND confirm) { Click(confirm, IDOK); }
    static void ChangeAndPressOk(HWND confirm)
    {
        ChangeSettings(confirm, true);
        PressOk(confirm);
    }

    // Options, then every setting changed to ChangedValues, then OK or Cancel in "Settings".
    static void ChangeSettings(HWND confirm, bool keep)
    {
        Click(confirm, IDC_OPTIONS);
        HWND settings = WaitForDialog(SettingsCaption);
        ASSERT_NE(settings, nullptr);
        SelectComboItem(settings, IDC_METHOD, MethodDoD);
        ::SendDlgItemMessageA(settings, IDC_MANGLE, BM_SETCHECK, BST_CHECKED, 0);
        ::SendDlgItemMessageA(settings, IDC_TAILS, BM_SETCHECK, BST_CHECKED, 0);
        SetControlText(settings, IDC_PASSES, "9");
        SyncWith(settings);
        Click(settings, keep ? IDOK : IDCANCEL);
        ASSERT_TRUE(WaitForDialogGone(SettingsCaption));
    }

    // Every worker of the run, `count` of them, was given these settings.
    static void ExpectWorkersGot(const LaunchResult& result, size_t count,
                                 const SettingValues& settings)
    {
        ASSERT_EQ(result.Workers.size(), count);
        for (const WorkerRecord& worker : result.Workers)
            EXPECT_EQ(worker.Settings, settings) << worker.ItemIndex;
    }

    MessageBoxAnswerer boxes;
    const SettingValues ChangedValues{MethodDoD, 1, 1, 9};
    // What an absent key loads.
    const SettingValues DefaultValues{MethodRandomData, 0, 0, 1};
};

} // namespace

TEST_F(ConfirmLaunchTest, ShowsTheQuestionThreePlainButtonsAndTheIcon)
{
    const ShredItemList items{"T:\\a.txt"};
    const LaunchResult result = Launch(false, items, [](HWND confirm) {
        EXPECT_EQ(WindowText(confirm), ShredConfirmCaption);

        int buttons = 0;
        bool question = false;
        HICON icon = nullptr;
        // The controls are the dialog's own children, none nested.
        for (HWND child = ::GetWindow(confirm, GW_CHILD); child;
             child = ::GetWindow(child, GW_HWNDNEXT)) {
            const LONG style = ::GetWindowLongA(child, GWL_STYLE);
            const int id = ::GetDlgCtrlID(child);
            const std::string text = WindowText(child);
            if (WindowClass(child) == "Button") {
                ++buttons;
                EXPECT_EQ(style & BS_TYPEMASK, BS_PUSHBUTTON) << text;
                const char* expected = id == IDOK          ? "OK"
                                       : id == IDCANCEL    ? "Cancel"
                                       : id == IDC_OPTIONS ? "Options"
                                                           : "(unexpected button)";
                EXPECT_EQ(text, expected) << id;
            } else if ((style & SS_TYPEMASK) == SS_ICON) {
                icon = reinterpret_cast<HICON>(::SendMessageA(child, STM_GETICON, 0, 0));
            } else if (text == "Would you like to shred selected item(s)?") {
                question = true;
            }
        }
        EXPECT_EQ(buttons, 3);
        EXPECT_TRUE(question);
        EXPECT_NE(icon, nullptr);
        EXPECT_EQ(icon, ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_SHRED)));
        Click(confirm, IDCANCEL);
    });
    EXPECT_EQ(result.DialogResult, IDCANCEL);
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(ConfirmLaunchTest, SettingsCancelledInOptionsLeaveTheRunsSettingsAlone)
{
    const SettingValues stored{MethodGutmann, 0, 0, 5};
    ASSERT_TRUE(StoreSettings(SettingsOf(MethodGutmann, 5)));
    const ShredItemList items{"T:\\a.txt", "T:\\b.txt"};
    const LaunchResult result = Launch(false, items, [](HWND confirm) {
        ChangeSettings(confirm, false);
        PressOk(confirm);
    });

    EXPECT_EQ(result.DialogResult, IDOK);
    EXPECT_EQ(result.DialogSettings, stored);
    ExpectWorkersGot(result, 2, stored);
    EXPECT_EQ(StoredSettingValues(), stored);
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(ConfirmLaunchTest, ChangedSettingsThenCancelWriteNothingAndStartNothing)
{
    const ShredItemList items{"T:\\a.txt", "T:\\b.txt"};
    const LaunchResult result = Launch(false, items, [](HWND confirm) {
        ChangeSettings(confirm, true);
        Click(confirm, IDCANCEL);
    });

    EXPECT_EQ(result.DialogResult, IDCANCEL);
    EXPECT_EQ(result.DialogSettings, ChangedValues) << "the change never reached the dialog";
    EXPECT_TRUE(StoredSettingValues().empty()) << "the settings key was written";
    EXPECT_EQ(result.Watch.ProgressCreations, 0);
    EXPECT_EQ(workersCreated.load(), 0);
    EXPECT_EQ(Values(CShredConfirmDlg(false, &items).Settings), DefaultValues)
        << "the next run loads the old values";
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(ConfirmLaunchTest, ChangedSettingsThenOkAreSavedBeforeTheProgressWindowAndGivenToAll)
{
    const ShredItemList items{"T:\\a.txt", "T:\\b.txt", "T:\\c.txt"};
    const LaunchResult result = Launch(false, items, &ChangeAndPressOk);

    EXPECT_EQ(result.DialogResult, IDOK);
    EXPECT_EQ(result.Watch.ProgressCreations, 1);
    EXPECT_EQ(result.Watch.StoredAtProgress, ChangedValues);
    EXPECT_EQ(StoredSettingValues(), ChangedValues);
    ExpectWorkersGot(result, 3, ChangedValues);
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(ConfirmLaunchTest, ThreeFilesGiveOneProgressWindowAndWorkersInSelectionOrder)
{
    const ShredItemList items{"T:\\report final.doc", "C:\\data\\folder", "T:\\x"};
    const LaunchResult result = Launch(false, items, &PressOk);

    EXPECT_EQ(result.DialogResult, IDOK);
    EXPECT_EQ(result.Watch.ProgressCreations, 1);
    ASSERT_NE(result.Watch.Progress, nullptr);
    ASSERT_EQ(result.Workers.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const WorkerRecord& worker = result.Workers[i];
        EXPECT_EQ(worker.ItemIndex, i);
        EXPECT_EQ(worker.ItemPath, items[i]);
        EXPECT_FALSE(worker.IsRecycleBin);
        EXPECT_EQ(worker.ProgressWindow, result.Watch.Progress);
        EXPECT_TRUE(worker.ProgressVisible) << i;
    }
    EXPECT_EQ(result.Workers[0].Settings, DefaultValues);
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(ConfirmLaunchTest, RecycleBinGetsExactlyOneWorker)
{
    const ShredItemList noItems;
    const LaunchResult result = Launch(true, noItems, &PressOk);

    EXPECT_EQ(result.DialogResult, IDOK);
    EXPECT_EQ(result.Watch.ProgressCreations, 1);
    ASSERT_EQ(result.Workers.size(), 1u);
    EXPECT_EQ(result.Workers[0].ItemIndex, 0);
    EXPECT_EQ(result.Workers[0].ItemPath, "");
    EXPECT_TRUE(result.Workers[0].IsRecycleBin);
    EXPECT_EQ(result.Workers[0].ProgressWindow, result.Watch.Progress);
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(ConfirmLaunchTest, ConfirmIsHiddenBeforeTheProgressWindowIsCreated)
{
    const ShredItemList items{"T:\\a.txt"};
    const LaunchResult result = Launch(false, items, &PressOk);

    ASSERT_NE(result.Watch.Confirm, nullptr);
    EXPECT_EQ(result.Watch.ProgressCreations, 1);
    EXPECT_FALSE(result.Watch.ConfirmVisibleAtProgress);
}

namespace {

// Opens and creates the key as the real registry does, but cannot write values.
class ReadOnlyRegistry : public SettingsRegistry
{
public:
    LSTATUS SetValue(HKEY, const char*, DWORD, const BYTE*, DWORD) override
    {
        return ERROR_ACCESS_DENIED;
    }
};

} // namespace

TEST_F(ConfirmLaunchTest, AFailedSaveIsReportedOnceAndTheRunGoesOn)
{
    ReadOnlyRegistry readOnly;
    LockedRegistry locked;
    for (SettingsRegistry* registry :
         std::initializer_list<SettingsRegistry*>{&readOnly, &locked}) {
        SetUp();
        // Boxes of this pass only.
        MessageBoxAnswerer passBoxes;
        Seam<SettingsRegistry>::Substitute inPlace(*registry);
        const ShredItemList items{"T:\\a.txt", "T:\\b.txt"};
        const LaunchResult result = Launch(false, items, &ChangeAndPressOk);

        EXPECT_EQ(passBoxes.Texts(), std::vector<std::string>{SaveFailedText});
        EXPECT_EQ(result.Watch.ProgressCreations, 1);
        ExpectWorkersGot(result, 2, ChangedValues);
    }
}

TEST_F(ConfirmLaunchTest, AWorkerThatCannotBeCreatedIsReportedAndTheWindowStillCompletes)
{
    const ShredItemList items{"T:\\a.txt", "T:\\b.txt", "T:\\c.txt"};
    const LaunchResult result = Launch(false, items, &PressOk, &SecondWorkerFails);

    EXPECT_EQ(result.DialogResult, IDOK);
    EXPECT_EQ(creationAttempts.load(), 3);
    ASSERT_EQ(result.Workers.size(), 2u);
    EXPECT_EQ(result.Workers[0].ItemIndex, 0);
    EXPECT_EQ(result.Workers[1].ItemIndex, 2);
    EXPECT_EQ(result.Workers[1].ItemPath, items[2]);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Error(s) occured while deleting item(s): "
                                                      "\n\nT:\\b.txt: \nNo Available Handles\n\n"});
}

TEST_F(ConfirmLaunchTest, NoWorkerAtAllStillLetsTheWindowComplete)
{
    const ShredItemList items{"T:\\a.txt", "T:\\b.txt"};
    const LaunchResult result = Launch(false, items, &PressOk, &NoWorkerCreated);

    EXPECT_EQ(result.DialogResult, IDOK);
    EXPECT_EQ(creationAttempts.load(), 2);
    EXPECT_TRUE(result.Workers.empty());
    EXPECT_EQ(result.Watch.ProgressCreations, 1);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Error(s) occured while deleting item(s): "
                                                      "\n\nT:\\a.txt: \nNo Available Handles\n\n"
                                                      "T:\\b.txt: \nNo Available Handles\n\n"});
}
