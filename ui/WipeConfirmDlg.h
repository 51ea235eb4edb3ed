// The modal "Wipe Free Space" dialog: which drive, its free space, the method and passes of the
// user's settings (changed through "Options"), the time the wipe will take, and what the drive
// goes through meanwhile. OK saves the settings, opens the progress window and starts the wipe's
// worker.
#pragma once

#include "afx/AfxDialog.h"
#include "core/ShredSettings.h"
#include "core/WipeJob.h"
#include "engine/WipeTarget.h"

#include <memory>

class CWipeConfirmDlg : public CDialog
{
public:
    // Loads the settings; `target` holds what is shown of the volume, its write rate included.
    explicit CWipeConfirmDlg(const WipeTarget& target, CWnd* parent = nullptr);

    ShredSettings Settings;
    WipeTarget Target;
    // The options of the wipe OK starts, the settings apart.
    WipeOptions Options;
    // The job OK started, for a caller that waits for its end; none before.
    std::shared_ptr<WipeJob> Job;

    // "about 4 minutes" at the measured rate, or why there is no estimate.
    std::string EstimateText() const;

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    void OnOptions();

    DECLARE_MESSAGE_MAP()

private:
    void ShowSettings();
};

// Asks the user about a wipe of the volume at `root` ("N:\"): a box saying why when it cannot be
// wiped (the same text in `refusal`), else the confirmation, with the volume's facts and the rate
// of a short timed write on it. The job its OK started, or none.
std::shared_ptr<WipeJob> ConfirmWipe(const std::string& root, std::string* refusal = nullptr);
