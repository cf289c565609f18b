#pragma once
// Trimming and ASCII letter case, byte by byte. Names the system compares (ini sections
// and keys, options, suite paths, file names) ignore ASCII case only: the user's locale
// must not change which names are the same, and UTF-8 bytes stay as they are.

#include <string>
#include <string_view>
#include <vector>

namespace Sys {

// Every byte up to the space: blanks, tabs, line ends and the other control characters.
bool IsBlankOrControl(char c);

// Without the leading and trailing blanks and control characters.
std::string_view Trim(std::string_view text);

char LowerAscii(char c);
std::string LowerAscii(std::string_view text);

// Equal but for the case of ASCII letters.
bool SameTextAscii(std::string_view a, std::string_view b);
bool StartsWithTextAscii(std::string_view text, std::string_view prefix);

// Whether the whole text matches the pattern, byte by byte: "*" any run of bytes, "?" one.
bool MatchesWildcards(std::string_view pattern, std::string_view text);

// The items of a list separated by ";", as the variables that name folders or patterns
// hold it; empty items are left out, and no text gives no items.
std::vector<std::string> SplitList(const char* text);

} // namespace Sys
