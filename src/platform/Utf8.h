#pragma once
// UTF-8 in both directions, strict about what counts as a character, so that every caller
// decides for itself what to do with bytes that are not one.

#include <cstddef>
#include <string>
#include <string_view>

namespace Sys {

// Length of the well-formed UTF-8 sequence at text[i] (1 for ASCII) and its code point;
// 0 when the bytes there do not start one: overlong forms, encoded surrogates, values
// above U+10FFFF and sequences cut short included.
std::size_t DecodeUtf8(std::string_view text, std::size_t i, char32_t& cp) noexcept;

// Appends the code point as UTF-8 (one to four bytes).
void AppendUtf8(std::string& out, char32_t cp);

} // namespace Sys
