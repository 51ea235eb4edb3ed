// The settings in the current user's registry: what a first use sees and writes, which stored
// values are taken and which fall back to their load defaults, the order and arguments of the
// registry calls, and what a failed save shows and leaves behind.
#include "Captions.h"
#include "MessageBoxAnswerer.h"
#include "RegistryKeys.h"
#include "TestSettings.h"
#include "core/SettingsRegistry.h"
#include "core/ShredSettings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

std::string Hex(DWORD value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(value));
    return text;
}

std::string Describe(DWORD type, const BYTE* data, DWORD size)
{
    std::string text = "type " + std::to_string(type) + " size " + std::to_string(size);
    if (size == 4) {
        DWORD value = 0;
        std::memcpy(&value, data, 4);
        text += " value " + std::to_string(static_cast<int32_t>(value));
    }
    return text;
}

std::string Dword(int32_t value)
{
    return "type " + std::to_string(REG_DWORD) + " size 4 value " + std::to_string(value);
}

// How the recording registry writes down the opening or creation of the settings key.
std::string KeyCall(const char* call, REGSAM access)
{
    return std::string(call) + " HKCU Software\\Quorvane\\Brindaloe\\Settings access " +
           Hex(access);
}

std::string Loaded()
{
    ShredSettings settings =
        SettingsOf(2, 50, true, true); // every field differs from a load default
    settings.Load();
    return SettingsText(settings);
}

// The real registry, every call written down, a create or one numbered write failing on demand.
class RecordingRegistry : public SettingsRegistry
{
public:
    LSTATUS OpenKey(HKEY root, const char* subKey, REGSAM access, HKEY* key) override
    {
        Calls.push_back("open " + Root(root) + " " + subKey + " access " + Hex(access));
        return Remember(SettingsRegistry::OpenKey(root, subKey, access, key), key);
    }

    LSTATUS QueryValue(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size) override
    {
        Calls.push_back("query " + Name(key) + " " + name + " size " +
                        (size ? std::to_string(*size) : "none") + (type ? "" : " no type"));
        return SettingsRegistry::QueryValue(key, name, type, data, size);
    }

    LSTATUS CreateKey(HKEY root, const char* subKey, REGSAM access, HKEY* key) override
    {
        Calls.push_back("create " + Root(root) + " " + subKey + " access " + Hex(access));
        if (FailCreate)
            return ERROR_ACCESS_DENIED;
        return Remember(SettingsRegistry::CreateKey(root, subKey, access, key), key);
    }

    LSTATUS SetValue(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) override
    {
        Calls.push_back("set " + Name(key) + " " + name + " " + Describe(type, data, size));
        if (++writes == FailWrite)
            return ERROR_ACCESS_DENIED;
        return SettingsRegistry::SetValue(key, name, type, data, size);
    }

    LSTATUS CloseKey(HKEY key) override
    {
        Calls.push_back("close " + Name(key));
        return SettingsRegistry::CloseKey(key);
    }

    bool FailCreate = false;
    int FailWrite = 0; // 1 for the first write
    std::vector<std::string> Calls;

private:
    static std::string Root(HKEY root) { return root == HKEY_CURRENT_USER ? "HKCU" : "other root"; }
    std::string Name(HKEY key) const { return key && key == opened ? "key" : "unknown key"; }

    LSTATUS Remember(LSTATUS status, HKEY* key)
    {
        if (status == ERROR_SUCCESS)
            opened = *key;
        return status;
    }

    HKEY opened = nullptr;
    int writes = 0;
};

class SettingsStoreTest : public ::testing::Test
{
protected:
    void SetUp() override { DeleteKey(); }

    void TearDown() override { DeleteKey(); }

    static void DeleteKey() { ::RegDeleteTreeA(HKEY_CURRENT_USER, ShredSettingsKey); }

    static bool KeyExists() { return ::KeyExists(HKEY_CURRENT_USER, ShredSettingsKey); }

