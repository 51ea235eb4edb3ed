// The registry script interpreter at its edges: replacement of names between percent signs and
// its exact conversion, root names, value kinds, key names (empty ones, keywords before "Val",
// nesting depth), quoted tokens and buffer limits, the roll-back of a failing registration, and
// the removal pass with its skip mode and "NoRemove". Every script works under a key of the
// tests' own in HKEY_CURRENT_USER, where a sentinel beside the target shows what a script must
// leave alone; the registry is read back directly.
#include "RegistryKeys.h"
#include "TestFiles.h"
#include "TestOwners.h"
#include "common/TextConversion.h"
#include "registrar/RegistryScript.h"
#include "tools/RegistryTree.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>

namespace {

const char* const FixtureKey = "Software\\OrlenwickTests\\RegistryScriptTest";

// The fixture key and a path below it.
std::string Under(const std::string& path)
{
    return path.empty() ? FixtureKey : std::string(FixtureKey) + "\\" + path;
}

// A key below the fixture key, opened for reading one level at a time: a single call takes a
// path of limited length only. Invalid when it does not exist.
UniqueRegistryKey Key(const std::string& path)
{
    UniqueRegistryKey key = OpenKey(HKEY_CURRENT_USER, FixtureKey);
    for (size_t start = 0; key && start < path.size();) {
        const size_t end = std::min(path.find('\\', start), path.size());
        key = OpenKey(key.Get(), path.substr(start, end - start));
        start = end + 1;
    }
    return key;
}

bool KeyExists(const std::string& path)
{
    return Key(path).IsValid();
}

// Each of the keys exists (or, with `exist` false, none does).
void ExpectKeys(bool exist, std::initializer_list<std::string> paths)
{
    for (const std::string& path : paths)
        EXPECT_EQ(KeyExists(path), exist) << path;
}

// The value's type and bytes; none when it or its key is missing.
std::optional<RegistryData> ReadValue(const std::string& path, const char* name)
{
    const UniqueRegistryKey key = Key(path);
    RegistryData stored;
    DWORD size = 0;
    if (!key ||
        ::RegQueryValueExA(key.Get(), name, nullptr, &stored.Type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    stored.Bytes.resize(size);
    if (::RegQueryValueExA(key.Get(), name, nullptr, &stored.Type, stored.Bytes.data(), &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    stored.Bytes.resize(size);
    return stored;
}

// A REG_SZ value without its terminator; "<missing>" when there is none or it has another type.
std::string ReadString(const std::string& path, const char* name = nullptr)
{
    const std::optional<RegistryData> stored = ReadValue(path, name);
    if (!stored || stored->Type != REG_SZ || stored->Bytes.empty() || stored->Bytes.back() != 0)
        return "<missing>";
    return std::string(stored->Bytes.begin(), stored->Bytes.end() - 1);
}

struct Counts
{
    DWORD Subkeys = 0;
    DWORD Values = 0;
};

Counts CountsOf(const std::string& path)
{
    Counts counts;
    ::RegQueryInfoKeyA(Key(path).Get(), nullptr, nullptr, nullptr, &counts.Subkeys, nullptr,
                       nullptr, &counts.Values, nullptr, nullptr, nullptr, nullptr);
    return counts;
}

void MakeKey(const std::string& path)
{
    ASSERT_TRUE(CreateKey(HKEY_CURRENT_USER, Under(path)));
}

void SetString(const std::string& path, const char* name, const std::string& value)
{
    const UniqueRegistryKey key = CreateKey(HKEY_CURRENT_USER, Under(path));
    ASSERT_TRUE(key);
    SetString(key.Get(), name, value);
}

// `path` below `parent`, both relative to the fixture key.
std::string Join(const std::string& parent, const std::string& path)
{
    return parent.empty() ? path : parent + "\\" + path;
}

// A value and a subkey of the tests' own beside a script's target: a script names neither, so
// both must outlive every run.
void PlantSentinel(const std::string& parent)
{
    SetString(parent, "Sentinel", "beside");
    SetString(Join(parent, "Sentinel"), "Kept", "below");
}

void ExpectSentinel(const std::string& parent, const std::string& after)
{
    EXPECT_EQ(ReadString(parent, "Sentinel"), "beside") << after;
    EXPECT_EQ(ReadString(Join(parent, "Sentinel"), "Kept"), "below") << after;
}

// The root block that leads to the fixture key; the caller's entries stand inside its block.
const char* const OpenFixture = "HKCU\r\n{\r\n\tNoRemove Software\r\n\t{\r\n"
                                "\t\tNoRemove OrlenwickTests\r\n\t\t{\r\n"
                                "\t\t\tNoRemove RegistryScriptTest\r\n\t\t\t{\r\n";
const char* const CloseFixture = "\r\n\t\t\t}\r\n\t\t}\r\n\t}\r\n}\r\n";

std::string Script(const std::string& entries)
{
    return OpenFixture + entries + CloseFixture;
}

// The entries at the fixture key itself, or inside a "NoRemove" block of `parent` below it.
std::string In(const std::string& parent, const std::string& entries)
{
    return parent.empty() ? entries : "NoRemove " + parent + " { " + entries + " }";
}

class RegistryScriptTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        DeleteFixture();
        MakeKey("");
    }
    void TearDown() override { DeleteFixture(); }

    static void DeleteFixture()
    {
        ::RegDeleteTreeA(HKEY_CURRENT_USER, FixtureKey);
        // Goes only when empty: other test programs keep their keys beside ours.
        ::RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\OrlenwickTests");
    }

    HRESULT Run(const std::string& script, bool registering)
    {
        return RunScript(script.c_str(), registering, replacements);
    }
    HRESULT Register(const std::string& entries) { return Run(Script(entries), true); }
    HRESULT Remove(const std::string& entries) { return Run(Script(entries), false); }

    // Registration refuses each of the entries.
    void ExpectRegistrationRefuses(std::initializer_list<std::string> entries)
    {
        for (const std::string& entry : entries)
            EXPECT_EQ(Register(entry), DISP_E_EXCEPTION) << entry;
    }

    // Registration, then removal, of a whole script give `hr`.
    void ExpectBothPasses(const std::string& script, HRESULT hr, const std::string& trace)
    {
        EXPECT_EQ(Run(script, true), hr) << "registering " << trace;
        EXPECT_EQ(Run(script, false), hr) << "removing " << trace;
    }

    ReplacementMap replacements;
};

// Replacement of names between percent signs

TEST_F(RegistryScriptTest, ModuleIsFoundInAnyCaseAndAnApostropheArrivesWhole)
{
    // The map holds the apostrophe doubled, so that the value can stand inside a quoted token.
    ASSERT_EQ(replacements.Add(L"Module", L"C:\\Tom''s Tools\\Orlenwick.dll"), S_OK);
    ASSERT_EQ(Register("Server = s '%MODULE%'\r\n{\r\n\tval Path = s '%module%'\r\n}"), S_OK);

    EXPECT_EQ(ReadString("Server"), "C:\\Tom's Tools\\Orlenwick.dll");
    EXPECT_EQ(ReadString("Server", "Path"), "C:\\Tom's Tools\\Orlenwick.dll");
}

TEST_F(RegistryScriptTest, TheFirstOfTwoMatchingNamesWins)
{
    ASSERT_EQ(replacements.Add(L"Name", L"first"), S_OK);
    ASSERT_EQ(replacements.Add(L"NAME", L"second"), S_OK);
    ASSERT_EQ(Register("Chosen = s '%name%'"), S_OK);

    EXPECT_EQ(ReadString("Chosen"), "first");
}

TEST_F(RegistryScriptTest, DoublePercentGivesOnePercent)
{
    ASSERT_EQ(replacements.Add(L"Module", L"x.dll"), S_OK);
    ASSERT_EQ(Register("Rate = s '100%%' Framed = s '%%%Module%%%'"), S_OK);

    EXPECT_EQ(ReadString("Rate"), "100%");
    EXPECT_EQ(ReadString("Framed"), "%x.dll%");
}

TEST_F(RegistryScriptTest, UnclosedPercentFailsBeforeAnythingIsWritten)
{
    ASSERT_EQ(replacements.Add(L"Module", L"x.dll"), S_OK);

    EXPECT_EQ(Run(Script("Early = s 'e'") + "%", true), DISP_E_EXCEPTION);
    EXPECT_EQ(Run(Script("Early = s 'e'") + "\r\n%Module", true), DISP_E_EXCEPTION);
    EXPECT_FALSE(KeyExists("Early"));
}

TEST_F(RegistryScriptTest, NamesBetweenPercentSignsHoldAtMost31Bytes)
{
    const std::string name31(31, 'n');
    const std::string name32(32, 'n');
    ASSERT_EQ(replacements.Add(Widen(name31).c_str(), L"short enough"), S_OK);
    ASSERT_EQ(replacements.Add(Widen(name32).c_str(), L"too long"), S_OK);

    ASSERT_EQ(Register("Fits = s '%" + name31 + "%'"), S_OK);
    EXPECT_EQ(ReadString("Fits"), "short enough");

    EXPECT_EQ(Register("Long = s '%" + name32 + "%'"), E_FAIL);
    EXPECT_FALSE(KeyExists("Long"));
}

TEST_F(RegistryScriptTest, NameMissingFromTheMapFails)
{
    ASSERT_EQ(replacements.Add(L"Module", L"x.dll"), S_OK);

    EXPECT_EQ(Register("Early = s 'e' Server = s '%Modul%'"), DISP_E_EXCEPTION);
    ExpectKeys(false, {"Early", "Server"});
}

TEST_F(RegistryScriptTest, UnclosedPercentFailsAlikeHoweverLongTheRestIs)
{
    ASSERT_EQ(replacements.Add(L"Module", L"x.dll"), S_OK);
    PlantSentinel("");

    for (size_t rest : {0, 30, 31, 32, 33, 100, 5000})
        ExpectBothPasses(Script("Early = s 'e'") + "%" + std::string(rest, 'n'), DISP_E_EXCEPTION,
                         std::to_string(rest));
    // A lone "%" early in the text: everything after it is the would-be name.
    EXPECT_EQ(Register("Early = s '%Module'"), DISP_E_EXCEPTION);
    EXPECT_FALSE(KeyExists("Early"));
    ExpectSentinel("", "unclosed percent");
}

TEST_F(RegistryScriptTest, ReplacementThatDoesNotConvertExactlyFailsTheRun)
{
    PlantSentinel("");
    // U+0100 has only a look-alike ("A") in the narrow code page.
    ASSERT_EQ(replacements.Add(L"Module", L"C:\\\x0100\\Orlenwick.dll"), S_OK);
    ASSERT_EQ(replacements.Add(L"Cafe", L"C:\\caf\x00E9\\Orlenwick.dll"), S_OK);

    const std::string entries = "Early = s 'e' Server = s '%Module%'";
    EXPECT_EQ(Register(entries), HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
    ExpectKeys(false, {"Early", "Server"});
    EXPECT_EQ(Remove(entries), HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
    ExpectSentinel("", "look-alike replacement");

    // A character the code page has arrives as itself.
    ASSERT_EQ(Register("Server = s '%Cafe%'"), S_OK);
    EXPECT_EQ(ReadString("Server"), "C:\\caf\xE9\\Orlenwick.dll");
}

TEST_F(RegistryScriptTest, ReplacementNamesMatchOnlyAsTheyConvertExactly)
{
    // Stored first, the look-alike would win if its name were converted with best fit.
    ASSERT_EQ(replacements.Add(L"Mod\x0100", L"look-alike"), S_OK);
    ASSERT_EQ(replacements.Add(L"Caf\x00E9", L"exact"), S_OK);
    ASSERT_EQ(replacements.Add(L"ModA", L"plain"), S_OK);

    ASSERT_EQ(Register("Plain = s '%moda%' Exact = s '%CAF\xC9%'"), S_OK);
    EXPECT_EQ(ReadString("Plain"), "plain");
    EXPECT_EQ(ReadString("Exact"), "exact");

    ReplacementMap onlyLookAlike;
    ASSERT_EQ(onlyLookAlike.Add(L"Mod\x0100", L"look-alike"), S_OK);
    EXPECT_EQ(RunScript(Script("Server = s '%ModA%'").c_str(), true, onlyLookAlike),
              DISP_E_EXCEPTION);
    EXPECT_FALSE(KeyExists("Server"));
}

// Root blocks

TEST_F(RegistryScriptTest, RootNameWrittenAgainstItsBraceIsUnknown)
{
    std::string script = Script("Glued = s 'g'");
    script.replace(0, 6, "HKCU{ "); // "HKCU\r\n{" becomes "HKCU{ "

    EXPECT_EQ(Run(script, true), DISP_E_EXCEPTION);
    EXPECT_FALSE(KeyExists("Glued"));
}

TEST_F(RegistryScriptTest, EveryRootNameIsAcceptedInAnyCase)
{
    const char* const names[][2] = {
        {"HKCR", "HKEY_CLASSES_ROOT"},     {"HKCU", "HKEY_CURRENT_USER"},
        {"HKLM", "HKEY_LOCAL_MACHINE"},    {"HKU", "HKEY_USERS"},
        {"HKPD", "HKEY_PERFORMANCE_DATA"}, {"HKDD", "HKEY_DYN_DATA"},
        {"HKCC", "HKEY_CURRENT_CONFIG"}};
    for (const auto& both : names) {
        for (const std::string name : both) {
            std::string lower = name;
            for (char& c : lower)
                c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
            std::string mixed = lower;
            mixed[0] = name[0];
            // An empty block reaches no key: only the name is judged.
            for (const std::string& written : {name, lower, mixed})
                ExpectBothPasses(written + " { }", S_OK, written);
        }
    }
    EXPECT_EQ(Run("HKEY_CURRENT_USERS { }", true), DISP_E_EXCEPTION);
    EXPECT_EQ(Run("HK { }", true), DISP_E_EXCEPTION);

    // The current user's names write where HKCU does.
    for (const char* written : {"hkcu", "HkCu", "hkey_current_user", "HKEY_Current_User"}) {
        std::string script = Script(std::string("ByName = s '") + written + "'");
        script.replace(0, 4, written);
        ASSERT_EQ(Run(script, true), S_OK) << written;
        EXPECT_EQ(ReadString("ByName"), written);
    }
}

TEST_F(RegistryScriptTest, RootNameMustBeFollowedByABlock)
{
    EXPECT_EQ(Run("HKCU Software { }", true), DISP_E_EXCEPTION);
    EXPECT_EQ(Run("HKCU } {", true), DISP_E_EXCEPTION);
    EXPECT_EQ(Run("HKCU", true), DISP_E_EXCEPTION);
    EXPECT_EQ(Run("HKCU   \r\n", false), DISP_E_EXCEPTION);
    // Blanks alone after the last block end the script.
    EXPECT_EQ(Run("HKCU { }\r\n\t \r\n", true), S_OK);
}

// Values

TEST_F(RegistryScriptTest, NamedValueIsWrittenThenDeletedAloneByRemoval)
{
    SetString("Server", "Foreign", "theirs");
    const std::string entries =
        "NoRemove Server = s 'default'\r\n{\r\n\tval ThreadingModel = s 'Apartment'\r\n}";

    ASSERT_EQ(Register(entries), S_OK);
    EXPECT_EQ(ReadString("Server"), "default");
    EXPECT_EQ(ReadString("Server", "ThreadingModel"), "Apartment");
    EXPECT_EQ(ReadString("Server", "Foreign"), "theirs");

    ASSERT_EQ(Remove(entries), S_OK);
    EXPECT_FALSE(ReadValue("Server", "ThreadingModel").has_value());
    EXPECT_EQ(ReadString("Server"), "default");
    EXPECT_EQ(ReadString("Server", "Foreign"), "theirs");
    EXPECT_EQ(CountsOf("Server").Values, 2u);
}

TEST_F(RegistryScriptTest, ValueKindsStoreTheirTypeAndBytes)
{
    ASSERT_EQ(Register("Kinds\r\n{\r\n"
                       "\tval Text = s 'two words'\r\n"
                       "\tval Small = d '42'\r\n"
                       "\tval Largest = D 4294967295\r\n"
                       "\tval Mixed = b '0aF1'\r\n"
                       "\tval NotHex = B 'zq'\r\n"
                       "\tval Nothing = b ''\r\n"
                       "\tval Upper = S 'U'\r\n"
                       "}"),
              S_OK);

    const std::pair<const char*, RegistryData> stored[] = {
        {"Text", {REG_SZ, {'t', 'w', 'o', ' ', 'w', 'o', 'r', 'd', 's', 0}}},
        {"Upper", {REG_SZ, {'U', 0}}},
        {"Small", {REG_DWORD, {42, 0, 0, 0}}},
        {"Largest", {REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}}},
        {"Mixed", {REG_BINARY, {0x0A, 0xF1}}},
        {"NotHex", {REG_BINARY, {0x00}}},
        {"Nothing", {REG_BINARY, {}}},
    };
    for (const auto& [name, data] : stored)
        EXPECT_EQ(ReadValue("Kinds", name), data) << name;
}

TEST_F(RegistryScriptTest, OddBinaryDigitsAndUnknownKindsFail)
{
    EXPECT_EQ(Register("Odd = b 'abc'"), E_FAIL);
    EXPECT_FALSE(KeyExists("Odd"));

    ExpectRegistrationRefuses(
        {"Unknown = x 'abc'", "Word = sz 'abc'", "Holder { val Named = q '1' }"});
    ExpectKeys(false, {"Unknown", "Word", "Holder"});
}

TEST_F(RegistryScriptTest, ValMustBeFollowedByANameAndAnEqualsSign)
{
    ExpectRegistrationRefuses({"val Named s 'x'", "val Named 'x'"});
    EXPECT_EQ(Remove("val Named s 'x'"), DISP_E_EXCEPTION);
    EXPECT_FALSE(ReadValue("", "Named").has_value());
}

// Key names

TEST_F(RegistryScriptTest, KeyNameThatBeginsWithABraceIsAKey)
{
    // The class identifier directly after Parent is Parent's sibling, not a block of Parent.
    const std::string entries = "Parent\r\n{645FF040-5081-101B-9F08-00AA002F954E} = s 'bin'\r\n"
                                "{ Child = s 'c' }";
    ASSERT_EQ(Register(entries), S_OK);

    EXPECT_EQ(CountsOf("Parent").Subkeys, 0u);
    EXPECT_EQ(ReadString("{645FF040-5081-101B-9F08-00AA002F954E}"), "bin");
    EXPECT_EQ(ReadString("{645FF040-5081-101B-9F08-00AA002F954E}\\Child"), "c");

    ASSERT_EQ(Remove(entries), S_OK);
    ExpectKeys(false, {"Parent", "{645FF040-5081-101B-9F08-00AA002F954E}"});
}

TEST_F(RegistryScriptTest, KeyNameWithABackslashIsRefused)
{
    MakeKey("Outer\\Inner");

    ExpectRegistrationRefuses({"Outer\\Inner = s 'x'", "ForceRemove Outer\\Inner",
                               "Delete Outer\\Inner", "'Quoted\\Name' = s 'x'"});
    EXPECT_EQ(Remove("Outer\\Inner"), DISP_E_EXCEPTION);

    ExpectKeys(true, {"Outer\\Inner"});
    EXPECT_FALSE(ReadValue("Outer\\Inner", nullptr).has_value());
    ExpectKeys(false, {"Quoted"});
}

TEST_F(RegistryScriptTest, AnEmptyKeyNameIsRefusedAndNeverStandsForItsParent)
{
    MakeKey("Parent\\Child");

    EXPECT_EQ(Register("Parent { '' = s 'x' }"), DISP_E_EXCEPTION);
    // In removal an empty name would open, and then delete, the parent itself.
    EXPECT_EQ(Remove("Parent { '' }"), DISP_E_EXCEPTION);

    EXPECT_TRUE(KeyExists("Parent\\Child"));
    EXPECT_FALSE(ReadValue("Parent", nullptr).has_value());
}

TEST_F(RegistryScriptTest, EmptyKeyNameAfterAKeywordIsRefusedBeforeAnythingIsDeleted)
{
    // At the fixture key itself, as the first level of a script, and one level further down.
    for (const std::string& parent : {std::string(), std::string("Parent")}) {
        for (const char* entry :
             {"ForceRemove ''", "ForceRemove '' = s 'x'", "ForceRemove '' { Inner }", "Delete ''",
              "Delete '' = s 'x'", "NoRemove ''", "NoRemove '' { }", "ForceRemove NoRemove ''",
              "Plain { } ForceRemove ''"}) {
            MakeKey(Join(parent, "Child\\Deep"));
            PlantSentinel(parent);
            const std::string entries = In(parent, entry);

            EXPECT_EQ(Register(entries), DISP_E_EXCEPTION) << entries;
            EXPECT_TRUE(KeyExists(Join(parent, "Child\\Deep"))) << entries;
            ExpectSentinel(parent, "registering " + entries);

            EXPECT_EQ(Remove(entries), DISP_E_EXCEPTION) << entries;
            EXPECT_TRUE(KeyExists(Join(parent, "Child\\Deep"))) << entries;
            ExpectSentinel(parent, "removing " + entries);
        }
    }
    // The undo walk of a registration that failed earlier meets the empty name first.
    MakeKey("Parent\\Child");
    PlantSentinel("Parent");
    EXPECT_EQ(Register("Bad = b '123'\r\nNoRemove Parent { ForceRemove '' }"), E_FAIL);
    ExpectKeys(false, {"Bad"});
    ExpectKeys(true, {"Parent\\Child"});
    ExpectSentinel("Parent", "undo walk");
}

TEST_F(RegistryScriptTest, EmptyValueNameIsRefusedAndTheDefaultValueStays)
{
    // An empty value name would be the enclosing key's default value: at the first level of a
    // script that is the root key's, and under "NoRemove" a shared key's.
    for (const std::string& parent : {std::string(), std::string("Parent")}) {
        SetString(parent, nullptr, "theirs");
        PlantSentinel(parent);
        for (const char* entry :
             {"val '' = s 'mine'", "NoRemove val '' = s 'mine'", "ForceRemove val '' = s 'mine'"}) {
            const std::string entries = In(parent, entry);

            EXPECT_EQ(Register(entries), DISP_E_EXCEPTION) << entries;
            EXPECT_EQ(ReadString(parent), "theirs") << entries;
            EXPECT_EQ(Remove(entries), DISP_E_EXCEPTION) << entries;
            EXPECT_EQ(ReadString(parent), "theirs") << entries;
            ExpectSentinel(parent, entries);
        }
    }
}

TEST_F(RegistryScriptTest, ForceRemoveOrNoRemoveFollowedByValNamesAValue)
{
    // A key named "Val" that the script never names, with a tree of its own.
    SetString("P\\Val\\Foreign", "Deep", "theirs");
    PlantSentinel("P");

    ASSERT_EQ(Register("NoRemove P { NoRemove Val x = s 'y' }"), S_OK);
    EXPECT_EQ(ReadString("P", "x"), "y");
    ASSERT_EQ(Register("NoRemove P { ForceRemove Val z = s 'w' }"), S_OK);
    EXPECT_EQ(ReadString("P", "z"), "w");
    ASSERT_EQ(Register("NoRemove P { ForceRemove NoRemove Val v = d 5 }"), S_OK);
    EXPECT_EQ(ReadValue("P", "v"), (RegistryData{REG_DWORD, {5, 0, 0, 0}}));
    ExpectKeys(false, {"P\\x", "P\\z"});
    EXPECT_EQ(ReadString("P\\Val\\Foreign", "Deep"), "theirs");
    EXPECT_EQ(CountsOf("P\\Val").Subkeys, 1u);
    EXPECT_EQ(CountsOf("P").Subkeys, 2u); // Val and the sentinel

    // In removal the value goes, and "NoRemove" still holds for the later entries.
    MakeKey("P\\Later");
    ASSERT_EQ(Remove("NoRemove P { NoRemove Val x = s 'y' Later { } }"), S_OK);
    EXPECT_FALSE(ReadValue("P", "x").has_value());
    EXPECT_TRUE(KeyExists("P\\Later"));
    ASSERT_EQ(Remove("NoRemove P { ForceRemove Val z = s 'w' }"), S_OK);
    EXPECT_FALSE(ReadValue("P", "z").has_value());
    EXPECT_EQ(ReadString("P\\Val\\Foreign", "Deep"), "theirs");
    ExpectSentinel("P", "values after keywords");

    // "Delete" deletes keys and creates nothing: before "Val" it has no meaning.
    ExpectBothPasses(Script("NoRemove P { Delete Val q = s 'r' }"), DISP_E_EXCEPTION, "delete");
    EXPECT_FALSE(ReadValue("P", "q").has_value());
    EXPECT_FALSE(KeyExists("P\\q"));
    EXPECT_EQ(ReadString("P\\Val\\Foreign", "Deep"), "theirs");
    ExpectSentinel("P", "delete before val");
}

TEST_F(RegistryScriptTest, BlockAfterAValueIsRefusedInBothPassesAndTheUndoStopsThere)
{
    // Keys of the fixture's own level named like entries inside the refused block.
    MakeKey("Inner");
    MakeKey("Later");
    PlantSentinel("");
    const std::string entries = "P { val x = s 'y' { Inner } Later }";

    EXPECT_EQ(Register(entries), DISP_E_EXCEPTION);
    ExpectKeys(true, {"Inner", "Later"});
    EXPECT_EQ(Remove(entries), DISP_E_EXCEPTION);
    ExpectKeys(true, {"Inner", "Later"});
    ExpectSentinel("", "block after a value");
}

TEST_F(RegistryScriptTest, ValueClauseAfterABlockIsRefusedInBothPasses)
{
    // A key of the fixture's own level named like an entry of the later block.
    MakeKey("X");
    PlantSentinel("");
    const std::string entries = "A { } = s v { X }";

    EXPECT_EQ(Register(entries), DISP_E_EXCEPTION);
    EXPECT_FALSE(KeyExists("="));
    EXPECT_EQ(Remove(entries), DISP_E_EXCEPTION);
    EXPECT_TRUE(KeyExists("X"));
    ExpectSentinel("", "value clause after a block");
}

// Nested key entries, each block one level deeper; `levels` counts the fixture's own three.
std::string Nested(size_t levels, const std::string& innermost = "")
{
    std::string entries;
    for (size_t level = 4; level <= levels; ++level)
        entries += "N { ";
    entries += innermost;
    for (size_t level = 4; level <= levels; ++level)
        entries += " }";
    return entries;
}

std::string NestedPath(size_t levels)
{
    std::string path;
    for (size_t level = 4; level <= levels; ++level)
        path = Join(path, "N");
    return path;
}

TEST_F(RegistryScriptTest, KeysNestDownTo512LevelsAndNoDeeper)
{
    PlantSentinel("");

    // A key at the 512th level may still hold values.
    ASSERT_EQ(Register(Nested(512, "val Deepest = s 'd'")), S_OK);
    EXPECT_EQ(ReadString(NestedPath(512), "Deepest"), "d");
    ASSERT_EQ(Remove(Nested(512, "val Deepest = s 'd'")), S_OK);
    EXPECT_FALSE(KeyExists("N"));

    // Refused in both passes before the 513th level is opened or created.
    EXPECT_EQ(Remove(Nested(513)), DISP_E_EXCEPTION);
    EXPECT_EQ(Register(Nested(513)), DISP_E_EXCEPTION);
    EXPECT_TRUE(KeyExists(NestedPath(512)));
    EXPECT_FALSE(KeyExists(NestedPath(513)));
    ExpectSentinel("", "513 levels");
}

TEST_F(RegistryScriptTest, DeeplyNestedScriptFailsInsteadOfExhaustingTheStack)
{
    PlantSentinel("");
    // About 60 KB of nested blocks. Removal first: it opens nothing on the way down.
    const std::string entries = Nested(15000);

    EXPECT_EQ(Remove(entries), DISP_E_EXCEPTION);
    EXPECT_EQ(Register(entries), DISP_E_EXCEPTION);
    EXPECT_FALSE(KeyExists(NestedPath(513)));
    ExpectSentinel("", "nested blocks");
}

// Roll-back of a failing registration

TEST_F(RegistryScriptTest, FailureInTheThirdEntryUndoesTheBlockExceptNoRemoveKeys)
{
    const std::string script =
        Script("Earlier = s 'e'") + Script("First = s 'one' { Sub = s 'x' }\r\n"
                                           "Second { NoRemove Kept = s 'k' }\r\n"
                                           "Third = q 'bad'");

    EXPECT_EQ(Run(script, true), DISP_E_EXCEPTION);

    EXPECT_EQ(ReadString("Earlier"), "e");
    ExpectKeys(false, {"First", "Third"});
    // Kept is never deleted, so Second keeps a subkey and stays too.
    EXPECT_EQ(ReadString("Second\\Kept"), "k");
}

TEST_F(RegistryScriptTest, UnclosedBlockUndoesWhatTheRootBlockCreated)
{
    const std::string script =
        Script("Earlier = s 'e'") + OpenFixture + "First {} Second = s '2' Third { Sub = s 's'";

    EXPECT_EQ(Run(script, true), DISP_E_EXCEPTION);

    ExpectKeys(true, {"Earlier", ""});
    ExpectKeys(false, {"First", "Second"});
}

TEST_F(RegistryScriptTest, RollBackReturnsTheFirstFailure)
{
    EXPECT_EQ(Register("First {} Second {} Third = b '123'"), E_FAIL);
    ExpectKeys(false, {"First", "Second", "Third"});
}

// The removal pass

TEST_F(RegistryScriptTest, MissingKeySkipsItsBlockAndDeletesNothingElsewhere)
{
    // The fixture key holds the names that the missing key's block would delete.
    SetString("", "Shared", "stays");
    SetString("Leaf", nullptr, "stays");
    MakeKey("Deep");
    SetString("After", "Named", "goes");

    ASSERT_EQ(Remove("Missing = s 'm'\r\n{\r\n"
                     "\tLeaf { Deep }\r\n"
                     "\tval Shared = s 'x'\r\n"
                     "\tDeep\r\n"
                     "}\r\n"
                     "After { val Named = s 'n' }"),
              S_OK);

    EXPECT_EQ(ReadString("", "Shared"), "stays");
    EXPECT_EQ(ReadString("Leaf"), "stays");
    ExpectKeys(true, {"Deep"});
    ExpectKeys(false, {"After"});
}

TEST_F(RegistryScriptTest, MissingLeafLeavesTheLaterEntriesToBeRemoved)
{
    const std::string entries = "Class = s 'c'\r\n{\r\n"
                                "\tProgID = s 'p'\r\n"
                                "\tOther = s 'o' { Inner }\r\n"
                                "\tval Named = s 'n'\r\n"
                                "}";
    ASSERT_EQ(Register(entries), S_OK);
    ASSERT_EQ(::RegDeleteKeyA(HKEY_CURRENT_USER, Under("Class\\ProgID").c_str()), ERROR_SUCCESS);
    SetString("", "Named", "not the class's");

    ASSERT_EQ(Remove(entries), S_OK);

    EXPECT_FALSE(KeyExists("Class"));
    EXPECT_EQ(ReadString("", "Named"), "not the class's");
}

TEST_F(RegistryScriptTest, NoRemoveHoldsForEveryLaterEntryOfItsBlock)
{
    MakeKey("Holder\\A");
    MakeKey("Holder\\B");
    MakeKey("Holder\\Inside\\C");
    MakeKey("Plain");

    ASSERT_EQ(Remove("Holder\r\n{\r\n"
                     "\tNoRemove A\r\n\t{\r\n\t}\r\n"
                     "\tB\r\n\t{\r\n\t}\r\n"
                     "\tInside { C { } }\r\n"
                     "}\r\n"
                     "Plain { }"),
              S_OK);

    // A block of its own starts deletable again, though its key stays.
    ExpectKeys(true, {"Holder\\A", "Holder\\B", "Holder\\Inside"});
    ExpectKeys(false, {"Holder\\Inside\\C", "Plain"});
}

TEST_F(RegistryScriptTest, ForeignSubkeyKeepsTheKeyWhileTheNamedEntriesGo)
{
    const std::string entries =
        "Class = s 'Class Name'\r\n{\r\n"
        "\tProgID = s 'p'\r\n"
        "\tInprocServer32 = s 'server.dll' { val ThreadingModel = s 'Both' }\r\n"
        "\tval Named = s 'n'\r\n"
        "}";
    ASSERT_EQ(Register(entries), S_OK);
    SetString("Class\\Foreign", nullptr, "theirs");
    SetString("Class", "Unnamed", "theirs too");

    ASSERT_EQ(Remove(entries), S_OK);

    EXPECT_EQ(ReadString("Class"), "Class Name");
    EXPECT_EQ(ReadString("Class\\Foreign"), "theirs");
    EXPECT_EQ(ReadString("Class", "Unnamed"), "theirs too");
    EXPECT_FALSE(ReadValue("Class", "Named").has_value());
    ExpectKeys(false, {"Class\\ProgID", "Class\\InprocServer32"});
    EXPECT_EQ(CountsOf("Class").Subkeys, 1u);
}

TEST_F(RegistryScriptTest, KeptKeyLosesASubkeyOfItsOwnNameUnlessProtectedOrNeverRemoved)
{
    SetString("Class\\Class\\Deep", nullptr, "d");
    MakeKey("Class\\Foreign");
    MakeKey("CLSID\\clsid\\Deep");
    MakeKey("CLSID\\Foreign");
    // A shared key the script never removes (the system's own, such as Software or Windows):
    // what lies under it is other programs', whatever its name.
    MakeKey("Shared\\Shared\\Theirs");
    MakeKey("Shared\\Ours");

    ASSERT_EQ(Remove("Class { }\r\nCLSID { }\r\nNoRemove Shared { Ours }"), S_OK);

    ExpectKeys(false, {"Class\\Class", "Shared\\Ours"});
    ExpectKeys(
        true, {"Class\\Foreign", "CLSID\\clsid\\Deep", "CLSID\\Foreign", "Shared\\Shared\\Theirs"});
}

TEST_F(RegistryScriptTest, KeyThatGrantsOnlyReadingIsStillWalked)
{
    SetString("Locked", "Named", "n");
    MakeKey("Locked\\Child");
    {
        UniqueLocalMemory descriptor;
        // Everyone may read and delete the key, but not change its values.
        ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(
            "D:P(A;;KRSD;;;WD)", SDDL_REVISION_1, descriptor.Receive(), nullptr));
        UniqueRegistryKey key;
        ASSERT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, Under("Locked").c_str(), 0, WRITE_DAC,
                                  key.Receive()),
                  ERROR_SUCCESS);
        EXPECT_EQ(::RegSetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, descriptor.Get()),
                  ERROR_SUCCESS);
    }
    UniqueRegistryKey probe;
    ASSERT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, Under("Locked").c_str(), 0,
                              KEY_READ | KEY_SET_VALUE, probe.Receive()),
              ERROR_ACCESS_DENIED);

    ASSERT_EQ(Remove("NoRemove Locked { Child val Named = s 'n' }"), S_OK);

    ExpectKeys(true, {"Locked"});
    ExpectKeys(false, {"Locked\\Child"});
}

