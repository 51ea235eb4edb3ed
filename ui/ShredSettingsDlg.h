// The modal "Settings" dialog: edits the confirm dialog's record in place, and only on a valid OK.
#pragma once

#include "afx/AfxDialog.h"
#include "core/ShredSettings.h"

class CShredSettingsDlg : public CDialog
{
public:
    CShredSettingsDlg(ShredSettings* record, CWnd* parent = nullptr);

    CEdit PassesEdit;
    int PassCount = 0;
    int TailsChecked = 0;
    int MethodIndex = -1;
    int MangleChecked = 0;
    ShredSettings* SettingsRecord;

protected:
    void DoDataExchange(CDataExchange* exchange) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    BOOL OnHelpInfo(HELPINFO* help);
    void OnSelchangeMethod();

    DECLARE_MESSAGE_MAP()

private:
    void EnablePassesForMethod();
};
