// The progress window as the workers see it: notifications sent and posted from other threads,
// the name and bar it shows, the errors it collects, and a completion that happens only once.
#include "TestPaths.h"
#include "Captions.h"
#include "DialogDriver.h"
#include "HugeFileOs.h"
#include "MessageBoxAnswerer.h"
#include "TestFiles.h"
#include "TestSettings.h"
#include "WorkerJob.h"
#include "ProgressWindow.h"
#include "core/ShredProtocol.h"
#include "resources/resource.h"
#include "ui/ShredProgressDlg.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace {

// Name blocks handed to the window are watched by the program's operator delete: it counts
// their frees and poisons them instead of releasing them, so a second free, a missing one, or
// a write after the free all stay visible.
constexpr int WatchedBlockSlots = 256;
constexpr unsigned char Poison = 0xDD;
std::atomic<void*> watchedBlocks[WatchedBlockSlots];
std::atomic<int> watchedFrees[WatchedBlockSlots];

bool CountWatchedFree(void* block)
{
    if (!block)
        return false;
    for (int i = 0; i < WatchedBlockSlots; ++i) {
        if (watchedBlocks[i].load() == block) {
            if (++watchedFrees[i] == 1)
                std::memset(block, Poison, ShredFileNameBlockSize);
            return true;
        }
    }
    return false;
}

} // namespace

void operator delete(void* block) noexcept
{
    if (!CountWatchedFree(block))
        std::free(block);
}

void operator delete(void* block, size_t) noexcept
{
    ::operator delete(block);
}

namespace {

// The blocks of one test, released when it ends.
class WatchedBlocks
{
public:
    WatchedBlocks() = default;
    ~WatchedBlocks()
    {
        for (int i = 0; i < used; ++i) {
            void* block = watchedBlocks[i].exchange(nullptr);
            watchedFrees[i] = 0;
            std::free(block);
        }
    }
    WatchedBlocks(const WatchedBlocks&) = delete;
    WatchedBlocks& operator=(const WatchedBlocks&) = delete;

    // A block as a worker fills it; its slot number identifies it later.
    std::pair<char*, int> Make(const std::string& path)
    {
        if (used >= WatchedBlockSlots)
            throw std::length_error("more blocks than watched slots");
        char* block = NewShredFileNameBlock(path);
        watchedFrees[used] = 0;
        watchedBlocks[used] = block;
        return {block, used++};
    }

    static int Frees(int slot) { return watchedFrees[slot]; }

    static bool StillPoisoned(const char* block)
    {
        for (size_t i = 0; i < ShredFileNameBlockSize; ++i)
            if (static_cast<unsigned char>(block[i]) != Poison)
                return false;
        return true;
    }

private:
    int used = 0;
};

const ShredItemList ThreeItems{"T:\\one.txt", "T:\\two.txt", "T:\\three.txt"};

// The final box for entries of (name, status text).
std::string ErrorBox(const std::vector<std::pair<std::string, const char*>>& entries)
{
    std::string box = "Error(s) occured while deleting item(s): \n\n";
    for (const auto& [name, text] : entries)
        box += name + ": \n" + text + "\n\n";
    return box;
}

} // namespace

TEST(ProgressDialogTemplate, CaptionNameLabelAndBar)
{
    MessageBoxAnswerer boxes;
    ProgressWindow progress(false, {"T:\\a"});
    HWND window = progress.Handle();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(WindowText(window), ShredProgressCaption);
    EXPECT_TRUE(::IsWindowVisible(window));

    HWND label = ::GetDlgItem(window, IDC_FILE_NAME);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(progress.FileName(), "File name");
    EXPECT_EQ(::GetWindowLongA(label, GWL_STYLE) & SS_TYPEMASK, SS_CENTER);

    HWND bar = ::GetDlgItem(window, IDC_PROGRESS);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(WindowClass(bar), "msctls_progress32");

    progress.Status(0, StatusFinished);
    EXPECT_FALSE(progress.IsOpen());
}

