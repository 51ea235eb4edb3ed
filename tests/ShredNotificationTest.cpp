// What the progress window receives while one file is shredded: the sequence, which messages
// are sent and which posted, the item index, and the progress range.
#include "TestPaths.h"
#include "FakeShredOs.h"
#include "RecordingWindow.h"
#include "TestFiles.h"
#include "TestSettings.h"
#include "WorkerJob.h"
#include "core/ShredThread.h"

#include <gtest/gtest.h>

namespace {

std::vector<unsigned char> Bytes(size_t size, unsigned char value = 0x5A)
{
    return std::vector<unsigned char>(size, value);
}

class ShredNotificationTest : public ::testing::Test
{
protected:
    // Shreds one file on this thread, the window's thread receiving; returns what it received.
    Notifications Shred(const std::string& path, const ShredSettings& settings, int index = 3)
    {
        SeamedWorker worker(os, settings);
        worker.ProgressWindow = window.Handle();
        worker.ItemIndex = index;
        worker.ShredFile(Shreddable(path), 512, false, "");
        EXPECT_TRUE(window.Flush());
        return window.Received();
    }

    std::vector<std::string> Expected(const std::string& path, int range,
                                      const std::vector<int>& stepsPerCycle)
    {
        std::vector<std::string> lines{"F:" + std::to_string(range) + ":" + path};
        for (int steps : stepsPerCycle)
            lines.insert(lines.end(), steps, "S:1044");
        lines.push_back("S:1038");
        return lines;
    }

    TempFolder folder;
    FakeShredOs os; // real calls, with a quick random source
    RecordingWindow window;
};

TEST_F(ShredNotificationTest, RandomDataPostsOneMarkerPerPassAndSendsEverythingElse)
{
    const std::string path = folder / "three.bin";
    WriteBytes(path, Bytes(3000));
    const Notifications received = Shred(path, SettingsOf(MethodRandomData, 3));

    // 3000 bytes are three writes per pass; the range is (3000 / 1024 + 1) * 3.
    EXPECT_EQ(Describe(OnlySent(received)), Expected(path, 9, {3, 3, 3}));
    EXPECT_EQ(Describe(OnlyPosted(received)),
              (std::vector<std::string>{"P:1125", "P:1126", "P:1127"}));
    for (const Notification& n : received)
        EXPECT_EQ(n.ItemIndex, 3);
    EXPECT_FALSE(Exists(path));
}

TEST_F(ShredNotificationTest, DoDPostsOneMarkerForItsSevenPasses)
{
    const std::string path = folder / "dod.bin";
    WriteBytes(path, Bytes(2048));
    const Notifications received = Shred(path, SettingsOf(MethodDoD, 9));

    EXPECT_EQ(Describe(OnlySent(received)), Expected(path, 21, {2, 2, 2, 2, 2, 2, 2}));
    EXPECT_EQ(Describe(OnlyPosted(received)), std::vector<std::string>{"P:1125"});
    EXPECT_FALSE(Exists(path));
}

TEST_F(ShredNotificationTest, GutmannPostsOneMarkerForItsThirtyFivePasses)
{
    const std::string path = folder / "gutmann.bin";
    WriteBytes(path, Bytes(2047));
    const Notifications received = Shred(path, SettingsOf(MethodGutmann, 2));

    // Random passes write 1024-byte blocks (2 writes), pattern passes 1023-byte blocks (3).
    std::vector<int> steps(4, 2);
    steps.insert(steps.end(), 27, 3);
    steps.insert(steps.end(), 4, 2);
    EXPECT_EQ(Describe(OnlySent(received)), Expected(path, 70, steps));
    EXPECT_EQ(Describe(OnlyPosted(received)), std::vector<std::string>{"P:1125"});
}

TEST_F(ShredNotificationTest, OneMebibyteUnderDoDAnnouncesMoreStepsThanItSends)
{
    const std::string path = folder / "mebibyte.bin";
    WriteBytes(path, Bytes(1 << 20));
    const Notifications received = Shred(path, SettingsOf(MethodDoD, 1));

    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.front().Message, WM_SHRED_FILE);
    EXPECT_EQ(received.front().Id, 7175);
    EXPECT_EQ(CountCommand(received, ID_SHRED_STEP), 7168u);
}

