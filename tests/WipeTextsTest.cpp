// What the free-space wipe tells the user: sizes, counts, rates and times at their boundaries, the
// method, the one result line of each outcome (the command line's and the final box's), and the
// box of failures.
#include "Captions.h"
#include "TestSettings.h"
#include "WipeOs.h"
#include "core/WipeJob.h"
#include "engine/WipeReport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr uint64_t GiB = 1ull << 30;

} // namespace

TEST(WipeTextsTest, SizesAreInUnitsOf1024WithOneDecimal)
{
    EXPECT_EQ(ByteCountText(0), "0 bytes");
    EXPECT_EQ(ByteCountText(1), "1 byte");
    EXPECT_EQ(ByteCountText(1023), "1,023 bytes");
    EXPECT_EQ(ByteCountText(1024), "1.0 KB");
    EXPECT_EQ(ByteCountText(1536), "1.5 KB");
    // Just under a unit reads as the next one, not as "1024.0".
    EXPECT_EQ(ByteCountText((1u << 20) - 1), "1.0 MB");
    EXPECT_EQ(ByteCountText(static_cast<uint64_t>(12.3 * GiB)), "12.3 GB");
    EXPECT_EQ(ByteCountText(3 * 1024 * GiB), "3.0 TB");
    EXPECT_EQ(RateText(152.3 * (1 << 20)), "152.3 MB/s");
}

TEST(WipeTextsTest, CountsAreGroupedByThousands)
{
    EXPECT_EQ(CountText(0), "0");
    EXPECT_EQ(CountText(999), "999");
    EXPECT_EQ(CountText(1000), "1,000");
    EXPECT_EQ(CountText(48211), "48,211");
    EXPECT_EQ(CountText(1234567), "1,234,567");
}

TEST(WipeTextsTest, TimesAreRoundedUpToWholeMinutes)
{
    EXPECT_EQ(DurationText(0), "less than a minute");
    EXPECT_EQ(DurationText(59.9), "less than a minute");
    EXPECT_EQ(DurationText(60), "about 1 minute");
    EXPECT_EQ(DurationText(61), "about 2 minutes");
    EXPECT_EQ(DurationText(3600), "about 1 hour");
    EXPECT_EQ(DurationText(3601), "about 1 hour 1 minute");
    EXPECT_EQ(DurationText(2 * 3600 + 5 * 60), "about 2 hours 5 minutes");
    EXPECT_EQ(DurationText(-1), "less than a minute");
}

TEST(WipeTextsTest, MethodIsNamedAsTheSettingsDialogNamesItWithItsPasses)
{
    EXPECT_EQ(MethodText(SettingsOf(MethodRandomData, 1)),
              "Cryptographically strong random data, 1 pass");
    EXPECT_EQ(MethodText(SettingsOf(MethodRandomData, 3)),
              "Cryptographically strong random data, 3 passes");
    // A stored number outside the dialog's range is shown as the wipe runs it.
    EXPECT_EQ(MethodText(SettingsOf(MethodRandomData, 0)),
              "Cryptographically strong random data, 1 pass");
    EXPECT_EQ(MethodText(SettingsOf(MethodDoD, 3)), DoDText);
    EXPECT_EQ(MethodText(SettingsOf(MethodGutmann, 3)), GutmannText);
    EXPECT_EQ(PassCountOf(SettingsOf(MethodRandomData, 250)), 100);
    EXPECT_EQ(PassCountOf(SettingsOf(MethodDoD, 1)), 7);
    EXPECT_EQ(PassCountOf(SettingsOf(MethodGutmann, 1)), 35);
}

TEST(WipeTextsTest, ResultLineOfEachOutcome)
{
    EXPECT_EQ(
        WipeResultLine(WipeResultOf(WipeOutcome::Wiped, static_cast<uint64_t>(12.3 * GiB), 48211)),
        "Free space on N: wiped: 12.3 GB, 48,211 file records");
    EXPECT_EQ(WipeResultLine(WipeResultOf(WipeOutcome::Wiped, 0, 1)),
              "Free space on N: wiped: 0 bytes, 1 file record");

    WipeResult refused = WipeResultOf(WipeOutcome::Refused);
    refused.Refusal = "N: is read-only.";
    EXPECT_EQ(WipeResultLine(refused), "Free space on N: not wiped: N: is read-only.");

    EXPECT_EQ(WipeResultLine(WipeResultOf(WipeOutcome::Cancelled)),
              "Free space on N: not wiped: cancelled");
    EXPECT_EQ(WipeResultLine(WipeResultOf(WipeOutcome::Cancelled, 10 << 20)),
              "Free space on N: not wiped: cancelled after 10.0 MB, 0 file records; every filler "
              "file deleted");

    WipeResult failed = WipeResultOf(WipeOutcome::Failed, 8 << 20);
    failed.Failures = {{"N:\\W\\Filler-000002.tmp", "could not be written: denied"},
                       {"N:\\W", "could not be removed: busy"}};
    EXPECT_EQ(WipeResultLine(failed),
              "Free space on N: not wiped completely: 8.0 MB, 0 file records; 2 errors: "
              "N:\\W\\Filler-000002.tmp: could not be written: denied; N:\\W: could not be "
              "removed: busy");
}

TEST(WipeTextsTest, FinalBoxListsEveryFailureAndIsAbsentAfterAPlainCancel)
{
    const WipeResult wiped = WipeResultOf(WipeOutcome::Wiped, 1 << 20, 3);
    EXPECT_EQ(WipeResultBox(wiped), WipeResultLine(wiped));
    EXPECT_EQ(WipeResultBox(WipeResultOf(WipeOutcome::Cancelled, 1 << 20)), "");

    WipeResult refused = WipeResultOf(WipeOutcome::Refused);
    refused.Refusal = "There is no volume at N:.";
    EXPECT_EQ(WipeResultBox(refused), "There is no volume at N:.");

    WipeResult failed = WipeResultOf(WipeOutcome::Cancelled, 1 << 20);
    failed.Failures = {{"N:\\W\\records\\ABCDEFGH", "could not be deleted: denied"}};
    EXPECT_EQ(WipeResultBox(failed),
              "Error(s) occurred while wiping the free space of N: \n\n"
              "N:\\W\\records\\ABCDEFGH: \ncould not be deleted: denied\n\n"
              "Free space on N: not wiped: cancelled after 1.0 MB, 0 file records; 1 error");
}
