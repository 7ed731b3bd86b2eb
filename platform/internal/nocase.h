// Comparing names without regard to case, as the system does for registry
// keys and values, environment variables, file and module names, window
// classes and list box items. Only ASCII letters fold; other bytes (a name
// in the ANSI code page) compare as they are, whatever the C locale says.
#pragma once

#include <string>
#include <string_view>

namespace kolm::platform {

constexpr char ascii_lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr char ascii_upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equal_nocase(std::string_view a, std::string_view b);

// <0, 0 or >0 as a sorts before, with or after b, both folded to lower
// case and compared as unsigned bytes (as strcasecmp does in the C locale).
int compare_nocase(std::string_view a, std::string_view b);

bool starts_with_nocase(std::string_view text, std::string_view prefix);

// `s` with ASCII letters in upper case.
std::string upper_ascii(std::string_view s);
// `s` with ASCII letters in lower case.
std::string lower_ascii(std::string_view s);

} // namespace kolm::platform
