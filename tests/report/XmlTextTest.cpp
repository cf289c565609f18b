#include "report/XmlText.h"

#include "XmlCheck.h"

#include <gtest/gtest.h>

#include <clocale>
#include <locale>
#include <string>
#include <vector>

using namespace XmlText;
using ReportTestSupport::Parse;
using ReportTestSupport::TextOf;

namespace {

const std::string Fffd = "\xEF\xBF\xBD"; // U+FFFD in UTF-8
const std::string FffdRef = "&#65533;";

} // namespace

TEST(XmlText, EscapesMarkupAtStartMiddleAndEnd)
{
    for (auto escape : {EscapeLatin1, EscapeUtf8}) {
        EXPECT_EQ(escape("&x"), "&amp;x");
        EXPECT_EQ(escape("a<b>c"), "a&lt;b&gt;c");
        EXPECT_EQ(escape("say \"hi\""), "say &quot;hi&quot;");
        EXPECT_EQ(escape("<&\">"), "&lt;&amp;&quot;&gt;");
        EXPECT_EQ(escape("&amp;"), "&amp;amp;"); // an entity in a name is text, not markup
        EXPECT_EQ(escape(""), "");
        // What XML needs no escaping for stays as it is.
        EXPECT_EQ(escape("Orders/Pricing it's 100% ok\t\r\n"), "Orders/Pricing it's 100% ok\t\r\n");
    }
}

TEST(XmlText, ReplacesEveryCharacterXmlCannotHold)
{
    for (int c = 0; c < 0x20; ++c) {
        const std::string ch(1, static_cast<char>(c));
        const bool allowed = c == '\t' || c == '\n' || c == '\r';
        EXPECT_EQ(EscapeLatin1(ch + "a" + ch + "b" + ch), allowed ? ch + "a" + ch + "b" + ch
                                                                  : FffdRef + "a" + FffdRef + "b" + FffdRef)
            << "character " << c;
        EXPECT_EQ(EscapeUtf8("a" + ch), allowed ? "a" + ch : "a" + Fffd) << "character " << c;
        EXPECT_EQ(CDataUtf8(ch + "a"), allowed ? ch + "a" : Fffd + "a") << "character " << c;
    }
    // The two noncharacters at the end of the basic plane are not XML characters either.
    EXPECT_EQ(EscapeUtf8("\xEF\xBF\xBE|\xEF\xBF\xBF"), Fffd + "|" + Fffd);
    EXPECT_EQ(EscapeLatin1("\xEF\xBF\xBF"), FffdRef);
    // DEL and U+FFFD itself are allowed.
    EXPECT_EQ(EscapeUtf8("\x7F" + Fffd), "\x7F" + Fffd);
}

TEST(XmlText, WritesLatin1AsSingleBytesAndEverythingElseAsReferences)
{
    EXPECT_EQ(EscapeLatin1("M\xC3\xBCller \xC3\xA9t\xC3\xA9"), "M\xFCller \xE9t\xE9");
    EXPECT_EQ(EscapeLatin1("\xC2\xA0\xC3\xBF"), "\xA0\xFF");         // U+00A0, U+00FF
    EXPECT_EQ(EscapeLatin1("\xC4\x80"), "&#256;");                   // first beyond Latin-1
    EXPECT_EQ(EscapeLatin1("5\xE2\x82\xAC"), "5&#8364;");            // euro sign
    EXPECT_EQ(EscapeLatin1("\xF0\x9F\x98\x80!"), "&#128512;!");      // outside the basic plane
    EXPECT_EQ(EscapeLatin1("\xF4\x8F\xBF\xBF"), "&#1114111;");       // U+10FFFF
}

TEST(XmlText, KeepsValidUtf8AndWritesSupplementaryCharactersAsFourBytes)
{
    const std::string text = "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF";
    EXPECT_EQ(EscapeUtf8(text), text);
    EXPECT_EQ(CDataUtf8(text), text);
}

