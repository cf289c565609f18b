#include "report/XmlText.h"

#include "platform/Utf8.h"

#include <array>
#include <charconv>

namespace XmlText {

namespace {

struct TDecoded {
    char32_t Char;
    std::size_t Length;
};

// One character from position i. Only well-formed UTF-8 counts as a sequence (no overlong
// forms, no surrogates, nothing above U+10FFFF); anything else yields its first byte as a
// Latin-1 character, and decoding resumes at the next byte so that the ASCII after a
// broken sequence survives.
TDecoded Decode(std::string_view s, std::size_t i)
{
    char32_t c = 0;
    if (const std::size_t length = Sys::DecodeUtf8(s, i, c))
        return {c, length};
    return {static_cast<unsigned char>(s[i]), 1};
}

// The Char production of XML 1.0. Surrogates never reach here: Decode does not produce them.
bool IsXmlChar(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

char32_t Sanitized(char32_t c)
{
    return IsXmlChar(c) ? c : ReplacementChar;
}

const char* EntityFor(char32_t c)
{
    switch (c) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '"': return "&quot;";
    default: return nullptr;
    }
}

template <typename Integer>
void AppendDecimal(std::string& out, Integer value)
{
    char buffer[24];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    (void)ec; // 24 characters hold any 64-bit integer
    out.append(buffer, end);
}

// Plain printable ASCII that needs no escaping is by far the common case; copying it in
// runs keeps large reports cheap. A table: every name of every test passes through here.
constexpr auto PlainAscii = [] {
    std::array<bool, 256> plain{};
    for (int b = 0x20; b < 0x80; ++b)
        plain[static_cast<std::size_t>(b)] = b != '&' && b != '<' && b != '>' && b != '"';
    return plain;
}();

template <typename AppendChar>
void TranscodeInto(std::string& out, std::string_view text, AppendChar append)
{
    const char* const data = text.data();
    const std::size_t size = text.size();
    std::size_t i = 0;
    while (i < size) {
        std::size_t run = i;
        while (run < size && PlainAscii[static_cast<unsigned char>(data[run])])
            ++run;
        out.append(data + i, run - i);
        if (run == size)
            break;
        const TDecoded d = Decode(text, run);
        append(out, Sanitized(d.Char));
        i = run + d.Length;
    }
}

template <typename AppendChar>
std::string Transcode(std::string_view text, AppendChar append)
{
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    TranscodeInto(out, text, append);
    return out;
}

void AppendUtf8Whitespace(std::string& out, char32_t c)
{
    if (const char* entity = EntityFor(c))
        out += entity;
    else if (c == '\t')
        out += "&#9;";
    else if (c == '\n')
        out += "&#10;";
    else if (c == '\r')
        out += "&#13;";
    else
        Sys::AppendUtf8(out, c);
}

void AppendLatin1(std::string& out, char32_t c)
{
    if (const char* entity = EntityFor(c)) {
        out += entity;
    } else if (c <= 0xFF) {
        out += static_cast<char>(c);
    } else {
        out += "&#";
        AppendDecimal(out, static_cast<std::uint32_t>(c));
        out += ';';
    }
}

void AppendUtf8(std::string& out, char32_t c)
{
    if (const char* entity = EntityFor(c))
        out += entity;
    else
        Sys::AppendUtf8(out, c);
}

} // namespace

std::string EscapeLatin1(std::string_view text)
{
    return Transcode(text, AppendLatin1);
}

void AppendEscapedLatin1(std::string& out, std::string_view text)
{
    TranscodeInto(out, text, AppendLatin1);
}

std::string EscapeUtf8(std::string_view text)
{
    return Transcode(text, AppendUtf8);
}

void AppendEscapedUtf8(std::string& out, std::string_view text)
{
    TranscodeInto(out, text, AppendUtf8);
}

std::string EscapeUtf8Whitespace(std::string_view text)
{
    return Transcode(text, AppendUtf8Whitespace);
}

void AppendEscapedUtf8Whitespace(std::string& out, std::string_view text)
{
    TranscodeInto(out, text, AppendUtf8Whitespace);
}

std::string CDataUtf8(std::string_view text)
{
    return Transcode(text, [](std::string& out, char32_t c) {
        // The "]]" before the ">" can only come from the text itself: the split inserted
        // below ends in "[" and a replaced character is never a bracket.
        if (c == '>' && out.size() >= 2 && out.ends_with("]]"))
            out += "]]><![CDATA[";
        Sys::AppendUtf8(out, c);
    });
}

std::string FormatSeconds(std::uint64_t milliseconds)
{
    std::string out;
    AppendSeconds(out, milliseconds);
    return out;
}

void AppendSeconds(std::string& out, std::uint64_t milliseconds)
{
    // Formed apart and appended once: every test case of a report has a time.
    char text[32];
    char* end = std::to_chars(text, text + 24, milliseconds / 1000).ptr;
    const auto fraction = static_cast<unsigned>(milliseconds % 1000);
    end[0] = '.';
    end[1] = static_cast<char>('0' + fraction / 100);
    end[2] = static_cast<char>('0' + fraction / 10 % 10);
    end[3] = static_cast<char>('0' + fraction % 10);
    out.append(text, end + 4);
}

int SuccessRate(int runCount, int failureCount, int errorCount)
{
    if (runCount <= 0)
        return 100;
    const std::int64_t passed = std::int64_t{runCount} - failureCount - errorCount;
    // Integer division truncates toward zero, as the rate is defined to.
    return static_cast<int>(passed * 100 / runCount);
}

} // namespace XmlText
