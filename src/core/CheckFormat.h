#pragma once
// How the checks render values in their failure messages. Pure functions: values in,
// text out, so that every message can be tested without a running test.

#include <cstdint>
#include <string>
#include <string_view>

namespace TestFramework {

// "True" or "False".
std::string BoolToStr(bool value);

// Exactly `digits` characters '0'/'1', most significant first; bits above the shown ones
// are left out. The count is clamped to 0..32, the widest a 32-bit value can fill.
std::string IntToBin(std::uint32_t value, int digits);

// Upper-case hexadecimal, zero-padded to at least `digits` (clamped to 0..32), longer
// when the value needs more.
std::string IntToHex(std::uint32_t value, int digits);

// Two upper-case hexadecimal digits.
std::string ByteToHex(std::uint8_t value);

// An address or reference: upper-case hexadecimal, no prefix, zero-padded to 8 digits;
// a 64-bit address keeps all its digits so that two references never read alike.
std::string PtrToStr(const void* p);

// Narrow strings hold UTF-8, wide strings UTF-16. Neither conversion fails: a byte that
// is not part of a well-formed UTF-8 sequence becomes the lone surrogate U+DC80..U+DCFF
// and turns back into the same byte on the way back, so any narrow string survives a
// round trip through wide unchanged. Any other unpaired surrogate becomes U+FFFD.
std::u16string NarrowToWide(std::string_view text);
std::string WideToNarrow(std::u16string_view text);

} // namespace TestFramework
