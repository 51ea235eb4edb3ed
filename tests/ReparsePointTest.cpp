// Only name surrogates (symbolic links, junctions, mount points) are links: removed, never
// opened or followed. Every other reparse point (a cloud file, a deduplicated file) holds the
// user's data: overwritten where it lies and deleted, and reported as leaving copies where the
// storage keeps them, or kept and reported when it cannot be opened.
// What is opened is checked on its handle: an entry swapped for a link after it was listed is
// left alone and reported. Wine's own Unix links (a tag of 0) are never followed, and never
// removed, since Wine would remove their target.
#include "UnixLink.h"
#include "WalkTest.h"

#include <gtest/gtest.h>

namespace {

Bytes Content(unsigned char seed)
{
    return Pattern(500, seed);
}

class ReparsePointTest : public WalkTest
{
protected:
    ReparsePointTest() : root(folder / "root"), outside(folder / "outside")
    {
        MakeFolder(root);
        MakeFolder(outside);
        WriteBytes(outside + "\\target.bin", Content(1));
        MakeFolder(outside + "\\deep");
        WriteBytes(outside + "\\deep\\inner.bin", Content(2));
    }

    // A file link, a directory symbolic link and a junction to what lies outside, and a
    // placeholder and a deduplicated file and a placeholder folder that hold data of their own.
    void Plant(const std::string& where)
    {
        WriteBytes(where + "\\file-link", {});
        os.Link(where + "\\file-link", outside + "\\target.bin");
        MakeFolder(where + "\\dir-link");
        os.Link(where + "\\dir-link", outside);
        MakeFolder(where + "\\junction");
        os.Link(where + "\\junction", outside);
        os.ReparseTags[where + "\\junction"] = IO_REPARSE_TAG_MOUNT_POINT;
        WriteBytes(where + "\\placeholder.doc", Content(3));
        os.ReparseTags[where + "\\placeholder.doc"] = IO_REPARSE_TAG_CLOUD;
        WriteBytes(where + "\\dedup.vhd", Content(4));
        os.ReparseTags[where + "\\dedup.vhd"] = IO_REPARSE_TAG_DEDUP;
        MakeFolder(where + "\\synced");
        WriteBytes(where + "\\synced\\notes.txt", Content(5));
        os.ReparseTags[where + "\\synced"] = IO_REPARSE_TAG_CLOUD_6;
    }

    void ExpectOutsideUntouched()
    {
        EXPECT_EQ(os.Calls.Of({"followed"}), std::vector<std::string>{});
        EXPECT_EQ(ReadBytes(outside + "\\target.bin"), Content(1));
        EXPECT_EQ(ReadBytes(outside + "\\deep\\inner.bin"), Content(2));
    }

    // What becomes of what Plant(root) made: the three links removed and a file of the synced
    // folder shredded, each reported so; the cloud file and the deduplicated one overwritten and
    // deleted, and said to leave copies; nothing outside reached.
    void ExpectPlantedDone(const Notifications& received)
    {
        ExpectOutsideUntouched();
        EXPECT_EQ(Sorted(Announced(received)),
                  (std::vector<std::string>{root + "\\dedup.vhd", root + "\\placeholder.doc",
                                            root + "\\synced\\notes.txt"}));
        EXPECT_EQ(CountStatus(received, StatusShredded), 4u);
        EXPECT_EQ(CountStatus(received, StatusCopiesRemainCloud), 1u);
        EXPECT_EQ(CountStatus(received, StatusCopiesRemainDeduplicated), 1u);
    }

