// Scrambling a file's name and date before it is deleted: the shape and letters of the new name,
// the backdated last-write time, and what a failed rename leaves behind.
#include "TestPaths.h"
#include "FakeShredOs.h"
#include "MessageBoxAnswerer.h"
#include "TestFiles.h"
#include "TestSettings.h"
#include "WorkerJob.h"
#include "core/ShredThread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>

namespace {

// Every scrambled letter (A to Y) as "#", anything else as it is.
std::string Shape(const std::string& name)
{
    std::string shape = name;
    for (char& c : shape)
        c = c >= 'A' && c <= 'Y' ? '#' : c;
    return shape;
}

SYSTEMTIME Utc(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second, WORD ms)
{
    SYSTEMTIME time{};
    time.wYear = year;
    time.wMonth = month;
    time.wDay = day;
    time.wHour = hour;
    time.wMinute = minute;
    time.wSecond = second;
    time.wMilliseconds = ms;
    return time;
}

SYSTEMTIME LastWriteTime(const std::string& path)
{
    SYSTEMTIME time{};
    const UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(file) << path;
    if (!file)
        return time;
    FILETIME lastWrite{};
    EXPECT_TRUE(::GetFileTime(file.Get(), nullptr, nullptr, &lastWrite));
    ::FileTimeToSystemTime(&lastWrite, &time);
    return time;
}

std::string Format(const SYSTEMTIME& t)
{
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", t.wYear, t.wMonth,
                  t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

class NameManglingTest : public ::testing::Test
{
protected:
    // The shredded file is kept, so that its new name and date can be read back.
    NameManglingTest()
    {
        os.RecordMessages = true;
        os.Script.FailAll(Call::Remove, EACCES);
    }

    // One random pass with mangling on; returns the new name the rename asked for, or "".
    std::string Shred(const std::string& path, bool ntfs = false)
    {
        SeamedWorker worker(os, SettingsOf(MethodRandomData, 1, false, true));
        worker.ItemIndex = 0;
        const size_t renamesBefore = os.Renames().size();
        worker.ShredFile(Shreddable(path), 512, ntfs, "");
        if (os.Renames().size() != renamesBefore + 1)
            return "";
        EXPECT_EQ(os.Renames().back().first, path);
        return os.Renames().back().second;
    }

    // The last-write time a file gets when it is shredded at `now`; "" when it was not renamed.
    std::string BackdatedAt(const SYSTEMTIME& now, const std::string& name)
    {
        os.FixedSystemTime = true;
        os.SystemTimeValue = now;
        const std::string path = folder / name;
        WriteText(path, "contents");
        const std::string newName = Shred(path);
        EXPECT_FALSE(newName.empty());
        return newName.empty() ? "" : Format(LastWriteTime(newName));
    }

    // The new name's shape after the folder, which must be unchanged.
    std::string ShapeInFolder(const std::string& newName)
    {
        const std::string prefix = folder.Path() + "\\";
        EXPECT_EQ(newName.substr(0, prefix.size()), prefix);
        return Shape(newName.substr(prefix.size()));
    }

    TempFolder folder;
    FakeShredOs os;
};

TEST_F(NameManglingTest, BaseNameAndExtensionKeepTheirByteLengths)
{
    const std::map<std::string, std::string> shapes{
        {"report.final.doc", "############.###"}, // the dot inside the base name goes too
        {"README", "######"},
        {".profile", ".#######"},
        // "テスト" in Shift-JIS: six bytes, each valid on its own in the ANSI code page.
        {"\x83\x65\x83\x58\x83\x67.txt", "######.###"},
    };
    for (const auto& [name, shape] : shapes) {
        const std::string path = folder / name;
        WriteText(path, "contents");
        const std::string newName = Shred(path);
        ASSERT_FALSE(newName.empty()) << name;
        EXPECT_EQ(ShapeInFolder(newName), shape) << name << " became " << newName;
        EXPECT_TRUE(Exists(newName)) << newName;
        EXPECT_FALSE(Exists(path)) << name;
    }
}

TEST_F(NameManglingTest, LettersRunFromAToYAndNeverZ)
{
    std::string path = folder / "abcdefghijklmnopqrstuvwxyz012345.wxyz";
    WriteBytes(path, {});
    std::map<char, int> counts;
    for (int round = 0; round < 300; ++round) {
        const std::string newName = Shred(path);
        ASSERT_FALSE(newName.empty()) << round;
        ASSERT_EQ(ShapeInFolder(newName), std::string(32, '#') + ".####") << newName;
        for (char c : newName.substr(folder.Path().size() + 1))
            if (c != '.')
                ++counts[c];
        path = newName;
    }
    // 10,800 letters: every one of the 25 shows up, Y included, and nothing else does.
    EXPECT_EQ(counts.size(), 25u);
    EXPECT_EQ(counts.begin()->first, 'A');
    EXPECT_EQ(counts.rbegin()->first, 'Y');
}

TEST_F(NameManglingTest, AScrambledFileIsRemovedUnderItsNewName)
{
    os.Script.Clear();
    const std::string path = folder / "gone.txt";
    WriteText(path, "contents");
    const std::string newName = Shred(path);
    ASSERT_FALSE(newName.empty());

    EXPECT_EQ(os.Calls.Details("remove"), std::vector<std::string>{newName});
    EXPECT_TRUE(ListFolder(folder.Path()).empty());
    // The progress window is told the name the user knows.
    EXPECT_EQ(Describe(os.Recorded()),
              (std::vector<std::string>{"F:1:" + path, "P:1125", "S:1044", "S:1038"}));
}

TEST_F(NameManglingTest, LastWriteTimeGoesFiveYearsBackAtTheSameTimeOfDay)
{
    EXPECT_EQ(BackdatedAt(Utc(2024, 6, 15, 13, 45, 30, 250), "dated.txt"),
              "2019-06-15 13:45:30.250");
}

TEST_F(NameManglingTest, TwentyNinthOfFebruaryFiveYearsBackBecomesTheTwentyEighth)
{
    EXPECT_EQ(BackdatedAt(Utc(2028, 2, 29, 8, 9, 10, 0), "leap.txt"), "2023-02-28 08:09:10.000");
}

// Seeds the name's generator with a chosen value: the random source gives its four bytes, over
// and over, to every draw.
class SeededOs : public FakeShredOs
{
public:
    uint32_t Seed = 0;
    BOOL CryptGenRandom(HCRYPTPROV, DWORD length, BYTE* buffer) override
    {
        for (DWORD i = 0; i < length; ++i)
            buffer[i] = reinterpret_cast<const BYTE*>(&Seed)[i % 4];
        return TRUE;
    }
};

TEST(NameCollisionTest, AGeneratedNameThatExistsIsNotRetriedAndNotOverwritten)
{
    TempFolder folder;
    // The same seed, so the same scrambled name, every time.
    SeededOs os;
    os.Seed = 0x42424242;
    os.RecordMessages = true;
    SeamedWorker worker(os, SettingsOf(MethodRandomData, 1, false, true));

    // The first run learns the name this seed gives; the second finds it taken.
    const std::string path = folder / "twice.txt";
    WriteText(path, "first");
    worker.ShredFile(Shreddable(path), 512, false, "");
    ASSERT_EQ(os.Renames().size(), 1u);
    const std::string taken = os.Renames()[0].second;
    WriteText(taken, "someone else's");
    WriteText(path, "second");

    MessageBoxAnswerer boxes;
    worker.ShredFile(Shreddable(path), 512, false, "");
    ASSERT_EQ(os.Renames().size(), 2u);
    EXPECT_EQ(os.Renames()[1].second, taken);
    EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{"Already Exists", taken, path}));
    EXPECT_EQ(ReadBytes(taken), std::vector<unsigned char>({'s', 'o', 'm', 'e', 'o', 'n', 'e', ' ',
                                                            'e', 'l', 's', 'e', '\'', 's'}));
    EXPECT_EQ(ReadBytes(path), std::vector<unsigned char>(6, 0x42));
    EXPECT_EQ(os.Calls.Count("remove"), 1u); // the first run's only
}

