#include "ui/WipeConfirmDlg.h"

#include "common/Seam.h"
#include "engine/WipeReport.h"
#include "jobs/WipeThread.h"
#include "resources/resource.h"
#include "ui/ShredSettingsDlg.h"
#include "ui/WipeProgressDlg.h"

BEGIN_MESSAGE_MAP(CWipeConfirmDlg, CDialog)
ON_BN_CLICKED(IDC_OPTIONS, OnOptions)
END_MESSAGE_MAP()

CWipeConfirmDlg::CWipeConfirmDlg(const WipeTarget& target, CWnd* parent)
    : CDialog(IDD_WIPE_CONFIRM, parent), Target(target)
{
    Settings.Load();
}

std::string CWipeConfirmDlg::EstimateText() const
{
    if (!Target.WriteRate || *Target.WriteRate <= 0)
        return "unknown: a short write to the drive failed";
    const double bytes = static_cast<double>(Target.FreeBytes) * PassCountOf(Settings);
    return DurationText(bytes / *Target.WriteRate);
}

BOOL CWipeConfirmDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    std::string drive = Target.Volume;
    if (!Target.FileSystem.empty())
        drive += " (" + Target.FileSystem + ")";
    ::SetDlgItemTextA(m_hWnd, IDC_WIPE_DRIVE, drive.c_str());
    ::SetDlgItemTextA(
        m_hWnd, IDC_WIPE_FREE,
        (ByteCountText(Target.FreeBytes) + " of " + ByteCountText(Target.TotalBytes)).c_str());
    ShowSettings();
    return TRUE;
}

void CWipeConfirmDlg::ShowSettings()
{
    ::SetDlgItemTextA(m_hWnd, IDC_WIPE_METHOD, MethodText(Settings).c_str());
    ::SetDlgItemTextA(m_hWnd, IDC_WIPE_ESTIMATE, EstimateText().c_str());
}

void CWipeConfirmDlg::OnOptions()
{
    AFX_MANAGE_STATE(AfxGetStaticModuleState());
    CShredSettingsDlg settings(&Settings, nullptr);
    settings.DoModal();
    ShowSettings();
}

void CWipeConfirmDlg::OnOK()
{
    Settings.Save();
    Job = std::make_shared<WipeJob>();
    Job->Root = Target.Root;
    Job->Options = Options;
    Job->Options.Settings = Settings;

    auto* progress = new CWipeProgressDlg(Job);
    ShowWindow(SW_HIDE);
    if (progress->Create(IDD_WIPE_PROGRESS, nullptr)) {
        progress->ShowWindow(SW_SHOW);
        Job->ProgressWindow = progress->m_hWnd;
        StartWipeWorker(Job);
    } else {
        // No window could show the wipe or cancel it: nothing is started.
        delete progress;
        WipeResult failed;
        failed.Volume = Target.Volume;
        failed.Failures.push_back({Target.Root, "the progress window could not be opened"});
        Job->StoreResult(failed);
    }
    CDialog::OnOK();
}

void CWipeConfirmDlg::OnCancel()
{
    EndDialog(IDCANCEL);
}

std::shared_ptr<WipeJob> ConfirmWipe(const std::string& root, std::string* refusal)
{
    ShredOs& os = Seam<ShredOs>::Active();
    if (std::optional<std::string> reason = WipeRefusal(os, root)) {
        if (refusal)
            *refusal = *reason;
        AfxMessageBox(reason->c_str(), MB_OK | MB_ICONEXCLAMATION, 0);
        return nullptr;
    }
    WipeTarget target = ReadWipeTarget(os, root);
    target.WriteRate = MeasureWriteRate(os, root, target.FreeBytes);
    CWipeConfirmDlg confirm(target, nullptr);
    confirm.DoModal();
    return confirm.Job;
}
