// The modal "Confirm Shredding" dialog: holds the run's settings, edits them through "Options",
// and on OK saves them, opens the progress window and starts one worker per item.
#pragma once

#include "afx/AfxDialog.h"
#include "core/ShredSettings.h"
#include "ui/ShredItemList.h"

#include <memory>

class CShredConfirmDlg : public CDialog
{
public:
    CShredConfirmDlg(bool isRecycleBin, const ShredItemList* items, CWnd* parent = nullptr);

    ShredSettings Settings;
    bool IsRecycleBin;
    const ShredItemList* Items;
    // The class each worker is created from.
    CRuntimeClass* WorkerClass;

protected:
    void DoDataExchange(CDataExchange* exchange) override;
    void OnOK() override;
    void OnCancel() override;
    void OnOptions();

    DECLARE_MESSAGE_MAP()

private:
    void StartWorker(HWND progressWindow, int32_t index, const std::string* path,
                     const std::shared_ptr<const ShredItemList>& selection);
};
