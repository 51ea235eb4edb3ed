// Shows one of the dialogs, filled as a user would see it, for a few seconds, so that
// scripts/render-dialogs.sh can take its picture.
//
//   DialogGallery confirm|settings|progress|wipe-confirm|wipe-progress [seconds]
//
// The wipe's confirmation names a drive D: but holds a network path as the volume it would wipe,
// which any wipe refuses: a click on its OK writes nothing anywhere.
#include "core/ShredProtocol.h"
#include "resources/resource.h"
#include "ui/ShredConfirmDlg.h"
#include "ui/ShredProgressDlg.h"
#include "ui/ShredSettingsDlg.h"
#include "ui/WipeConfirmDlg.h"
#include "ui/WipeProgressDlg.h"

#include <cstdlib>
#include <memory>
#include <string>

namespace {

// Ends whatever is showing after the given time: the thread's modal loop, or the program's.
void CALLBACK EndShow(HWND, UINT, UINT_PTR, DWORD)
{
    ::PostQuitMessage(0);
}

void Serve(UINT seconds)
{
    ::SetTimer(nullptr, 0, seconds * 1000, &EndShow);
    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const std::string which = argc > 1 ? argv[1] : "confirm";
    const UINT seconds = argc > 2 ? static_cast<UINT>(std::atoi(argv[2])) : 6;
    ::SetTimer(nullptr, 0, seconds * 1000, &EndShow);

    if (which == "settings") {
        ShredSettings record;
        record.ShreddingMethod = MethodRandomData;
        record.MangleDateAndTime = true;
        record.OverwriteTails = false;
        record.Passes = 3;
        CShredSettingsDlg dialog(&record);
        dialog.DoModal();
    } else if (which == "progress") {
        const std::string shown = "C:\\Users\\Public\\Documents\\Quarterly report.doc";
        const ShredItemList items = {shown};
        auto* dialog = new CShredProgressDlg(false, items);
        dialog->Create(IDD_SHRED_PROGRESS);
        dialog->ShowWindow(SW_SHOW);
        ::SendMessageA(dialog->m_hWnd, WM_SHRED_FILE, MakeShredWParam(0, 30),
                       reinterpret_cast<LPARAM>(NewShredFileNameBlock(shown)));
        for (int step = 0; step < 12; ++step)
            ::SendMessageA(dialog->m_hWnd, WM_COMMAND, MakeShredWParam(0, ID_SHRED_STEP), 0);
        Serve(seconds);
    } else if (which == "wipe-confirm") {
        WipeTarget target;
        target.Root = "\\\\gallery\\share\\";
        target.Volume = "D:";
        target.FileSystem = "NTFS";
        target.FreeBytes = 27165388390ull; // 25.3 GB
        target.TotalBytes = 107374182400ull;
        target.WriteRate = 150.0 * (1 << 20);
        CWipeConfirmDlg dialog(target);
        dialog.DoModal();
    } else if (which == "wipe-progress") {
        auto job = std::make_shared<WipeJob>();
        job->Root = "D:\\";
        job->Progress.BytesTotal = 27165388390ull;
        job->Progress.BytesDone = 10522669875ull; // 9.8 GB
        job->Progress.FillStartedTick = ::GetTickCount64() - 70000;
        job->Progress.SetPhase(WipePhase::Filling);
        auto* dialog = new CWipeProgressDlg(job);
        dialog->Create(IDD_WIPE_PROGRESS);
        dialog->ShowWindow(SW_SHOW);
        Serve(seconds);
    } else {
        const std::string shown = "C:\\Users\\Public\\Documents\\Quarterly report.doc";
        const ShredItemList items = {shown};
        CShredConfirmDlg dialog(false, &items);
        dialog.DoModal();
    }
    return 0;
}
