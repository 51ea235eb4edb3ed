#include "ui/ShredProgressDlg.h"

#include "afx/AfxApp.h"
#include "core/ShredProtocol.h"
#include "resources/resource.h"

#include <cstring>

namespace {

// Workers send their commands with lParam 0; one whose lParam is 1 is none of theirs and goes to
// the base handling undecoded.
constexpr LPARAM UndecodedCommand = 1;
// A pass marker reaches OnShredStatus as its id less this (101 to 135), beyond every status.
constexpr WORD PassMarkerStatusBase = 1024;

constexpr size_t LongestShownPath = 50;
constexpr size_t ShownPathEnd = 24;

std::string ShortenedPath(const std::string& path)
{
    if (path.size() > LongestShownPath)
        return path.substr(0, ShownPathEnd) + "..." + path.substr(path.size() - ShownPathEnd);
    return path;
}

std::string ShownFileName(const std::string& path)
{
    if (path.find("ecycle") != std::string::npos || path.find("ECYCLE") != std::string::npos)
        return "Shredding Recycle Bin Items...";
    return ShortenedPath(path);
}

bool MakesErrorEntry(int status)
{
    return ShredStatusText(status) != nullptr;
}

bool IsStatusCommand(WORD id)
{
    return id >= ShredStatusCommand(StatusAccessViolation) &&
           id <= ShredStatusCommand(LastShredStatus) && id != ID_SHRED_STEP;
}

} // namespace

BEGIN_MESSAGE_MAP(CShredProgressDlg, CDialog)
ON_MESSAGE(WM_SHRED_FILE, OnShredFile)
END_MESSAGE_MAP()

CShredProgressDlg::CShredProgressDlg(bool isRecycleBin, const ShredItemList& items, CWnd* parent)
    : CDialog(IDD_SHRED_PROGRESS, parent), Items(items), IsRecycleBin(isRecycleBin)
{
    // The module must stay loaded while the window lives.
    AfxOleLockApp();
}

CShredProgressDlg::~CShredProgressDlg()
{
    AfxOleUnlockApp();
}

void CShredProgressDlg::DoDataExchange(CDataExchange* exchange)
{
    DDX_Control(exchange, IDC_PROGRESS, ProgressBar);
    DDX_Control(exchange, IDC_FILE_NAME, FileNameLabel);
}

BOOL CShredProgressDlg::OnCommand(WPARAM wParam, LPARAM lParam)
{
    if (lParam == UndecodedCommand)
        return CDialog::OnCommand(wParam, lParam);
    const WORD id = LOWORD(wParam);
    bool handled = false;
    const int item = HIWORD(wParam);
    if (id >= ID_SHRED_PASS_BASE && id <= ID_SHRED_PASS_LAST) {
        OnShredStatus(id - PassMarkerStatusBase, item);
        handled = true;
    }
    if (IsStatusCommand(id)) {
        OnShredStatus(id - ID_SHRED_STATUS_BASE, item);
        return TRUE;
    }
    if (id == ID_SHRED_STEP)
        ::SendMessageA(ProgressBar.m_hWnd, PBM_STEPIT, 0, 0);
    return handled ? TRUE : CDialog::OnCommand(wParam, lParam);
}

void CShredProgressDlg::OnShredStatus(int status, int item)
{
    if (Completing)
        return;
    if (MakesErrorEntry(status)) {
        ErrorText += EntryName(status, item);
        ErrorText += ": \n";
        ErrorText += ShredStatusText(status);
        ErrorText += "\n\n";
    }
    if (status == StatusFinished)
        ++FinishedCount;
    if (!IsComplete())
        return;
    Completing = true;
    if (!ErrorText.empty())
        AfxMessageBox(("Error(s) occured while deleting item(s): \n\n" + ErrorText).c_str(), MB_OK,
                      0);
    DestroyWindow();
}

std::string CShredProgressDlg::EntryName(int status, int item) const
{
    // The walk of the Recycle Bin as a whole failed: no one file is meant.
    if (status == StatusRecycleBinFailed)
        return "Unknown";
    const auto announced = AnnouncedNames.find(item);
    if (announced != AnnouncedNames.end())
        return ShortenedPath(announced->second);
    if (item >= 0 && static_cast<size_t>(item) < Items.size())
        return ShortenedPath(Items[item]);
    return "Unknown";
}

bool CShredProgressDlg::IsComplete() const
{
    if (IsRecycleBin)
        return FinishedCount == 1;
    return FinishedCount >= static_cast<int>(Items.size());
}

LRESULT CShredProgressDlg::OnShredFile(WPARAM wParam, LPARAM lParam)
{
    const char* block = reinterpret_cast<const char*>(lParam);
    const std::string path(block, strnlen(block, ShredFileNameBlockSize));
    AnnouncedNames[HIWORD(wParam)] = path;
    FileNameLabel.SetWindowText(ShownFileName(path).c_str());
    FreeShredFileNameBlock(lParam);
    ::SendMessageA(ProgressBar.m_hWnd, PBM_SETRANGE32, 0, LOWORD(wParam));
    ::SendMessageA(ProgressBar.m_hWnd, PBM_SETSTEP, 1, 0);
    ::SendMessageA(ProgressBar.m_hWnd, PBM_SETPOS, 0, 0);
    return 0;
}

void CShredProgressDlg::PostNcDestroy()
{
    CDialog::PostNcDestroy();
    delete this;
}
