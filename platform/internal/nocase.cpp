#include "internal/nocase.h"

#include <algorithm>

namespace kolm::platform {

bool equal_nocase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && compare_nocase(a, b) == 0;
}

int compare_nocase(std::string_view a, std::string_view b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(ascii_lower(a[i]));
        const auto y = static_cast<unsigned char>(ascii_lower(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool starts_with_nocase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && equal_nocase(text.substr(0, prefix.size()), prefix);
}

std::string upper_ascii(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), ascii_upper);
    return out;
}

std::string lower_ascii(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), ascii_lower);
    return out;
}

} // namespace kolm::platform