TEST(ProgressDialogCompletion, EverySuccessClosesOnTheLastFinishedWithoutABox)
{
    MessageBoxAnswerer boxes;
    ProgressWindow progress(false, ThreeItems);
    for (int index = 0; index < 2; ++index) {
        progress.AnnounceFile(index, ThreeItems[index]);
        progress.Command(index, ID_SHRED_STEP);
        progress.Statuses({{index, StatusShredded}, {index, StatusFinished}});
        EXPECT_TRUE(progress.IsOpen()) << "after finished " << index;
    }
    EXPECT_EQ(progress.Deletions(), 0);

    progress.Status(2, StatusFinished);
    EXPECT_FALSE(progress.IsOpen());
    EXPECT_EQ(progress.DestroyCalls(), 1);
    EXPECT_EQ(progress.Deletions(), 1);
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST(ProgressDialogCompletion, OneAccessDeniedFileGivesTheExactBox)
{
    MessageBoxAnswerer boxes;
    ProgressWindow progress(false, {"T:\\locked.txt"});
    progress.Status(0, StatusAccessViolation);
    EXPECT_TRUE(progress.IsOpen());
    EXPECT_TRUE(boxes.Texts().empty()) << "errors wait for the end";
    progress.Status(0, StatusFinished);

    EXPECT_FALSE(progress.IsOpen());
    EXPECT_EQ(boxes.Texts(),
              std::vector<std::string>{ErrorBox({{"T:\\locked.txt", "Access Violation"}})});
}

TEST(ProgressDialogCompletion, ErrorsAreListedInArrivalOrderAndOthersAddNothing)
{
    MessageBoxAnswerer boxes;
    ProgressWindow progress(false, ThreeItems);
    progress.Statuses(
        {{2, StatusRecycleBinFailed}, {0, StatusOverwriteFailed}, {0, StatusShredded}});
    progress.PostPassMarker(1, 0);
    progress.PostPassMarker(1, 34);
    progress.Command(1, ID_SHRED_PASS_LAST + 1);
    progress.Statuses({{1, StatusFileNotFound},
                       {1, StatusAccessViolation},
                       {0, StatusNetworkAborted},
                       {2, StatusRemoveFailed},
                       {2, StatusInvalidArguments},
                       {1, StatusNoHandles},
                       {1, StatusFileExists},
                       {0, StatusFinished},
                       {1, StatusFinished}});
    SyncWith(progress.Handle());
    progress.Status(2, StatusFinished);

    EXPECT_FALSE(progress.IsOpen());
    // Nothing was announced: each entry names its item, but the Recycle Bin's walk names none.
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{ErrorBox({
                                 {"Unknown", "Can't empty Recycle Bin"},
                                 {"T:\\one.txt", "Failed to Overwrite File"},
                                 {"T:\\two.txt", "File Not Found"},
                                 {"T:\\two.txt", "Access Violation"},
                                 {"T:\\one.txt", "Network File (Aborted!)"},
                                 {"T:\\three.txt", "Failed to Remove File"},
                                 {"T:\\three.txt", "Invalid Arguments"},
                                 {"T:\\two.txt", "No Available Handles"},
                                 {"T:\\two.txt", "File Already Exists"},
                             })});
}

