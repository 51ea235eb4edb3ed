// The modeless "Wiping Free Space..." window: what the wipe is doing, a bar over the whole wipe,
// the bytes done and in all, the rate and the time left, read from the job on a timer; Cancel
// (and the close box) asks the wipe to stop. When the worker is done it shows the result, or the
// failures, in one box and destroys itself.
#pragma once

#include "afx/AfxDialog.h"
#include "core/WipeJob.h"

#include <memory>
#include <string>

class CWipeProgressDlg : public CDialog
{
public:
    explicit CWipeProgressDlg(std::shared_ptr<WipeJob> job, CWnd* parent = nullptr);
    ~CWipeProgressDlg() override;

    std::shared_ptr<WipeJob> Job;
    CProgressCtrl ProgressBar;

    // What the window shows for the job's progress now; `seconds` since the filling began.
    static std::string PhaseText(const WipeJob& job);
    static std::string DoneText(const WipeProgress& progress);
    static std::string RateTextOf(const WipeProgress& progress, double seconds);
    static std::string TimeLeftText(const WipeProgress& progress, double seconds);

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* exchange) override;
    void OnOK() override;
    void OnCancel() override;
    void PostNcDestroy() override;
    LRESULT OnTimer(WPARAM wParam, LPARAM lParam);
    LRESULT OnWipeDone(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()

private:
    void ShowProgress();

    // Set once the final box and the destruction have begun: the box's own loop still
    // dispatches the timer's messages.
    bool Completing = false;
};
