// A file whose data has another name (a hard link): its data is destroyed only when every one of
// its names lies inside the selection; otherwise nothing of it is overwritten, renamed or deleted,
// and the user is told. Real hard links on the test's drive; the list of a file's names, which
// Wine cannot give, comes from the seam's search of the test's folder.
#include "TestFiles.h"
#include "WalkTest.h"

#include <gtest/gtest.h>

namespace {

class OtherNamesTest : public WalkTest
{
protected:
    OtherNamesTest()
    {
        os.NamesSearchedIn = folder.Path();
        settings.MangleDateAndTime = true;
        MakeFolder(folder / "selected");
        MakeFolder(folder / "elsewhere");
    }

    // A file of its own bytes at `path`, and a second name for it at `other`.
    Bytes Twin(const std::string& path, const std::string& other, unsigned char seed)
    {
        const Bytes bytes = Pattern(3000, seed);
        WriteBytes(path, bytes);
        EXPECT_TRUE(::CreateHardLinkA(other.c_str(), path.c_str(), nullptr));
        return bytes;
    }
};

TEST_F(OtherNamesTest, ASelectedFileWithANameOutsideIsKeptWholeAndReported)
{
    const std::string selected = folder / "selected\\report.doc";
    const std::string outside = folder / "elsewhere\\report.link";
    const Bytes report = Twin(selected, outside, 1);
    const std::string plain = folder / "selected\\plain.txt";
    WriteBytes(plain, Pattern(2000, 2));

    const Notifications received = Shred({selected, plain});

    EXPECT_EQ(CountStatus(received, StatusHasOtherNames), 1u);
    EXPECT_EQ(CountStatus(received, StatusShredded), 1u);
    // Neither overwritten, nor renamed, nor deleted: both names show the data as it was.
    EXPECT_EQ(ReadBytes(outside), report);
    EXPECT_EQ(ReadBytes(selected), report);
    ASSERT_EQ(os.Renames().size(), 1u);
    EXPECT_EQ(os.Renames()[0].first, plain);
    EXPECT_FALSE(Exists(plain));
    EXPECT_EQ(os.Calls.Of({"open"}), std::vector<std::string>{"open:" + plain});
}

TEST_F(OtherNamesTest, AFileInASelectedFolderWithANameOutsideKeepsItAndTheFolder)
{
    const std::string inside = folder / "selected\\deep\\photo.jpg";
    MakeFolder(folder / "selected\\deep");
    const std::string outside = folder / "elsewhere\\photo.jpg";
    const Bytes photo = Twin(inside, outside, 3);
    WriteBytes(folder / "selected\\deep\\notes.txt", Pattern(700, 4));
    WriteBytes(folder / "selected\\top.txt", Pattern(900, 5));

    const Notifications received = Shred({folder / "selected"});

    EXPECT_EQ(CountStatus(received, StatusHasOtherNames), 1u);
    EXPECT_EQ(CountStatus(received, StatusShredded), 2u);
    EXPECT_EQ(ReadBytes(outside), photo);
    EXPECT_EQ(ReadBytes(inside), photo);
    // What held the kept file stays; everything else in it went.
    EXPECT_EQ(ListFolder(folder / "selected"), std::vector<std::string>{"deep"});
    EXPECT_EQ(ListFolder(folder / "selected\\deep"), std::vector<std::string>{"photo.jpg"});
}

TEST_F(OtherNamesTest, NamesThatAllLieInTheSelectionAreShreddedWithTheirData)
{
    // Both names in one selected folder, and two names each selected on its own.
    MakeFolder(folder / "selected\\pair");
    Twin(folder / "selected\\pair\\a.bin", folder / "selected\\pair\\b.bin", 6);
    const std::string first = folder / "elsewhere\\first.bin";
    const std::string second = folder / "elsewhere\\second.bin";
    Twin(first, second, 7);

    const Notifications received = Shred({folder / "selected", first, second});

    EXPECT_EQ(CountStatus(received, StatusHasOtherNames), 0u);
    EXPECT_EQ(CountStatus(received, StatusShredded), 4u);
    EXPECT_FALSE(Exists(folder / "selected"));
    EXPECT_TRUE(ListFolder(folder / "elsewhere").empty());
}

TEST_F(OtherNamesTest, WhereTheSystemCannotListTheNamesOneIsTakenToLieOutside)
{
    // Wine has no listing of a file's names: without the seam's, even two names inside the
    // selection keep their data.
    os.NamesSearchedIn.clear();
    MakeFolder(folder / "selected\\pair");
    const Bytes pair = Twin(folder / "selected\\pair\\a.bin", folder / "selected\\pair\\b.bin", 8);

    const Notifications received = Shred({folder / "selected"});

    EXPECT_EQ(CountStatus(received, StatusHasOtherNames), 2u);
    EXPECT_EQ(ReadBytes(folder / "selected\\pair\\a.bin"), pair);
    EXPECT_EQ(ReadBytes(folder / "selected\\pair\\b.bin"), pair);
}

} // namespace
