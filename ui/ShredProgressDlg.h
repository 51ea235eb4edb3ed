// The modeless "Shredding items..." window: shows the file being overwritten and its progress,
// collects the failures the workers report, and when every worker has finished shows them in
// one box and destroys itself.
#pragma once

#include "afx/AfxDialog.h"
#include "ui/ShredItemList.h"

#include <map>
#include <string>

class CShredProgressDlg : public CDialog
{
public:
    CShredProgressDlg(bool isRecycleBin, const ShredItemList& items, CWnd* parent = nullptr);
    ~CShredProgressDlg() override;

    // `item` is the index the status came with (its low 16 bits), or -1 when not known.
    void OnShredStatus(int status, int item = -1);

    int FinishedCount = 0;
    ShredItemList Items;
    bool IsRecycleBin;
    std::string ErrorText;
    CProgressCtrl ProgressBar;
    CStatic FileNameLabel;

protected:
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    void DoDataExchange(CDataExchange* exchange) override;
    void PostNcDestroy() override;
    LRESULT OnShredFile(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()

private:
    bool IsComplete() const;
    // What an error entry names: the file last announced for the item (which the workers
    // announce before every failure), else the item itself, else "Unknown".
    std::string EntryName(int status, int item) const;

    // The name each item (by the low 16 bits of its index) announced last.
    std::map<int, std::string> AnnouncedNames;

    // Set when the final box and the destruction have begun: notifications still queued then
    // (posted pass markers, dispatched by the box's own loop) must not complete a second time.
    bool Completing = false;
};
