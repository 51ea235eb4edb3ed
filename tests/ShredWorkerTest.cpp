// Workers started as the launcher starts them: one StatusFinished per item whatever becomes of
// it, one item shredded at a time across every job, the item index in every notification, exit
// code 0, a selected link removed without ever reaching what it points to, and the deepest walk
// the paths allow on the small stack each worker reserves.
#include "DialogDriver.h"
#include "FakeShredOs.h"
#include "LinkingShredOs.h"
#include "RecordingWindow.h"
#include "TestFiles.h"
#include "TestSettings.h"
#include "WorkerJob.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <set>

namespace {

// Two passes, so that each item posts more than one pass marker.
const ShredSettings TwoPasses = QuickSettings(2);

Notifications OfItem(const Notifications& all, WORD index)
{
    Notifications mine;
    for (const Notification& n : all)
        if (n.ItemIndex == index)
            mine.push_back(n);
    return mine;
}

// What a 3000-byte file sends under TwoPasses: three writes in each of two passes.
std::vector<std::string> ShreddedFile(const std::string& path)
{
    std::vector<std::string> lines{"F:6:" + path};
    lines.insert(lines.end(), 6, "S:1044");
    lines.push_back("S:1038");
    return lines;
}

std::vector<std::string> Then(std::vector<std::string> lines, const std::string& last)
{
    lines.push_back(last);
    return lines;
}

// Sent notifications keyed by the item they belong to, in the order they were delivered.
using Delivery = std::vector<std::pair<std::string, Notification>>;

// Between an item's first sent notification and its StatusFinished nothing is sent for another
// item. Posted pass markers may trail in, but only from items that have already started.
void ExpectOneItemAtATime(const Delivery& delivered)
{
    std::set<std::string> started;
    std::string current;
    for (const auto& [item, n] : delivered) {
        if (n.Posted) {
            EXPECT_TRUE(started.count(item)) << "pass marker of " << item << " before it started";
            continue;
        }
        if (current.empty()) {
            EXPECT_FALSE(started.count(item)) << item << " sent again after its StatusFinished";
            started.insert(item);
            current = item;
        }
        EXPECT_EQ(item, current) << "sent while " << current << " was being shredded";
        if (n.IsStatus(StatusFinished))
            current.clear();
    }
    EXPECT_TRUE(current.empty()) << current << " never finished";
}

Delivery ByIndex(const Notifications& received)
{
    Delivery delivered;
    for (const Notification& n : received)
        delivered.emplace_back(std::to_string(n.ItemIndex), n);
    return delivered;
}

// The fake's "send" entries (every job's, across windows, in the order the sends were made),
// keyed by window and item.
Delivery Sends(const FakeShredOs& os)
{
    Delivery delivered;
    for (const std::string& send : os.Calls.Details("send")) {
        const size_t message = send.find(':');
        const size_t id = send.find(':', message + 1);
        Notification n;
        n.ItemIndex = static_cast<WORD>(std::stoi(send.substr(send.find('/') + 1)));
        n.Message = static_cast<UINT>(std::stoul(send.substr(message + 1)));
        n.Id = static_cast<WORD>(std::stoi(send.substr(id + 1)));
        delivered.emplace_back(send.substr(0, message), n);
    }
    return delivered;
}

using LinkingOs = LinkingShredOs;

class ShredWorkerTest : public ::testing::Test
{
protected:
    // Runs the items as one job, each at its own index, and returns what the window received.
    Notifications RunJob(const std::vector<WorkerItem>& items, ShredOs& os)
    {
        return ::RunJob(window, TwoPasses, os, items, &exitCodes);
    }