TEST(LetterDrawTest, EachDrawMapsToItsLetterAndTheHighestDrawGivesY)
{
    // A seed whose draws for a 200-letter name include the highest value, 32767, and whose
    // sequence is known because the generator is the same one on this thread.
    constexpr int Length = 200;
    uint32_t seed = 1;
    std::vector<int> draws;
    for (;; ++seed) {
        std::srand(seed);
        draws.clear();
        for (int i = 0; i < Length; ++i)
            draws.push_back(std::rand());
        if (std::count(draws.begin(), draws.end(), 32767) > 0)
            break;
    }
    std::string expected;
    for (int r : draws)
        expected += static_cast<char>('A' + std::min(24, 25 * r / 32767));
    ASSERT_NE(expected.find('Y'), std::string::npos);

    TempFolder folder;
    SeededOs os;
    os.Seed = seed;
    os.RecordMessages = true;
    os.Script.FailAll(Call::Remove, EACCES); // the shredded file is kept
    const std::string path = folder / std::string(Length, 'n');
    WriteBytes(path, {});
    SeamedWorker worker(os, SettingsOf(MethodRandomData, 1, false, true));
    worker.ShredFile(Shreddable(path), 512, false, "");

    ASSERT_EQ(os.Renames().size(), 1u);
    EXPECT_EQ(os.Renames()[0].second, folder / expected);
    const size_t highest = std::find(draws.begin(), draws.end(), 32767) - draws.begin();
    EXPECT_EQ(os.Renames()[0].second[folder.Path().size() + 1 + highest], 'Y');
}