    const std::string root;
    const std::string outside;
};

TEST_F(ReparsePointTest, InsideAFolderLinksAreRemovedAndDataReparsePointsShredded)
{
    Plant(root);

    const Notifications received = Shred({root});

    ExpectPlantedDone(received);
    for (const char* link : {"\\file-link", "\\dir-link", "\\junction"}) {
        EXPECT_EQ(os.Calls.Count("open", root + link), 0u) << link;
        for (const std::string& listed : os.Calls.Details("list"))
            EXPECT_NE(listed.rfind(root + link, 0), 0u) << listed;
    }
    EXPECT_FALSE(Exists(root));
}

TEST_F(ReparsePointTest, SelectedLinksAreRemovedAndSelectedDataReparsePointsShredded)
{
    Plant(root);
    const std::vector<std::string> items{root + "\\file-link", root + "\\dir-link",
                                         root + "\\junction",  root + "\\placeholder.doc",
                                         root + "\\dedup.vhd", root + "\\synced"};

    const Notifications received = Shred(items);

    ExpectPlantedDone(received);
    EXPECT_EQ(CountStatus(received, StatusFinished), items.size());
    EXPECT_EQ(ListFolder(root), std::vector<std::string>{});
}

TEST_F(ReparsePointTest, ADataReparsePointThatCannotBeOpenedIsKeptAndReported)
{
    const std::string placeholder = root + "\\offline.doc";
    WriteBytes(placeholder, Content(6));
    os.ReparseTags[placeholder] = IO_REPARSE_TAG_CLOUD;
    UniqueHandle holder = HoldUnshared(placeholder);
    ASSERT_TRUE(holder);

    const Notifications received = Shred({placeholder});
    holder.Reset();

    EXPECT_EQ(Describe(received), (std::vector<std::string>{"S:1033", "S:1041"}));
    EXPECT_EQ(ReadBytes(placeholder), Content(6));
}

TEST_F(ReparsePointTest, EntriesSwappedForLinksAfterTheListingAreLeftAloneAndReported)
{
    // A file swapped for a link to a file outside, a folder for a junction to a folder outside,
    // each between its folder's listing and its own open.
    WriteBytes(root + "\\swapped.bin", Content(7));
    MakeFolder(root + "\\swapped");
    WriteBytes(root + "\\swapped\\own.bin", Content(8));
    WriteBytes(root + "\\plain.bin", Content(9));
    os.LinkedOnceListed = {{root + "\\swapped.bin", outside + "\\target.bin"},
                           {root + "\\swapped", outside}};

    const Notifications received = Shred({root});

    ExpectOutsideUntouched();
    EXPECT_EQ(CountStatus(received, StatusChangedWhileShredding), 2u);
    EXPECT_EQ(CountStatus(received, StatusShredded), 1u);
    EXPECT_EQ(os.Calls.Of({"open"}), std::vector<std::string>{"open:" + root + "\\plain.bin"});
    for (const std::string& listed : os.Calls.Details("list"))
        EXPECT_NE(listed.rfind(root + "\\swapped", 0), 0u) << listed;
    EXPECT_EQ(ListFolder(root), (std::vector<std::string>{"swapped", "swapped.bin"}));
}

TEST_F(ReparsePointTest, WinesUnixLinksAreLeftInPlaceAndWhatTheyReachIsIntact)
{
    // Links to a folder with files, to an empty folder (which removing the link through Wine would
    // remove), and to a file on another drive (which Wine shows as an ordinary file).
    MakeFolder(outside + "\\empty");
    TempFolder otherDrive("T:");
    const std::string distant = otherDrive / "far.bin";
    WriteBytes(distant, Content(10));
    WriteBytes(root + "\\plain.bin", Content(11));
    const UnixLink toFolder(root + "\\to-folder", outside);
    const UnixLink toEmpty(root + "\\to-empty", outside + "\\empty");
    const UnixLink toFar(root + "\\to-far.bin", distant);
    ASSERT_TRUE(toFolder.Made());
    ASSERT_TRUE(toEmpty.Made());
    ASSERT_TRUE(toFar.Made());

    const Notifications received = Shred({root});

    ExpectOutsideUntouched();
    EXPECT_TRUE(Exists(outside + "\\empty"));
    EXPECT_EQ(ReadBytes(distant), Content(10));
    EXPECT_EQ(CountStatus(received, StatusLinkLeft), 2u);
    EXPECT_EQ(CountStatus(received, StatusChangedWhileShredding), 1u);
    EXPECT_EQ(CountStatus(received, StatusShredded), 1u);
    EXPECT_EQ(ListFolder(root), (std::vector<std::string>{"to-empty", "to-far.bin", "to-folder"}));
}

} // namespace
