// The "Settings" dialog driven as a person would: what it shows for a record, how the passes
// edit follows the method, which passes it refuses and how, what OK and Cancel leave in the
// record, and that F1 does nothing.
#include "Captions.h"
#include "DialogDriver.h"
#include "MessageBoxAnswerer.h"
#include "TestSettings.h"
#include "TestOwners.h"
#include "resources/resource.h"
#include "ui/ShredSettingsDlg.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <memory>
#include <string>
#include <vector>

namespace {

// The numbers a message names, in order: the range message names 1 and 100, the one asking
// for an integer names none.
std::vector<std::string> NumbersIn(const std::string& text)
{
    std::vector<std::string> numbers;
    std::string current;
    for (const char c : text + " ") {
        if (std::isdigit(static_cast<unsigned char>(c))) {
            current += c;
        } else if (!current.empty()) {
            numbers.push_back(current);
            current.clear();
        }
    }
    return numbers;
}

const std::vector<std::string> RangeNumbers{"1", "100"};

std::atomic<int> ownerHelpCount{0};
std::atomic<int> dialogHelpCount{0};
std::atomic<HWND> watchedDialog{nullptr};

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_HELP)
        ++ownerHelpCount;
    return ::DefWindowProcA(window, message, wParam, lParam);
}

// Sees every message sent on the dialog's thread, so a test knows F1 did reach the dialog.
LRESULT CALLBACK HelpWatch(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && sent->message == WM_HELP && sent->hwnd == watchedDialog.load())
        ++dialogHelpCount;
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

