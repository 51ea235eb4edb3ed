// A name a listing delivers never steers the walk out of its folder or onto another file: look-
// alikes of "\" and "/" that the narrow calls would best-fit map, names the system would rewrite
// (trailing dots and blanks) or open as a device, and names no real volume gives. Each is
// reached through the short name the volume gives it, or reported and left alone.
#include "WalkTest.h"
#include "common/TextConversion.h"

#include <gtest/gtest.h>

namespace {

Bytes Content(unsigned char seed)
{
    return Pattern(300, seed);
}

class ListedNamesTest : public WalkTest
{
protected:
    ListedNamesTest()
        : top(Widen(folder.Path())), selected(folder / "selected"), wideSelected(Widen(selected))
    {
        MakeFolder(selected);
    }

    // The look-alikes and what they would name, and plain entries inside the selected folder.
    void PlantLookAlikes()
    {
        PlantSeparatorLookAlikes(top, wideSelected);
        WriteBytes(selected + "\\plain.txt", Content(3));
        MakeFolder(selected + "\\sub");
        WriteBytes(selected + "\\sub\\inner.txt", Content(4));
    }

    const std::wstring top;
    const std::string selected;
    const std::wstring wideSelected;
};

TEST_F(ListedNamesTest, TheNarrowListingWouldLeadOutOfTheFolder)
{
    // What the walk must not rely on: the narrow listing hands over a real separator.
    WriteWide(wideSelected + L"\\" + SeparatorLookAlikes[0] + L"x", Content(1));
    WIN32_FIND_DATAA entry{};
    ASSERT_TRUE(UniqueFind(::FindFirstFileA((selected + "\\*x").c_str(), &entry)));
    EXPECT_STREQ(entry.cFileName, "..\\x");
}

TEST_F(ListedNamesTest, WithoutShortNamesLookAlikesAreReportedAndNothingOutsideIsTouched)
{
    os.NoShortNames = true;
    PlantLookAlikes();
    const TreeSnapshot before = SnapshotTree(top);

    const Notifications received = Shred({selected}, 3);

    const TreeSnapshot after = SnapshotTree(top);
    EXPECT_EQ(Outside(after, L"\\selected\\"), Outside(before, L"\\selected\\"));
    // Four files and four folders under look-alike names: each reported, each kept whole.
    EXPECT_EQ(CountStatus(received, StatusInvalidArguments), 8u);
    EXPECT_EQ(CountStatus(received, StatusShredded), 2u);
    for (const auto& [path, bytes] : before) {
        if (path.find(L"..") != std::wstring::npos) {
            EXPECT_EQ(after.at(path), bytes) << NarrowWithSubstitutes(path);
        }
    }
    EXPECT_FALSE(ExistsWide(wideSelected + L"\\plain.txt"));
    EXPECT_FALSE(ExistsWide(wideSelected + L"\\sub"));
    // Not empty, so kept.
    EXPECT_EQ(ListWideFolder(wideSelected).size(), 8u);
    for (const std::string& event : os.Log())
        EXPECT_EQ(event.find("..\\"), std::string::npos) << event;
}

TEST_F(ListedNamesTest, WithShortNamesLookAlikesAreShreddedInsideTheFolderOnly)
{
    PlantLookAlikes();
    const TreeSnapshot before = SnapshotTree(top);

    const Notifications received = Shred({selected}, 3);

    EXPECT_EQ(Outside(SnapshotTree(top), L"\\selected\\"), Outside(before, L"\\selected\\"));
    EXPECT_EQ(CountStatus(received, StatusInvalidArguments), 0u);
    // The look-alike files, the files in the look-alike folders, plain.txt and sub\inner.txt.
    EXPECT_EQ(CountStatus(received, StatusShredded), 10u);
    for (const std::string& path : Announced(received)) {
        EXPECT_EQ(path.compare(0, selected.size() + 1, selected + "\\"), 0) << path;
        EXPECT_EQ(path.find("..\\"), std::string::npos) << path;
    }
    EXPECT_FALSE(ExistsWide(wideSelected));
}

TEST_F(ListedNamesTest, NamesTheSystemWouldRewriteNeverNameAnotherFile)
{
    os.NoShortNames = true;
    // "victim." would be opened as "victim", "twin " as "twin"; the device names as devices.
    WriteWide(wideSelected + L"\\victim.", Content(5));
    WriteWide(wideSelected + L"\\twin ", Content(6));
    WriteWide(wideSelected + L"\\twin", Content(7));
    for (const wchar_t* device : {L"CON.txt", L"nul", L"COM1.log", L"lpt2"})
        WriteWide(wideSelected + L"\\" + device, Content(8));

    const Notifications received = Shred({selected}, 3);

    EXPECT_EQ(CountStatus(received, StatusInvalidArguments), 6u);
    EXPECT_EQ(Announced(received), std::vector<std::string>{selected + "\\twin"});
    EXPECT_EQ(ReadWide(wideSelected + L"\\victim."), Content(5));
    EXPECT_EQ(ReadWide(wideSelected + L"\\twin "), Content(6));
    EXPECT_FALSE(ExistsWide(wideSelected + L"\\twin"));
    for (const std::string& event : os.Calls.Of({"open", "remove", "list"}))
        EXPECT_TRUE(event == "open:" + selected + "\\twin" ||
                    event == "remove:" + selected + "\\twin" || event == "list:" + selected)
            << event;
}

TEST_F(ListedNamesTest, ANameWithATrailingDotIsReachedThroughItsShortName)
{
    WriteWide(wideSelected + L"\\victim.", Content(5));
    WriteWide(wideSelected + L"\\victim", Content(6));

    const Notifications received = Shred({selected}, 3);

    EXPECT_EQ(CountStatus(received, StatusShredded), 2u);
    const std::vector<std::string> announced = Announced(received);
    ASSERT_EQ(announced.size(), 2u);
    // Each announced once: neither was overwritten under the other's name.
    EXPECT_NE(announced[0], announced[1]);
    EXPECT_FALSE(ExistsWide(wideSelected));
}

TEST_F(ListedNamesTest, NamesNoVolumeGivesAreReportedAndNeverJoined)
{
    const std::string kept = selected + "\\kept.txt";
    WriteBytes(kept, Content(9));
    WriteBytes(folder / "escaped.txt", Content(10));
    for (const wchar_t* name : {L"", L"a\\b", L"a/b", L"a:b", L"..\\escaped.txt", L"c:\\x"})
        os.Extra[selected].push_back(Entry(name, FILE_ATTRIBUTE_ARCHIVE));
    os.Extra[selected].push_back(Entry(L"..\\..", FILE_ATTRIBUTE_DIRECTORY));

    const Notifications received = Shred({selected}, 3);

    EXPECT_EQ(CountStatus(received, StatusInvalidArguments), 7u);
    EXPECT_EQ(Announced(received), std::vector<std::string>{kept});
    EXPECT_EQ(ReadBytes(folder / "escaped.txt"), Content(10));
    EXPECT_EQ(os.Calls.Of({"list"}), std::vector<std::string>{"list:" + selected});
    EXPECT_EQ(os.Calls.Of({"open"}), std::vector<std::string>{"open:" + kept});
}

TEST_F(ListedNamesTest, ASelectedPathTheSystemWouldRewriteIsRefusedUntouched)
{
    WriteWide(wideSelected + L"\\victim", Content(6));
    const std::string rewritten = selected + "\\victim.";

    const Notifications received = Shred({rewritten}, 3);

    EXPECT_EQ(Describe(received), (std::vector<std::string>{"S:1035", "S:1041"}));
    EXPECT_EQ(ReadWide(wideSelected + L"\\victim"), Content(6));
    EXPECT_TRUE(os.Log().empty());
}

} // namespace
