#include "core/CheckFormat.h"

#include "platform/Utf8.h"

namespace TestFramework {

namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";

int ClampDigits(int digits) { return digits < 0 ? 0 : (digits > 32 ? 32 : digits); }

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
        if (const std::size_t length = Sys::DecodeUtf8(text, i, cp)) {
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
            Sys::AppendUtf8(out, 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00));
            ++i;
        } else if (unit >= 0xDC80 && unit <= 0xDCFF) {
            out += static_cast<char>(unit - 0xDC00); // a byte kept from a narrow string
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            Sys::AppendUtf8(out, 0xFFFD);
        } else {
            Sys::AppendUtf8(out, unit);
        }
    }
    return out;
}

} // namespace TestFramework