TEST(LetterDrawTest, ANameThatComesOutAsADevicesIsDrawnAgain)
{
    // A seed whose first draws for "abc.txt" spell a device's name: "CON", "PRN", "AUX" or "NUL"
    // with any extension names the device, and no file can have it.
    auto letter = [] { return static_cast<char>('A' + std::min(24, 25 * std::rand() / 32767)); };
    auto draw = [&] {
        std::string name;
        for (int i = 0; i < 3; ++i)
            name += letter();
        name += '.';
        for (int i = 0; i < 3; ++i)
            name += letter();
        return name;
    };
    const std::vector<std::string> devices{"CON", "PRN", "AUX", "NUL"};
    uint32_t seed = 1;
    std::string first;
    std::string second;
    for (;; ++seed) {
        std::srand(seed);
        first = draw();
        if (std::find(devices.begin(), devices.end(), first.substr(0, 3)) != devices.end())
            break;
    }
    second = draw();
    ASSERT_EQ(std::find(devices.begin(), devices.end(), second.substr(0, 3)), devices.end());

    TempFolder folder;
    SeededOs os;
    os.Seed = seed;
    os.RecordMessages = true;
    os.Script.FailAll(Call::Remove, EACCES); // the shredded file is kept
    const std::string path = folder / "abc.txt";
    WriteBytes(path, {});
    SeamedWorker worker(os, SettingsOf(MethodRandomData, 1, false, true));
    MessageBoxAnswerer boxes;
    worker.ShredFile(Shreddable(path), 512, false, "");

    ASSERT_EQ(os.Renames().size(), 1u) << first;
    EXPECT_EQ(os.Renames()[0].second, folder / second) << "first drawn: " << first;
    EXPECT_TRUE(boxes.Texts().empty());
}

struct RenameFailure
{
    int Error;
    std::vector<std::string> Boxes; // "<new>" and "<old>" stand for the two full names
};

void PrintTo(const RenameFailure& failure, std::ostream* out)
{
    *out << "errno " << failure.Error;
}

class RenameFailureTest : public NameManglingTest,
                          public ::testing::WithParamInterface<RenameFailure>
{};

TEST_P(RenameFailureTest, ShowsItsBoxesAndKeepsTheOverwrittenFileUnderItsOldName)
{
    os.Script.FailAll(Call::Rename, GetParam().Error);
    const std::string path = folder / "kept.txt";
    const std::vector<unsigned char> original(64, 0x5A);
    WriteBytes(path, original);

    MessageBoxAnswerer boxes;
    const std::string newName = Shred(path, true);
    ASSERT_EQ(os.Renames().size(), 1u);
    EXPECT_EQ(ShapeInFolder(newName), "####.###");
    std::vector<std::string> expectedBoxes;
    for (const std::string& text : GetParam().Boxes)
        expectedBoxes.push_back(text == "<new>" ? newName : text == "<old>" ? path : text);
    EXPECT_EQ(boxes.Texts(), expectedBoxes);

    const std::vector<unsigned char> left = ReadBytes(path);
    EXPECT_EQ(left.size(), original.size());
    EXPECT_NE(left, original);
    EXPECT_FALSE(Exists(newName));
    EXPECT_EQ(os.Calls.Count("remove"), 0u);
    // Its streams are still looked for, and the window hears why the file stays.
    EXPECT_EQ(os.Calls.Details("backupopen"), std::vector<std::string>{path});
    EXPECT_EQ(Describe(os.Recorded()),
              (std::vector<std::string>{"F:1:" + path, "P:1125", "S:1044", "S:1058"}));
}

INSTANTIATE_TEST_SUITE_P(EveryErrno, RenameFailureTest,
                         ::testing::Values(RenameFailure{EACCES, {"Access violation"}},
                                           RenameFailure{EINVAL, {"Invalid arguments"}},
                                           RenameFailure{ENOENT, {"Not found"}},
                                           RenameFailure{EEXIST,
                                                         {"Already Exists", "<new>", "<old>"}},
                                           RenameFailure{EMFILE, {"EMFILE"}},
                                           RenameFailure{EXDEV, {"Could not mangle file name!"}},
                                           RenameFailure{ENOSPC, {"Could not mangle file name!"}}),
                         [](const ::testing::TestParamInfo<RenameFailure>& info) {
                             return "Errno" + std::to_string(info.param.Error);
                         });

} // namespace
