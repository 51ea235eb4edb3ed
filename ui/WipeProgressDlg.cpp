#include "ui/WipeProgressDlg.h"

#include "afx/AfxApp.h"
#include "engine/WipeReport.h"
#include "engine/WipeTarget.h"
#include "resources/resource.h"

namespace {

constexpr UINT_PTR ShowTimer = 1;
constexpr UINT ShowIntervalMs = 250;
constexpr int BarRange = 1000;
// Before this much of the filling, a rate says little.
constexpr double FirstRateSeconds = 1.0;

double SecondsSince(uint64_t tick)
{
    return tick ? static_cast<double>(::GetTickCount64() - tick) / 1000 : 0;
}

} // namespace

BEGIN_MESSAGE_MAP(CWipeProgressDlg, CDialog)
ON_MESSAGE(WM_TIMER, OnTimer)
ON_MESSAGE(WM_WIPE_DONE, OnWipeDone)
END_MESSAGE_MAP()

CWipeProgressDlg::CWipeProgressDlg(std::shared_ptr<WipeJob> job, CWnd* parent)
    : CDialog(IDD_WIPE_PROGRESS, parent), Job(std::move(job))
{
    // The module must stay loaded while the window lives.
    AfxOleLockApp();
}

CWipeProgressDlg::~CWipeProgressDlg()
{
    AfxOleUnlockApp();
}

void CWipeProgressDlg::DoDataExchange(CDataExchange* exchange)
{
    DDX_Control(exchange, IDC_WIPE_BAR, ProgressBar);
}

BOOL CWipeProgressDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    ::SendMessageA(ProgressBar.m_hWnd, PBM_SETRANGE32, 0, BarRange);
    ShowProgress();
    ::SetTimer(m_hWnd, ShowTimer, ShowIntervalMs, nullptr);
    return TRUE;
}

std::string CWipeProgressDlg::PhaseText(const WipeJob& job)
{
    const std::string volume = "of " + VolumeNameOf(job.Root);
    if (job.Progress.CancelRequested)
        return "Cancelling: deleting the filler files...";
    switch (job.Progress.CurrentPhase()) {
    case WipePhase::Waiting:
        return "Waiting for a shred or another wipe to finish...";
    case WipePhase::Preparing:
        return "Preparing the wipe " + volume;
    case WipePhase::Filling:
        return "Overwriting the free space " + volume;
    case WipePhase::Records:
        return "Overwriting the free file records " + volume + " (" +
               CountText(job.Progress.Records) + " so far)";
    default:
        return "Deleting the filler files...";
    }
}

std::string CWipeProgressDlg::DoneText(const WipeProgress& progress)
{
    return ByteCountText(progress.BytesDone) + " of " + ByteCountText(progress.BytesTotal);
}

std::string CWipeProgressDlg::RateTextOf(const WipeProgress& progress, double seconds)
{
    if (seconds < FirstRateSeconds)
        return "measuring...";
    return RateText(progress.BytesDone / seconds);
}

std::string CWipeProgressDlg::TimeLeftText(const WipeProgress& progress, double seconds)
{
    if (progress.CurrentPhase() > WipePhase::Filling)
        return "finishing";
    if (seconds < FirstRateSeconds || progress.BytesDone == 0)
        return "estimating...";
    const double rate = progress.BytesDone / seconds;
    const uint64_t done = progress.BytesDone;
    const uint64_t total = progress.BytesTotal;
    return DurationText(total > done ? (total - done) / rate : 0);
}

void CWipeProgressDlg::ShowProgress()
{
    const WipeProgress& progress = Job->Progress;
    const uint64_t total = progress.BytesTotal;
    const uint64_t done = progress.BytesDone;
    const double seconds = SecondsSince(progress.FillStartedTick);
    const int position =
        total ? static_cast<int>(std::min<uint64_t>(done, total) * BarRange / total) : 0;
    ::SendMessageA(ProgressBar.m_hWnd, PBM_SETPOS,
                   progress.CurrentPhase() > WipePhase::Filling ? BarRange : position, 0);
    ::SetDlgItemTextA(m_hWnd, IDC_WIPE_PHASE, PhaseText(*Job).c_str());
    ::SetDlgItemTextA(m_hWnd, IDC_WIPE_DONE, DoneText(progress).c_str());
    if (progress.CurrentPhase() <= WipePhase::Filling)
        ::SetDlgItemTextA(m_hWnd, IDC_WIPE_RATE, RateTextOf(progress, seconds).c_str());
    ::SetDlgItemTextA(m_hWnd, IDC_WIPE_LEFT, TimeLeftText(progress, seconds).c_str());
}

LRESULT CWipeProgressDlg::OnTimer(WPARAM, LPARAM)
{
    if (!Completing)
        ShowProgress();
    return 0;
}

void CWipeProgressDlg::OnOK()
{
    // Enter does not close a window that closes by itself.
}

void CWipeProgressDlg::OnCancel()
{
    Job->Progress.CancelRequested = true;
    ::EnableWindow(::GetDlgItem(m_hWnd, IDCANCEL), FALSE);
    ShowProgress();
}

LRESULT CWipeProgressDlg::OnWipeDone(WPARAM, LPARAM)
{
    if (Completing)
        return 0;
    Completing = true;
    ::KillTimer(m_hWnd, ShowTimer);
    ShowProgress();
    const std::optional<WipeResult> result = Job->Result();
    const std::string text = result ? WipeResultBox(*result) : std::string();
    if (!text.empty()) {
        const bool wiped = result->Outcome == WipeOutcome::Wiped;
        AfxMessageBox(text.c_str(), MB_OK | (wiped ? MB_ICONINFORMATION : MB_ICONEXCLAMATION), 0);
    }
    DestroyWindow();
    return 0;
}

void CWipeProgressDlg::PostNcDestroy()
{
    CDialog::PostNcDestroy();
    delete this;
}