HWND CreateOwner()
{
    static const ATOM registered = [] {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = OwnerProc;
        windowClass.hInstance = ::GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "SettingsDialogTestOwner";
        return ::RegisterClassA(&windowClass);
    }();
    (void)registered;
    return ::CreateWindowA("SettingsDialogTestOwner", "Owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                           nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
}

void Toggle(HWND dialog, int id)
{
    ::SendDlgItemMessageA(dialog, id, BM_CLICK, 0, 0);
}

LONG ButtonType(HWND dialog, int id)
{
    return ::GetWindowLongA(::GetDlgItem(dialog, id), GWL_STYLE) & BS_TYPEMASK;
}

class SettingsDialogTest : public ::testing::Test
{
protected:
    // Runs the dialog over a record of these values on a thread standing in for the shell's;
    // null when it does not appear.
    HWND Open(const ShredSettings& fields, bool withOwner = false)
    {
        Finish();
        record = fields;
        before = SettingsText(record);
        ui = std::make_unique<UiThread>([this, withOwner] {
            const HWND ownerWindow = withOwner ? CreateOwner() : nullptr;
            const UniqueHook watch(withOwner ? ::SetWindowsHookExA(WH_CALLWNDPROC, HelpWatch,
                                                                   nullptr, ::GetCurrentThreadId())
                                             : nullptr);
            CWnd owner;
            owner.m_hWnd = ownerWindow;
            CShredSettingsDlg dialog(&record, withOwner ? &owner : nullptr);
            live = &dialog;
            result = dialog.DoModal();
            live = nullptr;
            if (ownerWindow)
                ::DestroyWindow(ownerWindow);
        });
        return WaitForDialog(SettingsCaption);
    }

    // Presses the button and waits for the dialog to end; its DoModal result, or 0.
    INT_PTR Press(HWND dialog, int button)
    {
        Click(dialog, button);
        if (!ui->Join(10000))
            return 0;
        ui.reset();
        return result;
    }

    // Presses OK expecting a refusal; true when the dialog is still there afterwards.
    bool RefusedOk(HWND dialog)
    {
        Click(dialog, IDOK);
        SyncWith(dialog);
        return ::IsWindowVisible(dialog) && !ui->Join(0);
    }

    HWND Focus() const { return GuiThreadInfo(ui->ThreadId()).hwndFocus; }

    void TearDown() override { Finish(); }

    void Finish()
    {
        if (ui)
            ui->CancelUntilEnded({SettingsCaption}, "the settings dialog");
        ui.reset();
    }

    MessageBoxAnswerer boxes;
    ShredSettings record;
    std::string before;
    std::atomic<CShredSettingsDlg*> live{nullptr};
    INT_PTR result = 0;
    std::unique_ptr<UiThread> ui;
};

TEST_F(SettingsDialogTest, OpensShowingTheRecordWithTheFocusOnTheDefaultOkButton)
{
    HWND dialog = Open(SettingsOf(MethodRandomData, 3, false, true));
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(WindowText(dialog), SettingsCaption);
    ASSERT_EQ(ComboCount(dialog, IDC_METHOD), 3);
    EXPECT_EQ(ComboItemText(dialog, IDC_METHOD, 0), RandomDataText);
    EXPECT_EQ(ComboItemText(dialog, IDC_METHOD, 1), DoDText);
    EXPECT_EQ(ComboItemText(dialog, IDC_METHOD, 2), GutmannText);
    EXPECT_EQ(ComboSelection(dialog, IDC_METHOD), 0);
    EXPECT_TRUE(IsChecked(dialog, IDC_MANGLE));
    EXPECT_FALSE(IsChecked(dialog, IDC_TAILS));
    EXPECT_EQ(ControlText(dialog, IDC_PASSES), "3");
    EXPECT_TRUE(IsControlEnabled(dialog, IDC_PASSES));
    EXPECT_EQ(ButtonType(dialog, IDOK), BS_DEFPUSHBUTTON);
    EXPECT_EQ(ButtonType(dialog, IDCANCEL), BS_PUSHBUTTON);
    EXPECT_EQ(Focus(), ::GetDlgItem(dialog, IDOK));

    EXPECT_EQ(Press(dialog, IDCANCEL), IDCANCEL);
    EXPECT_EQ(SettingsText(record), before);
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(SettingsDialogTest, PassesEditIsEnabledOnlyForRandomData)
{
    HWND dialog = Open(SettingsOf(MethodDoD, 42, true, false));
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ComboSelection(dialog, IDC_METHOD), 1);
    EXPECT_EQ(ControlText(dialog, IDC_PASSES), "42");
    EXPECT_FALSE(IsControlEnabled(dialog, IDC_PASSES));
    EXPECT_FALSE(IsChecked(dialog, IDC_MANGLE));
    EXPECT_TRUE(IsChecked(dialog, IDC_TAILS));

    const struct
    {
        int Method;
        bool Enabled;
    } steps[] = {{0, true}, {2, false}, {0, true}, {1, false}};
    for (const auto& step : steps) {
        SCOPED_TRACE("method " + std::to_string(step.Method));
        SelectComboItem(dialog, IDC_METHOD, step.Method);
        SyncWith(dialog);
        EXPECT_EQ(IsControlEnabled(dialog, IDC_PASSES), step.Enabled);
        EXPECT_EQ(ControlText(dialog, IDC_PASSES), "42");
    }

    EXPECT_EQ(Press(dialog, IDCANCEL), IDCANCEL);
    EXPECT_EQ(SettingsText(record), before);
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(SettingsDialogTest, RefusedPassesShowOneMessageFocusTheEditAndChangeNothing)
{
    const struct
    {
        const char* Text;
        bool OutOfRange; // otherwise not an integer
    } cases[] = {{"0", true}, {"101", true}, {"", false}, {"-1", true}, {"abc", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("passes \"") + c.Text + "\"");
        const MessageBoxAnswerer answerer;
        HWND dialog = Open(SettingsOf(MethodRandomData, 3, false, true));
        ASSERT_NE(dialog, nullptr);
        SetControlText(dialog, IDC_PASSES, c.Text);
        ASSERT_NE(Focus(), ::GetDlgItem(dialog, IDC_PASSES));

        EXPECT_TRUE(RefusedOk(dialog));
        const std::vector<std::string> texts = answerer.Texts();
        ASSERT_EQ(texts.size(), 1u);
        if (c.OutOfRange)
            EXPECT_EQ(NumbersIn(texts[0]), RangeNumbers) << texts[0];
        else
            EXPECT_TRUE(NumbersIn(texts[0]).empty()) << texts[0];
        EXPECT_EQ(Focus(), ::GetDlgItem(dialog, IDC_PASSES));
        EXPECT_EQ(SettingsText(record), before);

        EXPECT_EQ(Press(dialog, IDCANCEL), IDCANCEL);
        EXPECT_EQ(SettingsText(record), before);
        EXPECT_EQ(answerer.Texts().size(), 1u) << "Cancel validates nothing";
    }
}

TEST_F(SettingsDialogTest, OkTakesPassesAtBothEndsOfTheRange)
{
    for (const int passes : {100, 1}) {
        SCOPED_TRACE(passes);
        HWND dialog = Open(SettingsOf(MethodRandomData, 3, false, true));
        ASSERT_NE(dialog, nullptr);
        SetControlText(dialog, IDC_PASSES, std::to_string(passes));
        EXPECT_EQ(Press(dialog, IDOK), IDOK);
        EXPECT_EQ(SettingsText(record),
                  SettingsText(SettingsOf(MethodRandomData, passes, false, true)));
    }
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(SettingsDialogTest, CancelLeavesTheRecordAsItWas)
{
    HWND dialog = Open(SettingsOf(MethodDoD, 9, false, true));
    ASSERT_NE(dialog, nullptr);
    Toggle(dialog, IDC_MANGLE);
    Toggle(dialog, IDC_TAILS);
    SelectComboItem(dialog, IDC_METHOD, 2);
    SetControlText(dialog, IDC_PASSES, "50");
    SyncWith(dialog);
    ASSERT_FALSE(IsChecked(dialog, IDC_MANGLE));
    ASSERT_TRUE(IsChecked(dialog, IDC_TAILS));

    EXPECT_EQ(Press(dialog, IDCANCEL), IDCANCEL);
    EXPECT_EQ(SettingsText(record), before);
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(SettingsDialogTest, OkWritesMethodFlagsAndPassesIntoTheRecord)
{
    const struct
    {
        ShredSettings Opened;
        int Method;
        const char* Passes;
        ShredSettings Written;
    } cases[] = {
        {SettingsOf(MethodRandomData, 3, false, true), MethodGutmann, "64",
         SettingsOf(MethodGutmann, 64, true, false)},
        {SettingsOf(MethodDoD, 7, true, false), MethodRandomData, "12",
         SettingsOf(MethodRandomData, 12, false, true)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(SettingsText(c.Written));
        HWND dialog = Open(c.Opened);
        ASSERT_NE(dialog, nullptr);
        SelectComboItem(dialog, IDC_METHOD, c.Method);
        Toggle(dialog, IDC_MANGLE);
        Toggle(dialog, IDC_TAILS);
        SetControlText(dialog, IDC_PASSES, c.Passes);
        SyncWith(dialog);
        EXPECT_EQ(Press(dialog, IDOK), IDOK);
        EXPECT_EQ(SettingsText(record), SettingsText(c.Written));
    }
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(SettingsDialogTest, StoredPassesOutOfRangeBlockOkAndMethodChangesUntilCancel)
{
    HWND dialog = Open(SettingsOf(MethodDoD, 0, true, false));
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ControlText(dialog, IDC_PASSES), "0");
    EXPECT_FALSE(IsControlEnabled(dialog, IDC_PASSES));

    EXPECT_TRUE(RefusedOk(dialog));
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(NumbersIn(boxes.Texts()[0]), RangeNumbers) << boxes.Texts()[0];

    // The exchange stops at the passes, before the method is read back.
    SelectComboItem(dialog, IDC_METHOD, MethodRandomData);
    SyncWith(dialog);
    ASSERT_EQ(boxes.Texts().size(), 2u);
    EXPECT_EQ(boxes.Texts()[1], boxes.Texts()[0]);
    ASSERT_NE(live.load(), nullptr);
    EXPECT_EQ(live.load()->MethodIndex, MethodDoD);
    EXPECT_FALSE(IsControlEnabled(dialog, IDC_PASSES));

    EXPECT_TRUE(RefusedOk(dialog));
    EXPECT_EQ(boxes.Texts().size(), 3u);
    EXPECT_EQ(SettingsText(record), before);

    EXPECT_EQ(Press(dialog, IDCANCEL), IDCANCEL);
    EXPECT_EQ(SettingsText(record), before);
    EXPECT_EQ(boxes.Texts().size(), 3u);
}

TEST_F(SettingsDialogTest, F1ShowsNothingAndReachesNoOwner)
{
    ownerHelpCount = 0;
    dialogHelpCount = 0;
    HWND dialog = Open(SettingsOf(MethodRandomData, 5, true, true), true);
    ASSERT_NE(dialog, nullptr);
    watchedDialog = dialog;

    // F1 through the system's keyboard input, as a person presses it; it goes to the
    // foreground window.
    ASSERT_EQ(::GetForegroundWindow(), dialog);
    INPUT keys[2] = {};
    keys[0].type = keys[1].type = INPUT_KEYBOARD;
    keys[0].ki.wVk = keys[1].ki.wVk = VK_F1;
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    ASSERT_EQ(::SendInput(2, keys, sizeof keys[0]), 2u);
    SyncWith(dialog);
    EXPECT_EQ(dialogHelpCount, 1) << "F1 must have reached the dialog as WM_HELP";

    HELPINFO help{};
    help.cbSize = sizeof help;
    help.iContextType = HELPINFO_WINDOW;
    help.iCtrlId = IDC_PASSES;
    help.hItemHandle = ::GetDlgItem(dialog, IDC_PASSES);
    ::SendMessageA(dialog, WM_HELP, 0, reinterpret_cast<LPARAM>(&help));
    SyncWith(dialog);
    EXPECT_EQ(dialogHelpCount, 2);

    EXPECT_EQ(ownerHelpCount, 0);
    EXPECT_TRUE(::IsWindowVisible(dialog));
    EXPECT_FALSE(ui->Join(0));
    EXPECT_TRUE(boxes.Texts().empty());

    EXPECT_EQ(Press(dialog, IDCANCEL), IDCANCEL);
    EXPECT_EQ(SettingsText(record), before);
}

} // namespace
