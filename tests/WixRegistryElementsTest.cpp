// The installer's registry elements made from a registry tree: installer formatting and XML
// escaping, the formatted references the package resolves, keys without values, a tree placed
// directly under the machine's root, and values the elements cannot carry faithfully.
#include "tools/WixRegistryElements.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::vector<std::wstring> References = {L"[#Dll]", L"[Folder]"};

// The element for one value, as the generator writes it; no name for the default value.
std::string Row(const std::string& key, const std::string& name, const std::string& type,
                const std::string& value)
{
    return "<RegistryValue Root=\"HKLM\" Key=\"" + key + "\"" +
           (name.empty() ? "" : " Name=\"" + name + "\"") + " Type=\"" + type + "\" Value=\"" +
           value + "\"/>\n";
}

std::string Elements(const RegistryTree& tree, const std::wstring& prefix = L"Software\\Classes")
{
    std::string elements;
    std::string error;
    EXPECT_TRUE(WriteRegistryElements(tree, prefix, References, elements, error)) << error;
    return elements;
}

std::string Refused(const RegistryTree& tree, const std::wstring& prefix = L"Software\\Classes")
{
    std::string elements;
    std::string error;
    EXPECT_FALSE(WriteRegistryElements(tree, prefix, References, elements, error));
    EXPECT_FALSE(error.empty());
    return elements;
}

TEST(WixRegistryElementsTest, DefaultAndNamedTextValuesOfAKey)
{
    const RegistryTree tree = {
        {L"CLSID\\{1}\\InprocServer32",
         {{L"", RegistryString(L"[#Dll]")}, {L"ThreadingModel", RegistryString(L"Apartment")}}}};

    const std::string key = "Software\\Classes\\CLSID\\{1}\\InprocServer32";
    EXPECT_EQ(Row(key, "", "string", "[#Dll]") + Row(key, "ThreadingModel", "string", "Apartment"),
              Elements(tree));
}

TEST(WixRegistryElementsTest, BracketsAreLiteralExceptInTheKnownReferences)
{
    const RegistryTree tree = {
        {L"K[x]", {{L"n]", RegistryString(L"[#Dll] in [Folder], not [Other] or [#Dll")}}}};

    EXPECT_EQ(Row("Software\\Classes\\K[\\[]x[\\]]", "n[\\]]", "string",
                  "[#Dll] in [Folder], not [\\[]Other[\\]] or [\\[]#Dll"),
              Elements(tree));
}

TEST(WixRegistryElementsTest, XmlSpecialCharactersAreEscaped)
{
    const RegistryTree tree = {{L"K", {{L"", RegistryString(L"a'b & <c> \"d\"")}}}};

    EXPECT_EQ(Row("Software\\Classes\\K", "", "string", "a&apos;b &amp; &lt;c&gt; &quot;d&quot;"),
              Elements(tree));
}

TEST(WixRegistryElementsTest, OnlyAKeyWithNeitherValuesNorSubkeysGetsItsOwnRow)
{
    // "A B" sorts between "A" and "A\C": "A" still has a subkey, "A B" has none.
    const RegistryTree tree = {{L"", {}},
                               {L"A", {}},
                               {L"A B", {}},
                               {L"A\\C", {{L"", RegistryString(L"c")}}},
                               {L"Programmable", {}}};

    EXPECT_EQ(Row("Software\\Classes\\A B", "*", "string", "") +
                  Row("Software\\Classes\\A\\C", "", "string", "c") +
                  Row("Software\\Classes\\Programmable", "*", "string", ""),
              Elements(tree));
}

TEST(WixRegistryElementsTest, WithoutAPrefixTheKeysLieDirectlyUnderTheMachineRoot)
{
    // As a registration's HKEY_LOCAL_MACHINE part is captured: the root and the keys on the
    // way carry nothing of their own.
    const RegistryTree tree = {
        {L"", {}},
        {L"Software", {}},
        {L"Software\\Shell Extensions", {}},
        {L"Software\\Shell Extensions\\Approved", {{L"{1}", RegistryString(L"Product")}}}};

    EXPECT_EQ(Row("Software\\Shell Extensions\\Approved", "{1}", "string", "Product"),
              Elements(tree, L""));
    // The machine's root itself holds no value of a package.
    EXPECT_EQ("", Refused({{L"", {{L"Name", RegistryString(L"x")}}}}, L""));
}

TEST(WixRegistryElementsTest, NumbersBecomeIntegerValues)
{
    const RegistryTree tree = {{L"K", {{L"Count", RegistryData{REG_DWORD, {0x2A, 0x01, 0, 0}}}}}};

    EXPECT_EQ(Row("Software\\Classes\\K", "Count", "integer", "298"), Elements(tree));
}

TEST(WixRegistryElementsTest, ValuesWithoutAFaithfulFormAreRefused)
{
    // The installer's table cannot tell an empty text from no value.
    Refused({{L"K", {{L"", RegistryString(L"")}}}});
    Refused({{L"K", {{L"Data", RegistryData{REG_BINARY, {1, 2}}}}}});
    Refused({{L"K", {{L"Odd", RegistryData{REG_DWORD, {1, 2}}}}}});
    // wixl's preprocessor would replace it.
    Refused({{L"K", {{L"", RegistryString(L"$(var.X)")}}}});
    Refused({{L"K$(var.X)", {{L"", RegistryString(L"x")}}}});
}

} // namespace