TEST_F(RegistryScriptTest, ForceRemoveAndDeleteAreOrdinaryKeysInRemoval)
{
    MakeKey("Forced");
    MakeKey("Deleted");

    ASSERT_EQ(Remove("ForceRemove Forced = s 'f' { }\r\nDelete Deleted = s 'd'"), S_OK);

    ExpectKeys(false, {"Forced", "Deleted"});
}

// ForceRemove and Delete in registration

TEST_F(RegistryScriptTest, ForceRemoveReplacesAKeyByACleanOne)
{
    SetString("Handler", nullptr, "old");
    SetString("Handler", "Foreign", "theirs");
    SetString("Handler\\Sub\\Deep", "Foreign", "theirs");

    ASSERT_EQ(Register("ForceRemove Handler = s '{1C3E125F-9542-4FA8-B083-6F5808BADA62}'"), S_OK);

    EXPECT_EQ(ReadString("Handler"), "{1C3E125F-9542-4FA8-B083-6F5808BADA62}");
    EXPECT_EQ(CountsOf("Handler").Values, 1u);
    EXPECT_EQ(CountsOf("Handler").Subkeys, 0u);
}

TEST_F(RegistryScriptTest, ForceRemoveSparesProtectedNamesAndOpensThem)
{
    SetString("CLSID", "Foreign", "theirs");
    MakeKey("CLSID\\Other");
    SetString("TypeLib\\Other", nullptr, "theirs");

    ASSERT_EQ(Register("ForceRemove CLSID { Entry = s 'e' }\r\n"
                       "ForceRemove typelib = s 'lib'"),
              S_OK);

    EXPECT_EQ(ReadString("CLSID", "Foreign"), "theirs");
    EXPECT_TRUE(KeyExists("CLSID\\Other"));
    EXPECT_EQ(ReadString("CLSID\\Entry"), "e");
    EXPECT_EQ(ReadString("TypeLib\\Other"), "theirs");
    EXPECT_EQ(ReadString("TypeLib"), "lib");
}