TEST(ProgressDialogCompletion, EachEntryNamesTheFileItsItemAnnouncedLastOrElseTheItem)
{
    MessageBoxAnswerer boxes;
    const std::string deep = "T:\\folder\\" + std::string(60, 'x') + "\\kept.bin";
    ProgressWindow progress(false, ThreeItems);
    // Items' files interleave in no order: each entry takes its own item's last file, shortened
    // as the label shortens it, but never as the Recycle Bin's label.
    progress.AnnounceFile(0, "T:\\folder\\first.bin");
    progress.AnnounceFile(1, deep);
    progress.Status(0, StatusAccessViolation);
    progress.AnnounceFile(0, "C:\\RECYCLER\\Dc2.txt", 0);
    progress.Statuses({{1, StatusHasOtherNames},
                       {0, StatusOverwriteFailed},
                       {2, StatusFileNotFound},
                       {0, StatusFinished},
                       {1, StatusFinished},
                       {2, StatusFinished}});

    EXPECT_FALSE(progress.IsOpen());
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{ErrorBox({
                                 {"T:\\folder\\first.bin", "Access Violation"},
                                 {deep.substr(0, 24) + "..." + deep.substr(deep.size() - 24),
                                  "File Has Other Names (Not Overwritten)"},
                                 {"C:\\RECYCLER\\Dc2.txt", "Failed to Overwrite File"},
                                 {"T:\\three.txt", "File Not Found"},
                             })});
}

TEST(ProgressDialogCompletion, ARecycleBinJobsEntryWithoutAnAnnouncedFileIsUnknown)
{
    MessageBoxAnswerer boxes;
    ProgressWindow progress(true, {});
    progress.Status(0, StatusInvalidArguments);
    progress.AnnounceFile(0, "C:\\$Recycle.Bin\\S-1\\$RAB12CD.txt", 0);
    progress.Statuses(
        {{0, StatusAccessViolation}, {0, StatusRecycleBinFailed}, {0, StatusFinished}});

    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{ErrorBox({
                                 {"Unknown", "Invalid Arguments"},
                                 {"C:\\$Recycle.Bin\\S-1\\$RAB12CD.txt", "Access Violation"},
                                 {"Unknown", "Can't empty Recycle Bin"},
                             })});
}

TEST(ProgressDialogCompletion, RecycleBinJobEndsOnTheFirstFinished)
{
    for (const ShredItemList& items : {ShredItemList{}, ThreeItems}) {
        MessageBoxAnswerer boxes;
        ProgressWindow progress(true, items);
        progress.Status(0, StatusShredded);
        EXPECT_TRUE(progress.IsOpen()) << items.size() << " items";
        progress.Status(0, StatusFinished);
        EXPECT_FALSE(progress.IsOpen()) << items.size() << " items";
        EXPECT_EQ(progress.Deletions(), 1);
        EXPECT_TRUE(boxes.Texts().empty());
    }
}

TEST(ProgressDialogCommands, LParamOneTakesTheDefaultRouteWhateverTheId)
{
    MessageBoxAnswerer boxes;
    ProgressWindow progress(false, {"T:\\a"});
    progress.AnnounceFile(0, "T:\\a", 10);

    progress.Command(0, ShredStatusCommand(StatusFinished), 1);
    EXPECT_TRUE(progress.IsOpen()) << "a finished with lParam 1 was counted";
    progress.Command(0, ShredStatusCommand(StatusAccessViolation), 1);
    progress.Command(0, ID_SHRED_STEP, 1);
    EXPECT_EQ(progress.BarPosition(), 0);

    // Cancel reaches the dialog's own handling, which ends (hides) the window.
    progress.Command(0, IDCANCEL, 1);
    EXPECT_FALSE(::IsWindowVisible(progress.Handle()));
    EXPECT_TRUE(progress.IsOpen());

    progress.Status(0, StatusFinished);
    EXPECT_FALSE(progress.IsOpen());
    EXPECT_TRUE(boxes.Texts().empty()) << "an error with lParam 1 was collected";
}

