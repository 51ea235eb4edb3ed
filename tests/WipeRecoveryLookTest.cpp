// What a recovery look at a real NTFS volume finds of files deleted the ordinary way, once the
// free space was wiped with the built DLL from rundll32's command line. Each case is one method,
// run by tests/VolumeScenario.sh in two phases. The mounted phase makes, on a new volume, files
// of each kind filled with numbered markers of their own (resident in their file records, in
// clusters, large, fifty small ones, a folder holding one) and two files that stay, deletes the
// first ones as Explorer would without the Recycle Bin, wipes the free space, and checks what the
// user sees: the same free space (within what the volume's own record table may have grown), no
// filler folder, the kept files byte for byte. The examine phase searches the unmounted image for
// every marker and every name: nothing of the deleted contents may be left, and no deleted name in
// a free file record or in the clusters; a name still in the folder's own record or index blocks
// (which are in use, so no wipe of free space reaches them) is printed, with where it lies.
#include "RecoveryLook.h"
#include "TestFiles.h"
#include "TestSettings.h"
#include "TestVolume.h"
#include "VolumeRun.h"
#include "WipeOs.h"
#include "common/TextConversion.h"
#include "core/ShredSettings.h"
#include "core/WipeJob.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

// Deleted the ordinary way before the wipe.
std::vector<MarkedContent> DeletedFiles()
{
    const std::wstring items = L"Items\\";
    std::vector<MarkedContent> files = {
        {items + Named(L"resident.txt"), "resident", 100},
        {items + Named(L"small.txt"), "smallone", 600},
        {items + Named(L"clusters.bin"), "clusters", 8192},
        {items + Named(L"large.bin"), "large", 200 * 1024},
        {items + Named(L"huge.bin"), "huge", 4 << 20},
        {items + Named(L"folder") + L"\\" + Named(L"leaf.txt"), "leaf", 50 * 1024},
    };
    for (int i = 0; i < 50; ++i) {
        const std::wstring number = (i < 10 ? L"0" : L"") + std::to_wstring(i);
        files.push_back({items + Named(L"many" + number + L".txt"),
                         "many" + NarrowWithSubstitutes(number), 150});
    }
    return files;
}

std::vector<MarkedContent> KeptFiles()
{
    return {{L"Kept\\" + Named(L"kept.txt"), "keptwipe", 4096},
            {L"Kept\\" + Named(L"kept-small.txt"), "keptsmall", 200}};
}

// The names a recovery tool could show for the deleted files and the deleted folder.
std::vector<std::wstring> DeletedNames()
{
    std::vector<std::wstring> names = {Named(L"folder")};
    for (const MarkedContent& file : DeletedFiles())
        names.push_back(LastPart(file.Path));
    return names;
}

constexpr char ReportFile[] = "wipe.txt";

void Wipe(const ShredSettings& settings, const VolumeRun& run)
{
    std::string why;
    const std::optional<TestVolume> volume = ScenarioTestVolume(why);
    ASSERT_TRUE(volume) << "refusing to wipe: " << why;
    const std::wstring root = Widen(volume->Root);
    for (const auto& files : {DeletedFiles(), KeptFiles()})
        for (const MarkedContent& file : files)
            ASSERT_TRUE(WriteMarked(root, file)) << Utf8(file.Path);
    // Deleted as a program or Explorer deletes without the Recycle Bin.
    for (const MarkedContent& file : DeletedFiles())
        ASSERT_TRUE(::DeleteFileW(LongPath(root + file.Path).c_str())) << Utf8(file.Path);
    ASSERT_TRUE(::RemoveDirectoryW(LongPath(root + L"Items\\" + Named(L"folder")).c_str()));
    const TreeSnapshot before = SnapshotTree(Widen(volume->Drive));
    const uint64_t freeBefore = FreeBytesOf(*volume);

    ASSERT_TRUE(StoreSettings(settings));
    const RundllWipe command(ORLENWICK_DLL_PATH);
    ASSERT_TRUE(command.Copied());
    const ProgramRun wipe = command.Run(volume->Drive + " /quiet", 600000);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, ShredSettingsKey);

    EXPECT_EQ(wipe.ExitCode, WipeExitWiped) << wipe.Output;
    const uint64_t freeAfter = FreeBytesOf(*volume);
    EXPECT_FALSE(Exists(volume->Root + WipeFolderName));
    EXPECT_EQ(SnapshotTree(Widen(volume->Drive)), before);
    // The record table may have grown by a step when the free records ran out; no more.
    EXPECT_LE(freeAfter, freeBefore);
    EXPECT_GE(freeAfter + (1 << 20), freeBefore);
    char report[512];
    std::snprintf(
        report, sizeof report, "%s  free before %llu bytes, after %llu bytes (%lld bytes less)\n",
        wipe.Output.substr(0, wipe.Output.find('\r')).c_str(),
        static_cast<unsigned long long>(freeBefore), static_cast<unsigned long long>(freeAfter),
        static_cast<long long>(freeBefore) - static_cast<long long>(freeAfter));
    std::printf("%s", report);
    EXPECT_TRUE(WriteUnixFile(run.CaseFile(ReportFile), report));
}