// Bytes that do not form UTF-8 are Latin-1 characters in both reports, each byte by
// itself, so the ASCII after a broken sequence is kept and still escaped.
TEST(XmlText, TakesBytesThatAreNotUtf8AsLatin1)
{
    struct TCase {
        std::string In, Latin1, Utf8;
    };
    const std::vector<TCase> cases = {
        {"\x80", "\x80", "\xC2\x80"},                                       // lone continuation
        {"a\xBF" "b", "a\xBF" "b", "a\xC2\xBF" "b"},
        {"M\xFCller", "M\xFCller", "M\xC3\xBCller"},                        // Latin-1 text
        {"\xC0\xAF", "\xC0\xAF", "\xC3\x80\xC2\xAF"},                       // overlong '/'
        {"\xC1\xBF", "\xC1\xBF", "\xC3\x81\xC2\xBF"},
        {"\xE0\x80\xAF", "\xE0\x80\xAF", "\xC3\xA0\xC2\x80\xC2\xAF"},       // overlong, 3 bytes
        {"\xF0\x80\x80\xAF", "\xF0\x80\x80\xAF", "\xC3\xB0\xC2\x80\xC2\x80\xC2\xAF"},
        {"\xED\xA0\x80", "\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80"},       // surrogate
        {"\xF4\x90\x80\x80", "\xF4\x90\x80\x80", "\xC3\xB4\xC2\x90\xC2\x80\xC2\x80"}, // > U+10FFFF
        {"\xF5\xFE\xFF", "\xF5\xFE\xFF", "\xC3\xB5\xC3\xBE\xC3\xBF"},
        {"a\xC3", "a\xC3", "a\xC3\x83"},                                    // cut short at the end
        {"\xE2\x82", "\xE2\x82", "\xC3\xA2\xC2\x82"},
        {"\xF0\x9F\x98", "\xF0\x9F\x98", "\xC3\xB0\xC2\x9F\xC2\x98"},
        {"\xC3(", "\xC3(", "\xC3\x83("},                                    // cut short by ASCII
        {"\xE2\x82]", "\xE2\x82]", "\xC3\xA2\xC2\x82]"},
        {"\xF0\x9F\x98\xC3\xA9", "\xF0\x9F\x98\xE9", "\xC3\xB0\xC2\x9F\xC2\x98\xC3\xA9"}, // then valid
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeLatin1(c.In), c.Latin1) << testing::PrintToString(c.In);
        EXPECT_EQ(EscapeUtf8(c.In), c.Utf8) << testing::PrintToString(c.In);
        EXPECT_EQ(CDataUtf8(c.In), c.Utf8) << testing::PrintToString(c.In);
    }
    EXPECT_EQ(EscapeLatin1("\xE2\x82<"), "\xE2\x82&lt;");
    EXPECT_EQ(EscapeUtf8("\xE2\x82<"), "\xC3\xA2\xC2\x82&lt;");
}

TEST(XmlText, SplitsCDataEndWhereverItStands)
{
    const std::string split = "]]]]><![CDATA[>";
    EXPECT_EQ(CDataUtf8("]]>"), split);
    EXPECT_EQ(CDataUtf8("]]>tail"), split + "tail");
    EXPECT_EQ(CDataUtf8("head]]>"), "head" + split);
    EXPECT_EQ(CDataUtf8("a]]>b]]>c"), "a" + split + "b" + split + "c");
    EXPECT_EQ(CDataUtf8("]]>]]>"), split + split);
    EXPECT_EQ(CDataUtf8("]]]>"), "]" + split);
    // Near misses stay, and markup is not escaped inside CDATA.
    EXPECT_EQ(CDataUtf8("]] > ]>] ]]"), "]] > ]>] ]]");
    EXPECT_EQ(CDataUtf8("<a href=\"x\">&amp;</a>"), "<a href=\"x\">&amp;</a>");
}