TEST(ProgressDialogFileName, LongPathsAreCutAndRecycleBinPathsNamedAsSuch)
{
    MessageBoxAnswerer boxes;
    ProgressWindow progress(false, {"T:\\a"});
    const std::string fifty = "T:\\" + std::string(43, 'a') + ".txt";
    ASSERT_EQ(fifty.size(), 50u);
    const std::string fiftyOne =
        "T:\\" + std::string(20, 'b') + "MIDDLE" + std::string(18, 'c') + ".txt";
    ASSERT_EQ(fiftyOne.size(), 51u);
    const std::string longest =
        "T:\\" + std::string(100, 'd') + "\\" + std::string(151, 'e') + ".end";
    ASSERT_EQ(longest.size(), ShredFileNameBlockSize - 1);

    const struct
    {
        std::string Path;
        std::string Shown;
    } cases[] = {
        {fifty, fifty},
        {fiftyOne, fiftyOne.substr(0, 24) + "..." + fiftyOne.substr(27)},
        {longest, longest.substr(0, 24) + "..." + longest.substr(longest.size() - 24)},
        {"", ""},
        {"C:\\RECYCLER\\S-1-5-21\\Dc1.txt", "Shredding Recycle Bin Items..."},
        {"T:\\Recycle\\notes.txt", "Shredding Recycle Bin Items..."},
        {"T:\\" + std::string(60, 'f') + "\\recycled.doc", "Shredding Recycle Bin Items..."},
        {"T:\\eCYCLE\\a.txt", "T:\\eCYCLE\\a.txt"},
        {"T:\\Ecycle\\a.txt", "T:\\Ecycle\\a.txt"},
        {"T:\\EcYcLe.txt", "T:\\EcYcLe.txt"},
    };
    for (const auto& c : cases) {
        progress.AnnounceFile(0, c.Path);
        EXPECT_EQ(progress.FileName(), c.Shown) << c.Path;
        EXPECT_LE(progress.FileName().size(), 51u);
    }
    progress.Status(0, StatusFinished);
    EXPECT_FALSE(progress.IsOpen());
}

TEST(ProgressDialogBar, EachFileRestartsTheBarWithItsSixteenBitRange)
{
    MessageBoxAnswerer boxes;
    ProgressWindow progress(false, {"T:\\a"});

    progress.AnnounceFile(5, "T:\\a", 0);
    EXPECT_EQ(progress.BarLow(), 0);
    EXPECT_EQ(progress.BarHigh(), 0);

    // Only the low 16 bits travel, zero-extended; the item index above them is not part of it.
    progress.AnnounceFile(5, "T:\\a", 71715);
    EXPECT_EQ(progress.BarLow(), 0);
    EXPECT_EQ(progress.BarHigh(), 6179);
    EXPECT_EQ(progress.BarPosition(), 0);
    progress.Command(5, ID_SHRED_STEP);
    EXPECT_EQ(progress.BarPosition(), 1);
    progress.Command(5, ID_SHRED_STEP);
    progress.Command(5, ID_SHRED_STEP);
    EXPECT_EQ(progress.BarPosition(), 3);

    progress.AnnounceFile(0xFFFF, "T:\\a:stream:$DATA", 0xFFFF);
    EXPECT_EQ(progress.BarHigh(), 65535);
    EXPECT_EQ(progress.BarPosition(), 0);
    progress.Command(0xFFFF, ID_SHRED_STEP);
    EXPECT_EQ(progress.BarPosition(), 1);

    progress.Status(0, StatusFinished);
    EXPECT_FALSE(progress.IsOpen());
}

TEST(ProgressDialogFileName, EachNameBlockIsFreedOnceWhileItsMessageIsHandled)
{
    MessageBoxAnswerer boxes;
    WatchedBlocks blocks;
    std::vector<std::pair<char*, int>> sent;
    {
        ProgressWindow progress(false, ThreeItems);
        for (int file = 0; file < 60; ++file) {
            const int index = file % 3;
            const auto block = blocks.Make("T:\\file" + std::to_string(file) + ".bin");
            progress.AnnounceBlock(index, block.first, 4);
            EXPECT_EQ(WatchedBlocks::Frees(block.second), 1) << "file " << file;
            progress.Command(index, ID_SHRED_STEP);
            progress.Status(index, StatusShredded);
            sent.push_back(block);
        }
        EXPECT_EQ(progress.FileName(), "T:\\file59.bin");
        for (int index = 0; index < 3; ++index)
            progress.Status(index, StatusFinished);
        EXPECT_FALSE(progress.IsOpen());
    }
    for (const auto& block : sent) {
        EXPECT_EQ(WatchedBlocks::Frees(block.second), 1) << "block " << block.second;
        EXPECT_TRUE(WatchedBlocks::StillPoisoned(block.first))
            << "block " << block.second << " was written after its free";
    }
}

