#include "ui/ShredConfirmDlg.h"

#include "core/ShredThread.h"
#include "resources/resource.h"
#include "ui/ShredProgressDlg.h"
#include "ui/ShredSettingsDlg.h"

BEGIN_MESSAGE_MAP(CShredConfirmDlg, CDialog)
ON_BN_CLICKED(IDC_OPTIONS, OnOptions)
END_MESSAGE_MAP()

CShredConfirmDlg::CShredConfirmDlg(bool isRecycleBin, const ShredItemList* items, CWnd* parent)
    : CDialog(IDD_SHRED_CONFIRM, parent), IsRecycleBin(isRecycleBin), Items(items),
      WorkerClass(RUNTIME_CLASS(CShredThread))
{
    Settings.Load();
}

void CShredConfirmDlg::DoDataExchange(CDataExchange*) {}

void CShredConfirmDlg::OnOptions()
{
    AFX_MANAGE_STATE(AfxGetStaticModuleState());
    CShredSettingsDlg settings(&Settings, nullptr);
    settings.DoModal();
}

void CShredConfirmDlg::OnOK()
{
    Settings.Save();

    static const ShredItemList noItems;
    auto* progress = new CShredProgressDlg(IsRecycleBin, Items ? *Items : noItems, nullptr);
    ShowWindow(SW_HIDE);
    if (!progress->Create(IDD_SHRED_PROGRESS, nullptr)) {
        // No window will ever destroy it.
        delete progress;
        progress = nullptr;
    } else {
        progress->ShowWindow(SW_SHOW);
    }
    // The progress dialog may destroy itself while workers are still being started: keep
    // only its window handle, which messages reach safely either way.
    const HWND progressWindow = progress ? progress->m_hWnd : nullptr;

    if (IsRecycleBin) {
        StartWorker(progressWindow, 0, nullptr, nullptr);
    } else if (Items) {
        // One copy of the selection for all of the job's workers.
        const auto selection = std::make_shared<const ShredItemList>(*Items);
        for (size_t i = 0; i < Items->size(); ++i)
            StartWorker(progressWindow, static_cast<int32_t>(i), &(*Items)[i], selection);
    }
    CDialog::OnOK();
}

void CShredConfirmDlg::StartWorker(HWND progressWindow, int32_t index, const std::string* path,
                                   const std::shared_ptr<const ShredItemList>& selection)
{
    // Every item has a thread of its own, waiting for the one lock: thousands of them must fit
    // a 32-bit shell's address space.
    auto* worker = dynamic_cast<CShredThread*>(
        AfxBeginThread(WorkerClass, THREAD_PRIORITY_NORMAL, WorkerStackReservation,
                       CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!worker) {
        // The progress window waits for every item: tell it this one ended, and why.
        ::SendMessageA(progressWindow, WM_COMMAND,
                       MakeShredWParam(index, ShredStatusCommand(StatusNoHandles)), 0);
        ::SendMessageA(progressWindow, WM_COMMAND,
                       MakeShredWParam(index, ShredStatusCommand(StatusFinished)), 0);
        return;
    }
    if (path)
        worker->ItemPath = *path;
    worker->IsRecycleBin = IsRecycleBin;
    worker->ItemIndex = index;
    worker->Selection = selection;
    worker->SetSettings(Settings);
    worker->ProgressWindow = progressWindow;
    worker->ResumeThread();
}

void CShredConfirmDlg::OnCancel()
{
    EndDialog(IDCANCEL);
}
