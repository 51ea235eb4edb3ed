// The drives' context-menu handler, created through the server module's class table: "Wipe Free
// Space" for exactly one volume's root and for nothing else, its help text, the commands it takes,
// a network or read-only drive refused with its reason before any confirmation, its class
// factory; and the command line's words as the rundll32 entry point reads them. Nothing here may
// write to a drive: the engine's seam in place is fastened to no volume and refuses every file
// and folder.
#include "Captions.h"
#include "DialogDriver.h"
#include "MenuHandlerTest.h"
#include "MessageBoxAnswerer.h"
#include "TestFiles.h"
#include "TestOwners.h"
#include "WipeOs.h"
#include "common/Seam.h"
#include "common/TextConversion.h"
#include "core/WipeJob.h"
#include "engine/ShredOs.h"
#include "shellext/DriveWipeShlExt.h"
#include "shellext/Guids.h"
#include "shellext/WipeCommand.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

class DriveMenuTest : public MenuHandlerTest<CDriveWipeShlExt>
{
protected:
    DriveMenuTest() : MenuHandlerTest(CLSID_DriveWipeShlExt, IID_IShellExtInit) {}

    void TearDown() override
    {
        MenuHandlerTest::TearDown();
        EXPECT_EQ(::FindWindowA(nullptr, WipeConfirmCaption), nullptr);
    }

    // The entries the handler adds to an empty menu, by identifier from 100.
    std::vector<std::string> Entries(UINT flags = CMF_NORMAL)
    {
        const UniqueMenu menu(::CreatePopupMenu());
        const HRESULT hr = Menu->QueryContextMenu(menu.Get(), 0, 100, 0x7FFF, flags);
        EXPECT_TRUE(SUCCEEDED(hr));
        std::vector<std::string> entries;
        for (UINT id = 100; id < 100 + static_cast<UINT>(HRESULT_CODE(hr)); ++id)
            entries.push_back(MenuText(menu.Get(), id, MF_BYCOMMAND));
        EXPECT_EQ(::GetMenuItemCount(menu.Get()), static_cast<int>(entries.size()));
        return entries;
    }

    // Invokes on a stand-in shell thread; a confirmation that appears is cancelled and fails the
    // test: the box with the reason must have come instead.
    HRESULT InvokeExpectingNoConfirmation(LPCSTR verb)
    {
        CMINVOKECOMMANDINFO invoke = Command(verb);
        HRESULT hr = E_FAIL;
        UiThread ui([&] { hr = Menu->InvokeCommand(&invoke); });
        if (HWND confirm = WaitForDialog(WipeConfirmCaption, 1000)) {
            ADD_FAILURE() << "the confirmation was shown";
            Click(confirm, IDCANCEL);
        }
        EXPECT_TRUE(ui.Join(10000));
        return hr;
    }
};

} // namespace

TEST_F(DriveMenuTest, OneDrivesRootGetsTheOneEntryAndItsHelpText)
{
    ASSERT_EQ(Initialize({"T:\\"}), S_OK);
    EXPECT_EQ(Object->Root, "T:\\");
    EXPECT_EQ(Entries(), std::vector<std::string>{WipeMenuText});
    // A double-click asks only for the default entry: there is none.
    EXPECT_TRUE(Entries(CMF_DEFAULTONLY).empty());

    ExpectOnlyHelpText("Overwrite the free space of this drive");
}

TEST_F(DriveMenuTest, AnythingButExactlyOneVolumesRootGetsNoEntry)
{
    const TempFolder folder("T:");
    WriteText(folder / "file.txt", "kept\n");
    MakeFolder(folder / "inner");
    for (const std::vector<std::string>& selection : {std::vector<std::string>{folder.Path()},
                                                      {folder / "file.txt"},
                                                      {folder / "inner"},
                                                      {folder / "file.txt", folder / "inner"}}) {
        SCOPED_TRACE(selection.front());
        EXPECT_EQ(Initialize(selection), E_INVALIDARG);
        EXPECT_TRUE(Object->Root.empty());
        EXPECT_TRUE(Entries().empty());
    }
    // Two drives at once are refused too, and a refused selection replaces an accepted one.
    ASSERT_EQ(Initialize({"T:\\"}), S_OK);
    EXPECT_EQ(Initialize({"C:\\", "T:\\"}), E_INVALIDARG);
    EXPECT_TRUE(Entries().empty());
    // A data object without a file list is no drive.
    EXPECT_EQ(Initialize(nullptr), E_INVALIDARG);
}