    // Leaves a value under the key as another program or a hand edit could have left it.
    static void Store(const char* name, DWORD type, const void* data, DWORD size)
    {
        const UniqueRegistryKey key = CreateKey(HKEY_CURRENT_USER, ShredSettingsKey, KEY_WRITE);
        ASSERT_TRUE(key);
        EXPECT_EQ(::RegSetValueExA(key.Get(), name, 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
    }

    static void StoreDword(const char* name, DWORD value)
    {
        Store(name, REG_DWORD, &value, sizeof value);
    }

    static void StoreAll(DWORD method, DWORD mangle, DWORD tails, DWORD passes)
    {
        StoreDword("ShreddingMethod", method);
        StoreDword("MangleDateAndTime", mangle);
        StoreDword("OverwriteTails", tails);
        StoreDword("Passes", passes);
    }

    // Every value under the key as the registry holds it; subkeys show as "<subkeys>".
    static std::map<std::string, std::string> StoredValues()
    {
        std::map<std::string, std::string> values;
        const RegistryTree stored = StoredSettingsTree();
        const auto key = stored.find(L"");
        if (key == stored.end())
            return values;
        for (const auto& [name, data] : key->second)
            values[NarrowWithSubstitutes(name)] =
                Describe(data.Type, data.Bytes.data(), static_cast<DWORD>(data.Bytes.size()));
        const auto subkeys = std::count_if(stored.begin(), stored.end(), [](const auto& entry) {
            return !entry.first.empty() && entry.first.find(L'\\') == std::wstring::npos;
        });
        if (subkeys != 0)
            values["<subkeys>"] = std::to_string(subkeys);
        return values;
    }

    // A value stored again over the four, and what a load then makes of them all.
    struct Overwrite
    {
        const char* Name;
        DWORD Type;
        const void* Data;
        DWORD Size;
        ShredSettings Loaded;
    };

    // Each case on a key that holds the four values as given and then the case's value.
    static void ExpectLoads(DWORD method, DWORD mangle, DWORD tails, DWORD passes,
                            std::initializer_list<Overwrite> cases)
    {
        for (const Overwrite& c : cases) {
            SCOPED_TRACE(std::string(c.Name) + " of type " + std::to_string(c.Type));
            DeleteKey();
            StoreAll(method, mangle, tails, passes);
            Store(c.Name, c.Type, c.Data, c.Size);
            EXPECT_EQ(Loaded(), SettingsText(c.Loaded));
        }
    }

    static std::map<std::string, std::string> FourDwords(int32_t method, int32_t mangle,
                                                         int32_t tails, int32_t passes)
    {
        return {{"ShreddingMethod", Dword(method)},
                {"MangleDateAndTime", Dword(mangle)},
                {"OverwriteTails", Dword(tails)},
                {"Passes", Dword(passes)}};
    }

    MessageBoxAnswerer boxes;
};

TEST_F(SettingsStoreTest, FirstUseLoadsTheLoadDefaultsAndSavesExactlyFourDwords)
{
    EXPECT_EQ(Loaded(), SettingsText(SettingsOf(0, 1, false, false)));
    EXPECT_FALSE(KeyExists()) << "loading must not create the key";

    ShredSettings settings;
    settings.Load();
    settings.Save();
    EXPECT_EQ(StoredValues(), FourDwords(0, 0, 0, 1));
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(SettingsStoreTest, MethodOutsideZeroToTwoLoadsAsZeroWhileTheOthersLoad)
{
    const DWORD stored[] = {0, 1, 2, 3, 0xFFFFFFFF, 0x80000001};
    const int loaded[] = {0, 1, 2, 0, 0, 0};
    for (size_t i = 0; i < std::size(stored); ++i) {
        SCOPED_TRACE("stored method " + Hex(stored[i]));
        ExpectLoads(
            0, 1, 1, 9,
            {{"ShreddingMethod", REG_DWORD, &stored[i], 4, SettingsOf(loaded[i], 9, true, true)}});
    }
}

TEST_F(SettingsStoreTest, ValueOfAnotherTypeKeepsItsDefaultWhileTheOthersLoad)
{
    const DWORD one = 1;
    ExpectLoads(2, 1, 1, 9,
                {{"ShreddingMethod", REG_SZ, "1", 2, SettingsOf(0, 9, true, true)},
                 {"ShreddingMethod", REG_BINARY, &one, 4, SettingsOf(0, 9, true, true)},
                 {"MangleDateAndTime", REG_SZ, "1", 2, SettingsOf(2, 9, true, false)},
                 {"MangleDateAndTime", REG_BINARY, &one, 4, SettingsOf(2, 9, true, false)},
                 {"OverwriteTails", REG_DWORD_BIG_ENDIAN, &one, 4, SettingsOf(2, 9, false, true)},
                 {"Passes", REG_SZ, "9", 2, SettingsOf(2, 1, true, true)},
                 {"Passes", REG_BINARY, &one, 4, SettingsOf(2, 1, true, true)}});
}

TEST_F(SettingsStoreTest, ValueOfEightBytesKeepsItsDefaultWhileTheFollowingOnesLoad)
{
    const unsigned long long two = 2;
    const BYTE bytes[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    ExpectLoads(1, 1, 1, 9,
                {{"ShreddingMethod", REG_QWORD, &two, 8, SettingsOf(0, 9, true, true)},
                 {"MangleDateAndTime", REG_BINARY, bytes, 8, SettingsOf(1, 9, true, false)},
                 {"OverwriteTails", REG_BINARY, bytes, 8, SettingsOf(1, 9, false, true)},
                 {"Passes", REG_QWORD, &two, 8, SettingsOf(1, 1, true, true)}});
}

TEST_F(SettingsStoreTest, MissingValuesKeepTheirDefaults)
{
    StoreDword("Passes", 12);
    EXPECT_EQ(Loaded(), SettingsText(SettingsOf(0, 12, false, false)));
    DeleteKey();
    StoreDword("OverwriteTails", 1);
    EXPECT_EQ(Loaded(), SettingsText(SettingsOf(0, 1, true, false)));
}

TEST_F(SettingsStoreTest, AnyNonZeroFlagLoadsTrueAndIsWrittenBackAsOne)
{
    StoreAll(1, 5, 0x100, 4); // 0x100 has no bit in its low byte
    ShredSettings settings;
    settings.Load();
    EXPECT_EQ(SettingsText(settings), SettingsText(SettingsOf(1, 4, true, true)));
    settings.Save();
    EXPECT_EQ(StoredValues(), FourDwords(1, 1, 1, 4));

    DeleteKey();
    StoreAll(1, 0, 0x80000000, 4);
    settings.Load();
    EXPECT_EQ(SettingsText(settings), SettingsText(SettingsOf(1, 4, true, false)));
    settings.Save();
    EXPECT_EQ(StoredValues(), FourDwords(1, 0, 1, 4));
}

TEST_F(SettingsStoreTest, PassesOutsideTheDialogsRangeAreBroughtIntoItWhenLoaded)
{
    // No pass at all would overwrite nothing: a stored number no user could have entered loads
    // as the nearest the settings dialog accepts, and is written back so.
    const std::pair<DWORD, int32_t> cases[] = {
        {0UL, 1},     {0xFFFFFFFFUL, 1}, {0x80000000UL, 1}, {1UL, 1},
        {100UL, 100}, {101UL, 100},      {1000UL, 100},
    };
    for (const auto& [stored, loaded] : cases) {
        SCOPED_TRACE("stored passes " + Hex(stored));
        DeleteKey();
        StoreAll(0, 0, 1, stored);
        ShredSettings settings;
        settings.Load();
        EXPECT_EQ(SettingsText(settings), SettingsText(SettingsOf(0, loaded, true, false)));
        settings.Save();
        EXPECT_EQ(StoredValues(), FourDwords(0, 0, 1, loaded));
    }
}

TEST_F(SettingsStoreTest, LoadOpensForReadingQueriesTheFourValuesInOrderAndCloses)
{
    RecordingRegistry registry;
    Seam<SettingsRegistry>::Substitute inPlace(registry);
    const std::string open = KeyCall("open", KEY_READ);

    // No key: nothing to query and nothing to close.
    EXPECT_EQ(Loaded(), SettingsText(SettingsOf(0, 1, false, false)));
    EXPECT_EQ(registry.Calls, std::vector<std::string>{open});

    registry.Calls.clear();
    StoreAll(2, 1, 0, 17);
    EXPECT_EQ(Loaded(), SettingsText(SettingsOf(2, 17, false, true)));
    EXPECT_EQ(registry.Calls, (std::vector<std::string>{open, "query key ShreddingMethod size 4",
                                                        "query key MangleDateAndTime size 4",
                                                        "query key OverwriteTails size 4",
                                                        "query key Passes size 4", "close key"}));
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(SettingsStoreTest, SaveCreatesForWritingSetsTheFourDwordsInOrderAndCloses)
{
    RecordingRegistry registry;
    Seam<SettingsRegistry>::Substitute inPlace(registry);
    SettingsOf(2, 77, false, true).Save();
    EXPECT_EQ(registry.Calls,
              (std::vector<std::string>{
                  KeyCall("create", KEY_WRITE), "set key ShreddingMethod " + Dword(2),
                  "set key MangleDateAndTime " + Dword(1), "set key OverwriteTails " + Dword(0),
                  "set key Passes " + Dword(77), "close key"}));
    EXPECT_EQ(StoredValues(), FourDwords(2, 1, 0, 77));
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(SettingsStoreTest, KeyThatCannotBeCreatedShowsTheMessageOncePerSave)
{
    RecordingRegistry registry;
    registry.FailCreate = true;
    Seam<SettingsRegistry>::Substitute inPlace(registry);
    const ShredSettings settings = SettingsOf(1, 5, true, true);
    ShredSettings copy = settings;
    copy.Save();
    EXPECT_EQ(registry.Calls, std::vector<std::string>{KeyCall("create", KEY_WRITE)});
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{SaveFailedText});
    EXPECT_EQ(SettingsText(copy), SettingsText(settings))
        << "a failed save keeps the record in memory";
    EXPECT_FALSE(KeyExists());

    copy.Save();
    EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{SaveFailedText, SaveFailedText}));
}

TEST_F(SettingsStoreTest, FailedWriteStopsTheSaveKeepsEarlierValuesAndClosesTheKey)
{
    const char* const names[] = {"ShreddingMethod", "MangleDateAndTime", "OverwriteTails",
                                 "Passes"};
    const std::map<std::string, std::string> all = FourDwords(2, 1, 0, 6);
    for (int failing = 1; failing <= 4; ++failing) {
        SCOPED_TRACE("failing write " + std::to_string(failing));
        DeleteKey();
        const MessageBoxAnswerer answerer;
        RecordingRegistry registry;
        registry.FailWrite = failing;
        {
            Seam<SettingsRegistry>::Substitute inPlace(registry);
            SettingsOf(2, 6, false, true).Save();
        }

        std::map<std::string, std::string> written;
        for (int i = 0; i < failing - 1; ++i)
            written[names[i]] = all.at(names[i]);
        EXPECT_EQ(StoredValues(), written);
        ASSERT_EQ(registry.Calls.size(), static_cast<size_t>(failing + 2));
        EXPECT_EQ(registry.Calls[failing],
                  "set key " + std::string(names[failing - 1]) + " " + all.at(names[failing - 1]));
        EXPECT_EQ(registry.Calls.back(), "close key");
        EXPECT_EQ(answerer.Texts(), std::vector<std::string>{SaveFailedText});
    }
}

TEST_F(SettingsStoreTest, FailedWriteOverStoredValuesLeavesTheLaterOnesAsTheyWere)
{
    StoreAll(0, 0, 0, 1);
    RecordingRegistry registry;
    registry.FailWrite = 2; // the second write of all, so only the first save fails
    Seam<SettingsRegistry>::Substitute inPlace(registry);
    ShredSettings settings = SettingsOf(2, 40, true, true);
    settings.Save();
    EXPECT_EQ(StoredValues(), FourDwords(2, 0, 0, 1));
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{SaveFailedText});

    settings.Save();
    EXPECT_EQ(StoredValues(), FourDwords(2, 1, 1, 40));
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{SaveFailedText});
}

} // namespace
