#include "ProgressWindow.h"

#include "WaitUntil.h"

BEGIN_MESSAGE_MAP(TalliedProgressDlg, CShredProgressDlg)
ON_MESSAGE(WM_HOLD_UNTIL_SENT, OnHoldUntilSent)
END_MESSAGE_MAP()

LRESULT TalliedProgressDlg::OnHoldUntilSent(WPARAM, LPARAM)
{
    // Inside a sent message (a final box's loop dispatching this), the wait is over.
    WaitUntil(
        [] {
            return ::InSendMessage() ||
                   (HIWORD(::GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0;
        },
        5000, 1);
    return 0;
}

ProgressWindow::ProgressWindow(bool isRecycleBin, const ShredItemList& items)
    : ui(
          [this, isRecycleBin, items] {
              auto* dialog = new TalliedProgressDlg(isRecycleBin, items, tally);
              if (dialog->Create(IDD_SHRED_PROGRESS, nullptr)) {
                  dialog->ShowWindow(SW_SHOW);
                  window = dialog->m_hWnd;
              } else {
                  delete dialog;
              }
              created = true;
          },
          [this] { return tally.Deletions > 0 || abandoned; })
{
    while (!created)
        ::Sleep(1);
}

ProgressWindow::~ProgressWindow()
{
    abandoned = true;
    ui.Join(5000);
}