TEST_F(DriveMenuTest, NetworkOrReadOnlyDriveIsRefusedWithItsReasonBeforeAnyConfirmation)
{
    WipeOs os;
    const Seam<ShredOs>::Substitute inPlace(os);
    MessageBoxAnswerer boxes;
    ASSERT_EQ(Initialize({"T:\\"}), S_OK);

    os.DriveType = DRIVE_REMOTE;
    EXPECT_EQ(InvokeExpectingNoConfirmation(MAKEINTRESOURCEA(0)), S_OK);
    os.DriveType.reset();
    os.ExtraVolumeFlags = FILE_READ_ONLY_VOLUME;
    EXPECT_EQ(InvokeExpectingNoConfirmation(MAKEINTRESOURCEA(0)), S_OK);

    EXPECT_EQ(boxes.Texts(),
              (std::vector<std::string>{"T: is a network drive: its free space can only be "
                                        "wiped on the computer that holds it.",
                                        "T: is read-only: nothing can be written to it, so its "
                                        "free space cannot be wiped."}));
    EXPECT_EQ(os.Calls.Count("outside"), 0u) << "something was about to be written";
}

TEST_F(DriveMenuTest, OnlyTheEntrysOwnCommandIsTaken)
{
    WipeOs os;
    os.DriveType = DRIVE_REMOTE;
    const Seam<ShredOs>::Substitute inPlace(os);
    MessageBoxAnswerer boxes;
    EXPECT_EQ(InvokeExpectingNoConfirmation(MAKEINTRESOURCEA(0)), E_INVALIDARG);
    ASSERT_EQ(Initialize({"T:\\"}), S_OK);
    for (LPCSTR verb : std::initializer_list<LPCSTR>{MAKEINTRESOURCEA(1), "open", "wipe"})
        EXPECT_EQ(InvokeExpectingNoConfirmation(verb), E_INVALIDARG);
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(DriveMenuTest, ClassFactoryMakesTheHandlerWithItsInterfacesAndNoAggregate)
{
    UniqueCom<IClassFactory> factory;
    ASSERT_EQ(Module.FindClassObject(CLSID_DriveWipeShlExt, IID_IClassFactory,
                                     reinterpret_cast<void**>(factory.Receive())),
              S_OK);
    UniqueCom<IUnknown> aggregate;
    EXPECT_EQ(factory->CreateInstance(Init.Get(), IID_IUnknown,
                                      reinterpret_cast<void**>(aggregate.Receive())),
              CLASS_E_NOAGGREGATION);
    EXPECT_FALSE(aggregate);
    UniqueCom<IUnknown> dispatch;
    EXPECT_EQ(Init->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.Receive())),
              E_NOINTERFACE);
    UniqueCom<IUnknown> unknown;
    EXPECT_EQ(Menu->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(unknown.Receive())),
              S_OK);
    EXPECT_EQ(unknown.Get(), static_cast<IUnknown*>(Init.Get()));
    // Once the factory is given back, the one object holds the one server lock.
    factory.Reset();
    EXPECT_EQ(Module.LockCount, 1);
}

TEST(WipeCommandLineTest, OneDriveAndTheQuietOptionInAnyOrder)
{
    const struct
    {
        const wchar_t* Line;
        const char* Root;
        bool Quiet;
    } understood[] = {
        {L"N:", "N:\\", false},
        {L"N:\\", "N:\\", false},
        {L"n: /quiet", "n:\\", true},
        {L"/QUIET N:/", "N:\\", true},
        {L"  \"C:\\Mounted volume\\\"  /Quiet ", "C:\\Mounted volume\\", true},
    };
    for (const auto& line : understood) {
        const WipeCommand command = ParseWipeCommand(line.Line);
        EXPECT_EQ(command.Error, "") << NarrowWithSubstitutes(line.Line);
        EXPECT_EQ(command.Root, line.Root) << NarrowWithSubstitutes(line.Line);
        EXPECT_EQ(command.Quiet, line.Quiet) << NarrowWithSubstitutes(line.Line);
    }
}

TEST(WipeCommandLineTest, AnythingElseIsAUsageErrorAndRunsNothing)
{
    WipeOs os;
    const Seam<ShredOs>::Substitute inPlace(os);
    const struct
    {
        const wchar_t* Line;
        const char* Error;
    } refused[] = {
        {L"", "no drive given"},
        {L"/quiet", "no drive given"},
        {L"N: M:", "more than one drive given"},
        {L"N: /fast", "unknown option /fast"},
        {L"\x0414:", "the drive's name does not convert to the system's code page"},
    };
    for (const auto& line : refused) {
        const WipeCommand command = ParseWipeCommand(line.Line);
        EXPECT_EQ(command.Error, line.Error) << NarrowWithSubstitutes(line.Line);
        std::string result;
        EXPECT_EQ(RunWipeCommand(command, result), WipeExitUsage);
        EXPECT_EQ(result, std::string(line.Error) + "; " + WipeCommandUsage);
    }
    EXPECT_EQ(os.Calls.Count("outside"), 0u);
}