TEST_F(ShredNotificationTest, NoPassAtAllOverwritesNothingAndKeepsTheFile)
{
    // Zero or fewer passes reach a worker only from a caller of its own (the stored settings are
    // brought into range when loaded): the file, and even an empty one, is not overwritten.
    for (const int passes : {0, -3}) {
        for (const size_t size : {size_t{5000}, size_t{0}}) {
            SCOPED_TRACE(testing::Message() << passes << " passes, " << size << " bytes");
            const std::string path = folder / "zero.bin";
            WriteBytes(path, Bytes(size, 0x3C));
            const size_t before = window.Received().size();
            const Notifications received = Shred(path, SettingsOf(MethodRandomData, passes));

            const std::vector<std::string> lines = Describe(received);
            EXPECT_EQ(std::vector<std::string>(lines.begin() + before, lines.end()),
                      (std::vector<std::string>{"F:0:" + path, "S:1043"}));
            EXPECT_EQ(ReadBytes(path), Bytes(size, 0x3C));
        }
    }
}

TEST_F(ShredNotificationTest, ThousandPassesRunThePassMarkersUpTo2124)
{
    const std::string path = folder / "thousand.bin";
    WriteBytes(path, Bytes(10));
    const Notifications received = Shred(path, SettingsOf(MethodRandomData, 1000));

    const Notifications posted = OnlyPosted(received);
    ASSERT_EQ(posted.size(), 1000u);
    for (size_t k = 0; k < posted.size(); ++k)
        ASSERT_TRUE(posted[k].IsCommand(static_cast<WORD>(1125 + k))) << k;
    EXPECT_EQ(received.front().Id, 1000);
    EXPECT_EQ(CountCommand(received, ID_SHRED_STEP), 1000u);
    EXPECT_EQ(CountStatus(received, StatusShredded), 1u);
}

TEST_F(ShredNotificationTest, ItemIndexTravelsModulo65536)
{
    const std::string path = folder / "index.bin";
    WriteBytes(path, Bytes(100));
    const Notifications received = Shred(path, SettingsOf(MethodRandomData, 1), 65536 + 7);
    ASSERT_FALSE(received.empty());
    for (const Notification& n : received)
        EXPECT_EQ(n.ItemIndex, 7);
}

TEST_F(ShredNotificationTest, AnEmptyFileAnnouncesOneStepPerPassAndSendsNone)
{
    const std::string path = folder / "empty.bin";
    WriteBytes(path, {});
    const Notifications received = Shred(path, SettingsOf(MethodDoD, 1));
    EXPECT_EQ(Describe(OnlySent(received)), Expected(path, 7, {}));
    EXPECT_FALSE(Exists(path));
}

TEST(ShredRangeTest, TwoMebibytesUnderGutmannSendOneStepForTwoWritesToFitTheRange)
{
    TempFolder folder;
    const std::string path = folder / "two.bin";
    WriteBytes(path, std::vector<unsigned char>(2 << 20, 1));
    FakeShredOs os;
    os.RecordMessages = true;
    SeamedWorker worker(os, SettingsOf(MethodGutmann, 1));
    worker.ItemIndex = 0;
    worker.ShredFile(Shreddable(path), 512, false, "");

    const Notifications recorded = os.Recorded();
    ASSERT_FALSE(recorded.empty());
    // (2048 + 1) * 35 = 71,715 steps do not fit the 16 bits the range travels in: half of
    // them do, and so one step is sent for two writes.
    EXPECT_EQ(recorded.front().Id, 71715 / 2);
    EXPECT_EQ(CountCommand(recorded, ID_SHRED_STEP), (8u * 2048 + 27u * 2051) / 2);
    EXPECT_EQ(CountStatus(recorded, StatusShredded), 1u);
}

} // namespace
