#include "ui/ShredSettingsDlg.h"

#include "resources/resource.h"

BEGIN_MESSAGE_MAP(CShredSettingsDlg, CDialog)
ON_WM_HELPINFO()
ON_CBN_SELCHANGE(IDC_METHOD, OnSelchangeMethod)
END_MESSAGE_MAP()

CShredSettingsDlg::CShredSettingsDlg(ShredSettings* record, CWnd* parent)
    : CDialog(IDD_SHRED_SETTINGS, parent), SettingsRecord(record)
{}

void CShredSettingsDlg::DoDataExchange(CDataExchange* exchange)
{
    DDX_Control(exchange, IDC_PASSES, PassesEdit);
    DDX_Text(exchange, IDC_PASSES, PassCount);
    DDV_MinMaxInt(exchange, PassCount, MinPasses, MaxPasses);
    DDX_Check(exchange, IDC_TAILS, TailsChecked);
    DDX_CBIndex(exchange, IDC_METHOD, MethodIndex);
    DDX_Check(exchange, IDC_MANGLE, MangleChecked);
}

BOOL CShredSettingsDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    MethodIndex = SettingsRecord->ShreddingMethod;
    MangleChecked = SettingsRecord->MangleDateAndTime ? 1 : 0;
    TailsChecked = SettingsRecord->OverwriteTails ? 1 : 0;
    PassCount = SettingsRecord->Passes;
    UpdateData(FALSE);
    EnablePassesForMethod();
    return TRUE;
}

void CShredSettingsDlg::EnablePassesForMethod()
{
    PassesEdit.EnableWindow(MethodIndex == MethodRandomData);
}

void CShredSettingsDlg::OnSelchangeMethod()
{
    // A passes value that fails validation stops the exchange before the method is read, so
    // the edit keeps following the method read last.
    UpdateData(TRUE);
    EnablePassesForMethod();
}

void CShredSettingsDlg::OnOK()
{
    if (!UpdateData(TRUE))
        return;
    SettingsRecord->ShreddingMethod = MethodIndex;
    SettingsRecord->MangleDateAndTime = MangleChecked == 1;
    SettingsRecord->OverwriteTails = TailsChecked == 1;
    SettingsRecord->Passes = PassCount;
    EndDialog(IDOK);
}

BOOL CShredSettingsDlg::OnHelpInfo(HELPINFO*)
{
    // Handled here so that F1 shows no help and reaches no owner.
    return FALSE;
}