// What a reader gets back is exactly the value that went in.
TEST(XmlText, ReadsBackUnchangedFromEitherDocument)
{
    const std::vector<std::string> values = {
        "plain", "&<>\"'", "]]>", "]]>]]>x]]", "]", ">", "x]]", "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
        "a]]]>b", "&#65;", "<![CDATA[", "a\t\r\nb",
    };
    for (const auto& v : values) {
        SCOPED_TRACE(testing::PrintToString(v));
        {
            pugi::xml_document doc;
            const std::string escaped = EscapeLatin1(v);
            const std::string text = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r a=\"" + escaped + "\">" +
                                     escaped + "</r>";
            ASSERT_TRUE(Parse(doc, text, pugi::encoding_latin1));
            EXPECT_EQ(doc.child("r").attribute("a").value(), v);
            EXPECT_EQ(TextOf(doc.child("r")), v);
        }
        {
            pugi::xml_document doc;
            const std::string escaped = EscapeUtf8(v);
            const std::string text = "<r a=\"" + escaped + "\">" + escaped + "</r>";
            ASSERT_TRUE(Parse(doc, text, pugi::encoding_utf8));
            EXPECT_EQ(doc.child("r").attribute("a").value(), v);
            EXPECT_EQ(TextOf(doc.child("r")), v);
        }
        {
            pugi::xml_document doc;
            ASSERT_TRUE(Parse(doc, "<r><![CDATA[" + CDataUtf8(v) + "]]></r>", pugi::encoding_utf8));
            EXPECT_EQ(TextOf(doc.child("r")), v);
        }
    }
}

TEST(XmlText, FormatsSecondsWithThreeDecimalsAndAPoint)
{
    const auto check = [] {
        EXPECT_EQ(FormatSeconds(0), "0.000");
        EXPECT_EQ(FormatSeconds(5), "0.005");
        EXPECT_EQ(FormatSeconds(50), "0.050");
        EXPECT_EQ(FormatSeconds(1234), "1.234");
        EXPECT_EQ(FormatSeconds(60000), "60.000");
        EXPECT_EQ(FormatSeconds(4294967295u), "4294967.295");
    };
    check();

    // Under a locale with a decimal comma the point stays.
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "de_DE"}) {
        const std::string saved = std::setlocale(LC_ALL, nullptr);
        if (!std::setlocale(LC_ALL, name))
            continue;
        const std::locale savedGlobal = std::locale::global(std::locale(name));
        check();
        std::locale::global(savedGlobal);
        std::setlocale(LC_ALL, saved.c_str());
        return;
    }
    FAIL() << "no locale with a decimal comma: de_DE.UTF-8 is not generated (scripts/setup generates it)";
}

TEST(XmlText, SuccessRateTruncatesTheExactPercentage)
{
    EXPECT_EQ(SuccessRate(4, 1, 0), 75);
    EXPECT_EQ(SuccessRate(3, 1, 0), 66);
    EXPECT_EQ(SuccessRate(3, 0, 1), 66);
    EXPECT_EQ(SuccessRate(0, 0, 0), 100);
    EXPECT_EQ(SuccessRate(100, 43, 0), 57); // 0.57 * 100 is 56.99... in binary floating point
    EXPECT_EQ(SuccessRate(2, 1, 1), 0);
    EXPECT_EQ(SuccessRate(2000000000, 0, 1), 99); // no overflow in the product
}

// The append forms leave what is already there alone and add exactly what the text forms
// return, for markup, controls, broken UTF-8 and characters outside the basic plane.
TEST(XmlText, AppendFormsAddExactlyWhatTheTextFormsReturn)
{
    const std::vector<std::string> texts = {"", "plain", "a<b>&\"c\"", "tab\tline\ncr\r", std::string("nul\0x", 5),
                                            "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "broken \xC3 \xFF end"};
    for (const std::string prefix : {"", "x", "]]", "&amp;"}) {
        for (const std::string& text : texts) {
            std::string out = prefix;
            AppendEscapedLatin1(out, text);
            EXPECT_EQ(out, prefix + EscapeLatin1(text)) << text;
            out = prefix;
            AppendEscapedUtf8(out, text);
            EXPECT_EQ(out, prefix + EscapeUtf8(text)) << text;
            out = prefix;
            AppendEscapedUtf8Whitespace(out, text);
            EXPECT_EQ(out, prefix + EscapeUtf8Whitespace(text)) << text;
        }
        std::string out = prefix;
        AppendSeconds(out, 1234);
        EXPECT_EQ(out, prefix + "1.234");
    }
}
