#include "DialogDriver.h"
#include "MessageBoxAnswerer.h"
#include "resources/resource.h"
#include "ui/ShredSettingsDlg.h"

#include <gtest/gtest.h>

TEST(SettingsDialogSmoke, Opens)
{
    ShredSettings record;
    record.ShreddingMethod = 0;
    record.MangleDateAndTime = true;
    record.OverwriteTails = false;
    record.Passes = 3;
    MessageBoxAnswerer boxes;
    INT_PTR result = 0;
    UiThread ui([&] {
        CShredSettingsDlg dialog(&record);
        result = dialog.DoModal();
    });
    HWND dialog = WaitForDialog("Settings");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ComboCount(dialog, IDC_METHOD), 3);
    EXPECT_EQ(ComboItemText(dialog, IDC_METHOD, 1), "US DoD 5220.22-M - 7 passes");
    EXPECT_EQ(ControlText(dialog, IDC_PASSES), "3");
    EXPECT_TRUE(IsChecked(dialog, IDC_MANGLE));
    SelectComboItem(dialog, IDC_METHOD, 2);
    SyncWith(dialog);
    EXPECT_FALSE(IsControlEnabled(dialog, IDC_PASSES));
    SetControlText(dialog, IDC_PASSES, "101");
    Click(dialog, IDOK);
    SyncWith(dialog);
    EXPECT_EQ(boxes.Texts().size(), 1u);
    Click(dialog, IDCANCEL);
    ASSERT_TRUE(ui.Join());
    EXPECT_EQ(result, IDCANCEL);
}
