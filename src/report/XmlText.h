#pragma once
// Escaping and encoding for the two XML reports, and the numbers they print. Each text
// function has an Append form that writes to the end of a record being built, so that a
// record per test costs no intermediate text per value.
//
// Values arrive as narrow strings holding UTF-8, but nothing guarantees that: a test name
// or a message may carry bytes from another code page, control characters or markup.
// Every function here returns text that keeps the document well-formed whatever it is
// given. The rules, shared by both reports so that one value reads the same in each:
// - "&", "<", ">" and the quotation mark become entity references;
// - a byte that does not start a valid UTF-8 sequence is taken as the Latin-1 character
//   of that value (such bytes most likely come from a single-byte code page);
// - a character XML 1.0 cannot hold (controls other than tab, LF and CR; U+FFFE and
//   U+FFFF) becomes ReplacementChar.

#include <cstdint>
#include <string>
#include <string_view>

namespace XmlText {

// What stands in for a character that an XML 1.0 document cannot hold.
inline constexpr char32_t ReplacementChar = U'\uFFFD';

// A value for an attribute or for text content of a document declared ISO-8859-1:
// characters up to U+00FF as their single byte, all others as decimal character
// references ("&#8364;").
std::string EscapeLatin1(std::string_view text);
void AppendEscapedLatin1(std::string& out, std::string_view text);

// A value for an attribute or for text content of a UTF-8 document: valid UTF-8 out,
// a character outside the basic plane as one four-byte sequence.
std::string EscapeUtf8(std::string_view text);
void AppendEscapedUtf8(std::string& out, std::string_view text);

// EscapeUtf8, and tab, LF and CR as character references: a parser normalises them to
// blanks in an attribute value (and CR LF to LF in text); references survive both.
std::string EscapeUtf8Whitespace(std::string_view text);
void AppendEscapedUtf8Whitespace(std::string& out, std::string_view text);

// The inside of a CDATA section of a UTF-8 document (the caller writes "<![CDATA[" and
// "]]>"): no entity references, which a CDATA section would show literally, but every
// "]]>" split across two sections as "]]]]><![CDATA[>", wherever it stands.
std::string CDataUtf8(std::string_view text);

// Milliseconds as seconds with three decimals and a point, whatever the process locale:
// report readers parse these as numbers. 1234 -> "1.234", 5 -> "0.005".
std::string FormatSeconds(std::uint64_t milliseconds);
void AppendSeconds(std::string& out, std::uint64_t milliseconds);

// The share of tests that ran without failure or error, in percent, truncated toward
// zero; 100 when no test ran. Exact integer arithmetic: 57 of 100 is 57, where the
// floating-point quotient times 100 would give 56.99... and truncate to 56.
int SuccessRate(int runCount, int failureCount, int errorCount);

} // namespace XmlText