TEST(ProgressDialogCompletion, MarkersDispatchedByTheFinalBoxDoNotCompleteAgain)
{
    MessageBoxAnswerer boxes;
    std::atomic<int> markersDuringBox{0};
    {
        ProgressWindow progress(false, {"T:\\a", "T:\\b"});
        // The last worker's final box is answered after running a modal loop of its own, as a
        // real box does; the pass markers that loop dispatches to the window are counted.
        boxes.WhileShown = [&] {
            MSG message;
            while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                const WORD id = LOWORD(message.wParam);
                if (message.hwnd == progress.Handle() && message.message == WM_COMMAND &&
                    id >= ID_SHRED_PASS_BASE && id <= ID_SHRED_PASS_LAST)
                    ++markersDuringBox;
                ::TranslateMessage(&message);
                ::DispatchMessageA(&message);
            }
        };
        progress.Statuses({{0, StatusFinished}, {1, StatusAccessViolation}});

        // The window's thread is held until the last finished waits for it, so the markers
        // posted before are still queued when that finished is handled.
        ::PostMessageA(progress.Handle(), WM_HOLD_UNTIL_SENT, 0, 0);
        for (int cycle = 0; cycle < 5; ++cycle)
            progress.PostPassMarker(1, cycle);
        progress.Status(1, StatusFinished);

        EXPECT_FALSE(progress.IsOpen());
        EXPECT_EQ(markersDuringBox.load(), 5) << "the markers were not dispatched during the box";
        EXPECT_EQ(progress.DestroyCalls(), 1);
        EXPECT_EQ(progress.Deletions(), 1);
    }
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{ErrorBox({{"T:\\b", "Access Violation"}})});
}

namespace {

// The bar as it stands right after each file is announced, seen from the worker's side.
class BarWatchingOs : public HugeFileOs
{
public:
    BarWatchingOs(int64_t length, const ProgressWindow& progress)
        : HugeFileOs(length), progress(progress)
    {
        RecordMessages = false;
        ForwardSteps = true;
        OverwriteLength = length;
    }

    LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        const LRESULT result = HugeFileOs::SendMessageA(window, message, wParam, lParam);
        if (message == WM_SHRED_FILE) {
            AnnouncedHigh = progress.BarHigh();
            AnnouncedPosition = progress.BarPosition();
        }
        return result;
    }

    int AnnouncedHigh = -1;
    int AnnouncedPosition = -1;

private:
    const ProgressWindow& progress;
};

} // namespace

TEST(ProgressDialogBar, ATenGibibyteFilesBarRunsFromEmptyToFull)
{
    // 10,485,761 steps do not fit the 16 bits the range travels in: the worker sends one step
    // for as many writes as it takes to fit, and the bar still spans the whole file.
    MessageBoxAnswerer boxes;
    TempFolder folder;
    const std::string path = folder / "huge.bin";
    WriteText(path, "");
    ProgressWindow progress(false, {path});
    BarWatchingOs os(int64_t{10} << 30, progress);
    SeamedWorker worker(os, SettingsOf(MethodRandomData, 1, false, false));
    worker.ProgressWindow = progress.Handle();
    worker.ItemIndex = 0;

    EXPECT_EQ(worker.ShredFile(Shreddable(path), 512, false, ""), StatusShredded);

    EXPECT_GT(os.AnnouncedHigh, 60000);
    EXPECT_LE(os.AnnouncedHigh, 65535);
    EXPECT_EQ(os.AnnouncedPosition, 0);
    EXPECT_EQ(progress.BarHigh(), os.AnnouncedHigh);
    EXPECT_EQ(progress.BarPosition(), os.AnnouncedHigh);
    progress.Status(0, StatusFinished);
}
