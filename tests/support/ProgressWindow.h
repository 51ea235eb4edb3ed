// The progress window on a thread of its own, created as the launcher creates it, counting its
// destruction, with the notifications a worker sends and what the window shows.
#pragma once

#include "DialogDriver.h"
#include "core/ShredProtocol.h"
#include "resources/resource.h"
#include "ui/ShredProgressDlg.h"

#include <atomic>
#include <initializer_list>
#include <string>
#include <utility>

// Holds the window's thread until a message from another thread waits for it, so messages
// posted meanwhile stay queued.
constexpr UINT WM_HOLD_UNTIL_SENT = WM_APP + 1;

struct Tally
{
    std::atomic<int> DestroyCalls{0};
    std::atomic<int> Deletions{0};
};

class TalliedProgressDlg : public CShredProgressDlg
{
public:
    TalliedProgressDlg(bool isRecycleBin, const ShredItemList& items, Tally& tally)
        : CShredProgressDlg(isRecycleBin, items), tally(tally)
    {}
    ~TalliedProgressDlg() override { ++tally.Deletions; }

    BOOL DestroyWindow() override
    {
        ++tally.DestroyCalls;
        return CShredProgressDlg::DestroyWindow();
    }

protected:
    LRESULT OnHoldUntilSent(WPARAM, LPARAM);

    DECLARE_MESSAGE_MAP()

private:
    Tally& tally;
};

class ProgressWindow
{
public:
    ProgressWindow(bool isRecycleBin, const ShredItemList& items);
    ~ProgressWindow();
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    HWND Handle() const { return window; }
    DWORD ThreadId() const { return ui.ThreadId(); }
    bool IsOpen() const { return ::IsWindow(window) != FALSE; }
    int DestroyCalls() const { return tally.DestroyCalls; }
    int Deletions() const { return tally.Deletions; }

    void Command(int index, WORD id, LPARAM lParam = 0) const
    {
        ::SendMessageA(window, WM_COMMAND, MakeShredWParam(index, id), lParam);
    }
    void Status(int index, ShredStatus status) const { Command(index, ShredStatusCommand(status)); }
    // Each (item, status) in turn, as the workers send them.
    void Statuses(std::initializer_list<std::pair<int, ShredStatus>> script) const
    {
        for (const auto& [index, status] : script)
            Status(index, status);
    }
    void PostPassMarker(int index, int cycle) const
    {
        ::PostMessageA(window, WM_COMMAND, MakeShredWParam(index, ID_SHRED_PASS_BASE + cycle), 0);
    }
    void AnnounceBlock(int index, char* block, int64_t range) const
    {
        ::SendMessageA(window, WM_SHRED_FILE, MakeShredWParam(index, range),
                       reinterpret_cast<LPARAM>(block));
    }
    void AnnounceFile(int index, const std::string& path, int64_t range = 10) const
    {
        AnnounceBlock(index, NewShredFileNameBlock(path), range);
    }

    std::string FileName() const { return ControlText(window, IDC_FILE_NAME); }
    int BarLow() const { return Bar(PBM_GETRANGE, TRUE); }
    int BarHigh() const { return Bar(PBM_GETRANGE, FALSE); }
    int BarPosition() const { return Bar(PBM_GETPOS, 0); }

private:
    int Bar(UINT message, WPARAM wParam) const
    {
        return static_cast<int>(::SendDlgItemMessageA(window, IDC_PROGRESS, message, wParam, 0));
    }

    Tally tally;
    std::atomic<bool> created{false};
    std::atomic<bool> abandoned{false};
    HWND window = nullptr;
    UiThread ui;
};