void Examine(const VolumeRun& run)
{
    std::optional<ExaminedImage> look;
    ASSERT_NO_FATAL_FAILURE(ReadExaminedImage(run, ReportFile, look));
    std::string findings = "Recovery look after the wipe of free space\n  " + look->Handed;
    size_t deletedMarkers = 0;
    size_t deletedTotal = 0;
    for (const MarkedContent& file : DeletedFiles()) {
        const MarkerFinds finds = look->Found(file.Tag);
        deletedMarkers += finds.Numbers.size();
        deletedTotal += MarkerCount(file.Tag, file.Size);
        EXPECT_TRUE(finds.Numbers.empty())
            << finds.Numbers.size() << " markers of the deleted " << Utf8(file.Path)
            << " are on the disk (" << look->Image.Regions(finds.Offsets) << ")";
    }
    findings += "  deleted contents: " + std::to_string(deletedMarkers) + " of " +
                std::to_string(deletedTotal) + " markers of " +
                std::to_string(DeletedFiles().size()) + " files found\n";
    for (const MarkedContent& file : KeptFiles()) {
        const size_t total = MarkerCount(file.Tag, file.Size);
        const MarkerFinds finds = look->Found(file.Tag);
        // Data nobody deleted is found whole: the look sees what it is meant to see. In a file
        // record the last two bytes of each sector hold the record's update sequence on the disk,
        // which cuts up to two markers of a small file.
        EXPECT_GE(finds.Numbers.size() + (file.Size < 1024 ? 2 : 0), total) << Utf8(file.Path);
        findings += "  kept:             " + Utf8(file.Path) + " " +
                    std::to_string(finds.Numbers.size()) + " of " + std::to_string(total) +
                    " markers (" + look->Image.Regions(finds.Offsets) + ")\n";
    }

    for (const std::wstring& name : DeletedNames()) {
        std::map<std::string, size_t> places;
        for (const size_t offset : look->Image.Places(Utf16Form(name))) {
            std::string region = look->Image.Region(offset);
            if (region == "file record")
                region =
                    look->Image.RecordInUse(offset) ? "file record in use" : "free file record";
            ++places[region];
        }
        EXPECT_EQ(places.count("free file record"), 0u) << Utf8(name);
        EXPECT_EQ(places.count("clusters"), 0u) << Utf8(name);
        EXPECT_EQ(look->RowsNaming(name), 0u) << "ntfsundelete lists " << Utf8(name);
        if (places.empty())
            continue;
        findings += "  name left:        " + Utf8(name) + ":";
        for (const auto& [region, count] : places)
            findings += " " + std::to_string(count) + " in " + region;
        findings += "\n";
    }
    findings += "  ntfsundelete lists " + std::to_string(look->NamedRows()) +
                " deleted files and folders by name, none of the deleted ones (the rest are "
                "the wipe's own small files)\n";
    KeepFindings(run, findings);
}

void RunPhase(const ShredSettings& settings)
{
    RunVolumePhase(
        "wipe", [&](const VolumeRun& run) { Wipe(settings, run); }, Examine);
}

} // namespace

TEST(WipeRecoveryLookTest, RandomDataLeavesNothingOfDeletedFiles)
{
    RunPhase(SettingsOf(MethodRandomData, 1));
}

TEST(WipeRecoveryLookTest, DoDLeavesNothingOfDeletedFiles)
{
    RunPhase(SettingsOf(MethodDoD, 1));
}