TEST_F(RegistryScriptTest, DeleteRemovesATreeAndCreatesNothing)
{
    SetString("Gone\\Sub\\Deep", "Value", "v");
    SetString("Gone", nullptr, "g");

    ASSERT_EQ(Register("Delete Gone = s 'not written'\r\n"
                       "Delete Never\r\n"
                       "After = s 'a'"),
              S_OK);

    ExpectKeys(false, {"Gone", "Never"});
    EXPECT_EQ(ReadString("After"), "a");
}

// Tokens

TEST_F(RegistryScriptTest, QuotedTokensKeepBlanksAndTurnTwoQuotesIntoOne)
{
    ASSERT_EQ(Register("'Key With\tBlanks' = s ' it''s  here '\r\n"
                       "Quote = s ''''\r\n"
                       "Empty = s ''\r\n"
                       "Brace = s '{ = }'\r\n"
                       "Parent { Child = s 'c' '} ignored' Sibling = s 's'"),
              S_OK);

    EXPECT_EQ(ReadString("Key With\tBlanks"), " it's  here ");
    EXPECT_EQ(ReadString("Quote"), "'");
    EXPECT_EQ(ReadString("Empty"), "");
    EXPECT_EQ(ReadString("Brace"), "{ = }");
    // A quoted token beginning with "}" ends a block too.
    EXPECT_EQ(ReadString("Parent\\Child"), "c");
    EXPECT_EQ(ReadString("Sibling"), "s");
}