    TempFolder folder;
    FakeShredOs os;
    RecordingWindow window;
    std::vector<DWORD> exitCodes;
};

TEST_F(ShredWorkerTest, EveryWorkerFinishesOnceWhateverBecomesOfItsItem)
{
    const std::string good = folder / "good.bin";
    WriteBytes(good, Pattern(3000, 1));
    const std::string missing = folder / "vanished.txt";
    const std::string network = "\\\\fileserver\\share\\report.doc";
    const std::string locked = folder / "locked.bin";
    WriteBytes(locked, Pattern(3000, 2));
    const std::string tree = folder / "tree";
    MakeFolder(tree);
    WriteBytes(tree + "\\inside.bin", Pattern(3000, 3));
    const std::string orphan = folder / "gone\\orphan.txt";

    UniqueHandle holder = HoldUnshared(locked);
    ASSERT_TRUE(holder);
    const Notifications received = RunJob({{good, 0, false},
                                           {missing, 1, false},
                                           {network, 2, false},
                                           {locked, 3, false},
                                           {tree, 4, false},
                                           {orphan, 5, false}},
                                          os);
    holder.Reset();

    EXPECT_EQ(CountStatus(received, StatusFinished), 6u);
    EXPECT_EQ(Describe(OnlySent(OfItem(received, 0))), Then(ShreddedFile(good), "S:1041"));
    EXPECT_EQ(Describe(OnlyPosted(OfItem(received, 0))),
              (std::vector<std::string>{"P:1125", "P:1126"}));
    // Deleted between selection and shredding: reported. Its folder gone too: not reported.
    EXPECT_EQ(Describe(OfItem(received, 1)), (std::vector<std::string>{"S:1037", "S:1041"}));
    EXPECT_EQ(Describe(OfItem(received, 5)), std::vector<std::string>{"S:1041"});
    EXPECT_EQ(Describe(OfItem(received, 2)), (std::vector<std::string>{"S:1040", "S:1041"}));
    EXPECT_EQ(Describe(OfItem(received, 3)), (std::vector<std::string>{"S:1033", "S:1041"}));
    EXPECT_EQ(Describe(OnlySent(OfItem(received, 4))),
              Then(ShreddedFile(tree + "\\inside.bin"), "S:1041"));
    EXPECT_EQ(OfItem(received, 6).size(), 0u);

    EXPECT_EQ(exitCodes, std::vector<DWORD>(6, 0));
    EXPECT_FALSE(Exists(good));
    EXPECT_FALSE(Exists(tree));
    EXPECT_EQ(ReadBytes(locked), Pattern(3000, 2));
    ExpectOneItemAtATime(ByIndex(received));
}

TEST_F(ShredWorkerTest, OneItemIsShreddedAtATime)
{
    std::vector<WorkerItem> items;
    for (int32_t i = 0; i < 6; ++i) {
        const std::string path = folder / ("item" + std::to_string(i) + ".bin");
        WriteBytes(path, Pattern(3000, static_cast<unsigned char>(i)));
        items.push_back({path, i, false});
    }
    const Notifications received = RunJob(items, os);

    EXPECT_EQ(received.size(), 6u * 11u);
    for (const WorkerItem& item : items)
        EXPECT_EQ(Describe(OnlySent(OfItem(received, static_cast<WORD>(item.Index)))),
                  Then(ShreddedFile(item.Path), "S:1041"));
    ExpectOneItemAtATime(ByIndex(received));
}

TEST_F(ShredWorkerTest, TwoJobsAtOnceTakeTurnsInTheSameLock)
{
    FakeShredOs logged;
    logged.LogSends = true;
    RecordingWindow second;
    std::vector<std::string> paths;
    for (int i = 0; i < 8; ++i) {
        paths.push_back(folder /
                        ("job" + std::to_string(i / 4) + "-" + std::to_string(i) + ".bin"));
        WriteBytes(paths.back(), Pattern(3000, static_cast<unsigned char>(i)));
    }
    {
        WorkerJob first(window.Handle(), TwoPasses, &logged);
        WorkerJob other(second.Handle(), TwoPasses, &logged);
        for (int32_t i = 0; i < 4; ++i) {
            first.Start(WorkerItem{paths[i], i, false});
            other.Start(WorkerItem{paths[4 + i], i, false});
        }
        ASSERT_TRUE(window.WaitForFinished(4));
        ASSERT_TRUE(second.WaitForFinished(4));
        ASSERT_TRUE(first.Join());
        ASSERT_TRUE(other.Join());
    }

    const Delivery log = Sends(logged);
    EXPECT_EQ(log.size(), 8u * 9u);
    ExpectOneItemAtATime(log);
    // Each window hears of its own items only.
    for (int32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(Describe(OnlySent(OfItem(window.Received(), static_cast<WORD>(i)))),
                  Then(ShreddedFile(paths[i]), "S:1041"));
        EXPECT_EQ(Describe(OnlySent(OfItem(second.Received(), static_cast<WORD>(i)))),
                  Then(ShreddedFile(paths[4 + i]), "S:1041"));
    }
}

TEST_F(ShredWorkerTest, TheItemIndexTravelsModulo65536)
{
    const std::string path = folder / "far.bin";
    WriteBytes(path, Pattern(3000, 9));
    const Notifications received =
        RunJob({{path, 65536 + 2, false}, {folder / "absent.bin", 65535, false}}, os);

    EXPECT_EQ(Describe(OnlySent(OfItem(received, 2))), Then(ShreddedFile(path), "S:1041"));
    EXPECT_EQ(OnlyPosted(OfItem(received, 2)).size(), 2u);
    EXPECT_EQ(Describe(OfItem(received, 65535)), (std::vector<std::string>{"S:1037", "S:1041"}));
    EXPECT_EQ(received.size(), 11u + 2u);
}

TEST_F(ShredWorkerTest, ASelectedLinkIsRemovedAndWhatItPointsToIsNeverReached)
{
    const std::string targetFile = folder / "target.bin";
    WriteBytes(targetFile, Pattern(1500, 4));
    const std::string targetFolder = folder / "target";
    MakeFolder(targetFolder);
    MakeFolder(targetFolder + "\\nested");
    WriteBytes(targetFolder + "\\a.bin", Pattern(700, 5));
    WriteBytes(targetFolder + "\\nested\\b.bin", Pattern(900, 6));

    // The links are stood in for by an ordinary file and an empty folder that the seam marks.
    const std::string fileLink = folder / "file-link.bin";
    WriteText(fileLink, "link");
    const std::string folderLink = folder / "folder-link";
    MakeFolder(folderLink);
    LinkingOs links;
    links.Link(fileLink, targetFile);
    links.Link(folderLink, targetFolder);

    const Notifications received = RunJob({{fileLink, 0, false}, {folderLink, 1, false}}, links);

    EXPECT_EQ(Describe(OfItem(received, 0)), (std::vector<std::string>{"S:1038", "S:1041"}));
    EXPECT_EQ(Describe(OfItem(received, 1)), (std::vector<std::string>{"S:1038", "S:1041"}));
    EXPECT_EQ(links.Followed(), std::vector<std::string>{});
    EXPECT_FALSE(Exists(fileLink));
    EXPECT_FALSE(Exists(folderLink));
    EXPECT_EQ(ReadBytes(targetFile), Pattern(1500, 4));
    EXPECT_EQ(ListFolder(targetFolder), (std::vector<std::string>{"a.bin", "nested"}));
    EXPECT_EQ(ReadBytes(targetFolder + "\\a.bin"), Pattern(700, 5));
    EXPECT_EQ(ReadBytes(targetFolder + "\\nested\\b.bin"), Pattern(900, 6));
    EXPECT_EQ(exitCodes, std::vector<DWORD>(2, 0));
}

// How far down a thread's stack has ever been used: Wine gives a thread a fresh, zeroed stack, so
// the lowest byte that is not zero marks the deepest frame so far.
size_t StackUsed(HANDLE thread)
{
    struct BasicInformation
    {
        NTSTATUS ExitStatus;
        NT_TIB* Teb;
        void* ClientProcess;
        void* ClientThread;
        KAFFINITY Affinity;
        LONG Priority;
        LONG BasePriority;
    };
    using Query = NTSTATUS WINAPI(HANDLE, int, void*, ULONG, ULONG*);
    auto* query = reinterpret_cast<Query*>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread")));
    BasicInformation information{};
    if (!query || query(thread, 0, &information, sizeof information, nullptr) != 0)
        return SIZE_MAX;
    const auto* top = static_cast<const BYTE*>(information.Teb->StackBase);
    for (const auto* at = static_cast<const BYTE*>(information.Teb->StackLimit); at < top;) {
        MEMORY_BASIC_INFORMATION region{};
        if (!::VirtualQuery(at, &region, sizeof region))
            return SIZE_MAX;
        const BYTE* end =
            std::min(top, static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize);
        const bool readable =
            region.State == MEM_COMMIT && !(region.Protect & (PAGE_GUARD | PAGE_NOACCESS));
        for (; readable && at < end; ++at)
            if (*at != 0)
                return static_cast<size_t>(top - at);
        at = end;
    }
    return 0;
}

TEST(WorkerStackTest, TheDeepestWalkThePathsAllowShowsARealBoxAtItsBottom)
{
    // Folders one letter deep until the last one's path just fits the runtime's folder part of a
    // path (256 with its terminator): about a hundred levels, each a frame of the walk, and
    // under the last a file whose new name is refused, so that the worker shows a real message
    // box from the bottom of its stack.
    TempFolder folder;
    const std::string top = folder / "deep";
    std::string level = top;
    MakeFolder(level);
    int depth = 0;
    for (; level.size() + 2 < _MAX_DIR; ++depth) {
        level += "\\x";
        MakeFolder(level);
    }
    ASSERT_GT(depth, 80);
    const std::string file = level + "\\f";
    WriteText(file, "bottom");
    FakeShredOs os;
    os.Script.FailAll(Call::Rename, EACCES);
    RecordingWindow window;
    WorkerJob job(window.Handle(), SettingsOf(MethodRandomData, 1, false, true), &os);
    job.Start(std::vector<std::string>{top});

    const HWND box = WaitForMessageBox(60000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), "Access violation");
    // Wine gives every thread at least a mebibyte, so the small reservation itself cannot be
    // tried here: what the walk and the box have used of it is measured instead, and must leave
    // half of it to spare for another system's own calls.
    const size_t used = StackUsed(job.Thread(0));
    std::printf("stack used at the bottom of %d levels: %zu bytes of %u\n", depth, used,
                WorkerStackReservation);
    EXPECT_LT(used, WorkerStackReservation / 2);
    EXPECT_TRUE(AnswerMessageBox(box));
    ASSERT_TRUE(window.WaitForFinished(1));
    ASSERT_TRUE(job.Join());
    EXPECT_EQ(job.ExitCodes(), std::vector<DWORD>{0});
    EXPECT_TRUE(Exists(file));
}

} // namespace
