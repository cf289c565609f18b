#include "core/CheckFormat.h"

namespace TestFramework {

namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";

int ClampDigits(int digits) { return digits < 0 ? 0 : (digits > 32 ? 32 : digits); }

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Length of the well-formed UTF-8 sequence at text[i] and its code point; 0 when the
// bytes there do not start one (overlong forms, encoded surrogates, values above
// U+10FFFF and truncated sequences included).
std::size_t DecodeUtf8(std::string_view text, std::size_t i, char32_t& cp)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b0 = byte(i);
    std::size_t length;
    unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        cp = b0 & 0x0F;
        if (b0 == 0xE0)
            lo = 0xA0;
        if (b0 == 0xED)
            hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        cp = b0 & 0x07;
        if (b0 == 0xF0)
            lo = 0x90;
        if (b0 == 0xF4)
            hi = 0x8F;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char b = byte(i + k);
        if (k == 1 ? (b < lo || b > hi) : (b < 0x80 || b > 0xBF))
            return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    return length;
}

} // namespace

std::string BoolToStr(bool value) { return value ? "True" : "False"; }

std::string IntToBin(std::uint32_t value, int digits)
{
    const int n = ClampDigits(digits);
    std::string text(static_cast<std::size_t>(n), '0');
    for (int i = 0; i < n; ++i)
        if (value & (std::uint32_t{1} << (n - 1 - i)))
            text[static_cast<std::size_t>(i)] = '1';
    return text;
}

std::string IntToHex(std::uint32_t value, int digits)
{
    std::string text;
    do {
        text.insert(text.begin(), HexDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    const auto width = static_cast<std::size_t>(ClampDigits(digits));
    if (text.size() < width)
        text.insert(0, width - text.size(), '0');
    return text;
}

std::string ByteToHex(std::uint8_t value)
{
    return {HexDigits[value >> 4], HexDigits[value & 0xF]};
}

std::string PtrToStr(const void* p)
{
    auto value = reinterpret_cast<std::uintptr_t>(p);
    std::string text;
    do {
        text.insert(text.begin(), HexDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    if (text.size() < 8)
        text.insert(0, 8 - text.size(), '0');
    return text;
}

std::u16string NarrowToWide(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        if (const std::size_t length = DecodeUtf8(text, i, cp)) {
            if (cp >= 0x10000) {
                cp -= 0x10000;
                out += static_cast<char16_t>(0xD800 + (cp >> 10));
                out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
            } else {
                out += static_cast<char16_t>(cp);
            }
            i += length;
        } else {
            const auto b = static_cast<unsigned char>(text[i]);
            out += b < 0x80 ? static_cast<char16_t>(b) : static_cast<char16_t>(0xDC00 + b);
            ++i;
        }
    }
    return out;
}

std::string WideToNarrow(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00));
            ++i;
        } else if (unit >= 0xDC80 && unit <= 0xDCFF) {
            out += static_cast<char>(unit - 0xDC00); // a byte kept from a narrow string
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            AppendUtf8(out, 0xFFFD);
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

} // namespace TestFramework