TEST_F(RegistryScriptTest, UnclosedQuoteAndMissingTokensFail)
{
    EXPECT_EQ(Run(OpenFixture + std::string("Open = s 'abc } } } }"), true), DISP_E_EXCEPTION);
    EXPECT_FALSE(ReadValue("Open", nullptr).has_value());

    for (const char* cut : {"Cut =", "Cut = s", "Cut = s   ", "Cut", "Cut {", "val", "val Name",
                            "val Name =", "NoRemove", "ForceRemove", "Delete"})
        ExpectBothPasses(OpenFixture + std::string(cut), DISP_E_EXCEPTION, cut);
    EXPECT_EQ(Run("HKCU {", true), DISP_E_EXCEPTION);
    EXPECT_EQ(Run("", true), S_OK);
}

TEST_F(RegistryScriptTest, TokensAreBoundedByTheirBuffers)
{
    const std::string longest(4095, 'u');
    ASSERT_EQ(Register("Bare = s " + longest), S_OK);
    EXPECT_EQ(ReadString("Bare"), longest);
    EXPECT_EQ(Register("Overlong = s " + longest + "u"), DISP_E_EXCEPTION);
    EXPECT_FALSE(ReadValue("Overlong", nullptr).has_value());

    const std::string quoted(4094, 'q');
    ASSERT_EQ(Register("Quoted = s '" + quoted + "'"), S_OK);
    EXPECT_EQ(ReadString("Quoted"), quoted);
    EXPECT_EQ(Register("QuotedOverlong = s '" + quoted + "q'"), DISP_E_EXCEPTION);
    EXPECT_FALSE(ReadValue("QuotedOverlong", nullptr).has_value());
    // A doubled quote counts once.
    ASSERT_EQ(Register("Halved = s '" + std::string(4093, 'q') + "'''"), S_OK);
    EXPECT_EQ(ReadString("Halved"), std::string(4093, 'q') + "'");

    const std::string valueName(255, 'v');
    ASSERT_EQ(Register("Names { val " + valueName + " = s 'fits' }"), S_OK);
    EXPECT_EQ(ReadString("Names", valueName.c_str()), "fits");
    EXPECT_EQ(Register("Names { val " + valueName + "v = s 'long' }"), DISP_E_EXCEPTION);
    EXPECT_FALSE(ReadValue("Names", (valueName + "v").c_str()).has_value());
    EXPECT_EQ(Remove("NoRemove Names { val " + valueName + "v = s 'long' }"), DISP_E_EXCEPTION);
}

