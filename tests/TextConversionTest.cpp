// Names cross between UTF-16 and the narrow code page only when they convert exactly, on a
// single-byte, a double-byte and the UTF-8 code page alike.
#include "common/TextConversion.h"

#include <gtest/gtest.h>

namespace {

constexpr UINT Western = 1252;
constexpr UINT Japanese = 932;
constexpr UINT Utf8 = CP_UTF8;

const std::wstring Cyrillic = L"\x041E\x0442\x0447\x0451\x0442.txt"; // Отчёт.txt
const std::wstring Kanji = L"\x65E5\x672C\x8A9E.doc";                // 日本語.doc
const std::wstring Emoji = L"\xD83D\xDE42.txt";                      // 🙂.txt
const std::wstring MacronA = L"\x0100.txt";                          // Ā.txt, best fit "A.txt"
const std::wstring FullwidthBackslash = L"..\xFF3Cvictim.txt";       // best fit "..\victim.txt"
const std::wstring DivisionSlash = L"..\x2215x";                     // best fit "../x"
const std::wstring SetMinus = L"..\x2216x";                          // best fit "..\x"
const std::wstring LoneSurrogate = L"a\xD800z";

TEST(TextConversion, PlainNamesConvertOnEveryCodePage)
{
    for (UINT page : {Western, Japanese, Utf8}) {
        EXPECT_EQ(NarrowExactly(L"report.final.doc", page), std::string("report.final.doc"));
        EXPECT_EQ(NarrowExactly(L"", page), std::string());
        EXPECT_EQ(WidenExactly("report.final.doc", page), std::wstring(L"report.final.doc"));
    }
}

TEST(TextConversion, LookAlikesAreNeverProducedOnWesternCodePage)
{
    for (const std::wstring& name :
         {MacronA, FullwidthBackslash, DivisionSlash, SetMinus, Cyrillic, Kanji, Emoji})
        EXPECT_FALSE(NarrowExactly(name, Western).has_value());
    // Characters the code page has convert, outside ASCII too.
    EXPECT_EQ(NarrowExactly(L"caf\x00E9.txt", Western), std::string("caf\xE9.txt"));
}

TEST(TextConversion, JapaneseCodePageTakesItsOwnCharactersOnly)
{
    const std::optional<std::string> kanji = NarrowExactly(Kanji, Japanese);
    ASSERT_TRUE(kanji.has_value());
    EXPECT_EQ(*kanji, std::string("\x93\xFA\x96\x7B\x8C\xEA.doc"));
    EXPECT_EQ(WidenExactly(*kanji, Japanese), Kanji);
    // A character whose second byte is "\" converts whole and comes back whole.
    const std::wstring table = L"\x8868.txt"; // 表.txt, 0x95 0x5C in Shift-JIS
    const std::optional<std::string> narrowTable = NarrowExactly(table, Japanese);
    ASSERT_TRUE(narrowTable.has_value());
    EXPECT_EQ(narrowTable->substr(0, 2), std::string("\x95\x5C"));
    EXPECT_EQ(WidenExactly(*narrowTable, Japanese), table);

    for (const std::wstring& name : {MacronA, Emoji})
        EXPECT_FALSE(NarrowExactly(name, Japanese).has_value());
    // The fullwidth backslash is a character of this code page in its own right: it converts to
    // its two bytes, not to a path separator.
    EXPECT_EQ(NarrowExactly(FullwidthBackslash, Japanese), std::string("..\x81\x5Fvictim.txt"));
    // The yen sign's best fit is the backslash byte.
    EXPECT_FALSE(NarrowExactly(L"..\x00A5x", Japanese).has_value());
}

TEST(TextConversion, Utf8TakesEveryCharacterButBrokenText)
{
    for (const std::wstring& name : {MacronA, FullwidthBackslash, Cyrillic, Kanji, Emoji}) {
        const std::optional<std::string> narrow = NarrowExactly(name, Utf8);
        ASSERT_TRUE(narrow.has_value());
        EXPECT_EQ(WidenExactly(*narrow, Utf8), name);
    }
    EXPECT_EQ(*NarrowExactly(Emoji, Utf8), std::string("\xF0\x9F\x99\x82.txt"));
    // A lone surrogate has no UTF-8 form; a lenient conversion would write U+FFFD for it.
    EXPECT_FALSE(NarrowExactly(LoneSurrogate, Utf8).has_value());
    EXPECT_FALSE(WidenExactly("a\xC0\xAFz", Utf8).has_value());
    EXPECT_FALSE(WidenExactly("a\xEF\xBF", Utf8).has_value());
}

TEST(TextConversion, SubstitutesMarkEveryInexactCharacter)
{
    EXPECT_EQ(NarrowWithSubstitutes(MacronA, Western), "?.txt");
    EXPECT_EQ(NarrowWithSubstitutes(Emoji, Western), "?.txt");
    EXPECT_EQ(NarrowWithSubstitutes(FullwidthBackslash, Western), "..?victim.txt");
    EXPECT_EQ(NarrowWithSubstitutes(L"\x65E5\xD83D\xDE42", Japanese), "\x93\xFA?");
    EXPECT_EQ(NarrowWithSubstitutes(LoneSurrogate, Utf8), "a?z");
    EXPECT_EQ(NarrowWithSubstitutes(L"plain", Utf8), "plain");
}

TEST(TextConversion, DefaultCodePageIsTheProcessAnsiCodePage)
{
    // A name whose conversion differs between the prefix's page and the Japanese one, so that
    // taking any other page for the default shows.
    const UINT page = ::GetACP();
    ASSERT_NE(page, Japanese);
    const std::wstring accented = L"caf\x00E9.txt";
    ASSERT_NE(NarrowExactly(accented, page), NarrowExactly(accented, Japanese));
    EXPECT_EQ(NarrowExactly(accented), NarrowExactly(accented, page));
    EXPECT_EQ(NarrowWithSubstitutes(accented), NarrowWithSubstitutes(accented, page));
    const std::string narrow = "caf\xE9\x82\xA0.txt";
    EXPECT_EQ(Widen(narrow), Widen(narrow, page));
    EXPECT_EQ(WidenExactly(narrow), WidenExactly(narrow, page));
}

} // namespace