// The product's kind of script, under the tests' own key

TEST_F(RegistryScriptTest, RegisteringTwiceThenRemovingLeavesOnlyTheSharedKeys)
{
    ASSERT_EQ(replacements.Add(L"Module", L"C:\\Program Files\\Orlenwick.dll"), S_OK);
    const std::string entries =
        "Orlenwick.Thing.1 = s 'Thing Class' { CLSID = s '{1C3E125F-9542-4FA8-B083-6F5808BADA62}' "
        "}\r\n"
        "NoRemove CLSID\r\n{\r\n"
        "\tForceRemove {1C3E125F-9542-4FA8-B083-6F5808BADA62} = s 'Thing Class'\r\n\t{\r\n"
        "\t\tProgID = s 'Orlenwick.Thing.1'\r\n"
        "\t\tForceRemove 'Programmable'\r\n"
        "\t\tInprocServer32 = s '%MODULE%'\r\n\t\t{\r\n"
        "\t\t\tval ThreadingModel = s 'Apartment'\r\n\t\t}\r\n"
        "\t}\r\n"
        "}\r\n"
        "NoRemove *\r\n{\r\n\tNoRemove shellex\r\n\t{\r\n"
        "\t\tNoRemove ContextMenuHandlers\r\n\t\t{\r\n"
        "\t\t\tForceRemove QVOrlenwick = s '{1C3E125F-9542-4FA8-B083-6F5808BADA62}'\r\n"
        "\t\t}\r\n\t}\r\n}";
    const std::string clsid = "CLSID\\{1C3E125F-9542-4FA8-B083-6F5808BADA62}";

    ASSERT_EQ(Register(entries), S_OK);
    SetString("*\\shellex\\ContextMenuHandlers\\QVOrlenwick\\Foreign", nullptr, "theirs");
    ASSERT_EQ(Register(entries), S_OK);

    EXPECT_EQ(ReadString(clsid + "\\InprocServer32"), "C:\\Program Files\\Orlenwick.dll");
    EXPECT_EQ(ReadString(clsid + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_TRUE(KeyExists(clsid + "\\Programmable"));
    EXPECT_EQ(CountsOf(clsid).Subkeys, 3u);
    EXPECT_EQ(CountsOf("*\\shellex\\ContextMenuHandlers\\QVOrlenwick").Subkeys, 0u);

    ASSERT_EQ(Remove(entries), S_OK);

    ExpectKeys(false, {"Orlenwick.Thing.1", clsid, "*\\shellex\\ContextMenuHandlers\\QVOrlenwick"});
    ExpectKeys(true, {"CLSID", "*\\shellex\\ContextMenuHandlers"});
}

// Scripts held as resources

class RegistryScriptResourceTest : public RegistryScriptTest
{
protected:
    // A copy of this program with `script` added as a "REGISTRY" resource of the given id.
    std::wstring ProgramWithScript(const std::wstring& folderName, UINT id,
                                   const std::string& script)
    {
        char name[MAX_PATH] = {};
        ::GetModuleFileNameA(nullptr, name, MAX_PATH);
        // Started from a Unix path, this program's name comes back as "unix\..." without the
        // "\\?\" that makes it a path again.
        std::string self = name;
        if (self.compare(0, 5, "unix\\") == 0)
            self = "\\\\?\\" + self;
        const std::wstring subfolder = Widen(folder.Path()) + L"\\" + folderName;
        EXPECT_TRUE(::CreateDirectoryW(subfolder.c_str(), nullptr)) << ::GetLastError();
        const std::wstring copy = subfolder + L"\\Scripted.exe";
        EXPECT_TRUE(::CopyFileW(Widen(self).c_str(), copy.c_str(), FALSE)) << ::GetLastError();
        UniqueResourceUpdate update(::BeginUpdateResourceW(copy.c_str(), FALSE));
        EXPECT_TRUE(update);
        EXPECT_TRUE(::UpdateResourceA(update.Get(), "REGISTRY", MAKEINTRESOURCEA(id),
                                      MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                      const_cast<char*>(script.data()),
                                      static_cast<DWORD>(script.size())));
        EXPECT_TRUE(::EndUpdateResourceW(update.Release(), FALSE));
        return copy;
    }
    // The same for an ASCII folder name, with the path in the narrow form.
    std::string ProgramWithScript(const std::string& folderName, UINT id, const std::string& script)
    {
        const std::wstring copy = ProgramWithScript(Widen(folderName), id, script);
        return NarrowExactly(copy).value_or(std::string());
    }

    TempFolder folder;
};

TEST_F(RegistryScriptResourceTest, ScriptIsReadFromTheModuleFile)
{
    const std::string path =
        ProgramWithScript("Tom's Tools", 102, Script("Server = s '%Module%' { val V = d 7 }"));
    std::string doubled;
    for (char c : path)
        doubled += c == '\'' ? "''" : std::string(1, c);
    ASSERT_EQ(replacements.Add(L"Module", Widen(doubled).c_str()), S_OK);

    ASSERT_EQ(RunScriptResource(Widen(path).c_str(), 102, "REGISTRY", true, replacements), S_OK);
    EXPECT_EQ(ReadString("Server"), path);
    EXPECT_EQ(ReadValue("Server", "V"), (RegistryData{REG_DWORD, {7, 0, 0, 0}}));

    ASSERT_EQ(RunScriptResource(Widen(path).c_str(), 102, "REGISTRY", false, replacements), S_OK);
    EXPECT_FALSE(KeyExists("Server"));
}

TEST_F(RegistryScriptResourceTest, MissingModuleOrResourceGivesTheSystemError)
{
    const std::string missing = folder / "Missing.dll";
    EXPECT_EQ(RunScriptResource(Widen(missing).c_str(), 102, "REGISTRY", true, replacements),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));

    const std::string path = ProgramWithScript("Other", 103, Script("Server = s 'x'"));
    EXPECT_EQ(RunScriptResource(Widen(path).c_str(), 102, "REGISTRY", true, replacements),
              HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(RunScriptResource(Widen(path).c_str(), 103, "SCRIPT", true, replacements),
              HRESULT_FROM_WIN32(ERROR_RESOURCE_TYPE_NOT_FOUND));
    EXPECT_FALSE(KeyExists("Server"));
}

TEST_F(RegistryScriptResourceTest, ModulePathOutsideTheCodePageNamesThatFileNotALookAlike)
{
    // "\x0100" has the look-alike "A" in the narrow code page: a best-fit conversion of the
    // path would read the other program's script.
    const std::wstring named =
        ProgramWithScript(L"\x0100", 102, Script("Chosen = s 'named' { val From = s 'named' }"));
    ProgramWithScript(L"A", 102, Script("Chosen = s 'look-alike'"));
    PlantSentinel("");

    ASSERT_EQ(RunScriptResource(named.c_str(), 102, "REGISTRY", true, replacements), S_OK);
    EXPECT_EQ(ReadString("Chosen"), "named");
    EXPECT_EQ(ReadString("Chosen", "From"), "named");
    ASSERT_EQ(RunScriptResource(named.c_str(), 102, "REGISTRY", false, replacements), S_OK);
    EXPECT_FALSE(KeyExists("Chosen"));

    // Its path, though, cannot stand in the registry's narrow text.
    const std::wstring module =
        ProgramWithScript(L"\x0100 module", 102, Script("Server = s '%Module%'"));
    ASSERT_EQ(replacements.Add(L"Module", module.c_str()), S_OK);
    EXPECT_EQ(RunScriptResource(module.c_str(), 102, "REGISTRY", true, replacements),
              HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_FALSE(KeyExists("Server"));
    ExpectSentinel("", "module outside the code page");
}

} // namespace
