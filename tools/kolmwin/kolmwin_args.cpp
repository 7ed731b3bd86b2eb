#include "kolmwin_args.h"

#include <array>
#include <cctype>
#include <utility>

namespace kolmwin {

namespace {

constexpr std::array<std::pair<std::string_view, UINT>, 20> message_names { {
    { "WM_NULL", WM_NULL },
    { "WM_CREATE", WM_CREATE },
    { "WM_DESTROY", WM_DESTROY },
    { "WM_SETTEXT", WM_SETTEXT },
    { "WM_GETTEXT", WM_GETTEXT },
    { "WM_GETTEXTLENGTH", WM_GETTEXTLENGTH },
    { "WM_CLOSE", WM_CLOSE },
    { "WM_QUERYENDSESSION", WM_QUERYENDSESSION },
    { "WM_QUIT", WM_QUIT },
    { "WM_ENDSESSION", WM_ENDSESSION },
    { "WM_SHOWWINDOW", WM_SHOWWINDOW },
    { "WM_KEYDOWN", WM_KEYDOWN },
    { "WM_KEYUP", WM_KEYUP },
    { "WM_CHAR", WM_CHAR },
    { "WM_COMMAND", WM_COMMAND },
    { "WM_SYSCOMMAND", WM_SYSCOMMAND },
    { "WM_TIMER", WM_TIMER },
    { "WM_LBUTTONDOWN", WM_LBUTTONDOWN },
    { "WM_LBUTTONUP", WM_LBUTTONUP },
    { "WM_USER", WM_USER },
} };

bool equal_nocase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

} // namespace

std::optional<int64_t> parse_number(std::string_view s)
{
    bool negative = false;
    if (!s.empty() && s[0] == '-') {
        negative = true;
        s.remove_prefix(1);
    }
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty() || s.size() > 16)
        return std::nullopt;
    uint64_t v = 0;
    for (char c : s) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c)))
            d = std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        else
            return std::nullopt;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    }
    if (base == 10 && v > static_cast<uint64_t>(INT64_MAX))
        return std::nullopt;
    const auto value = static_cast<int64_t>(v);
    return negative ? -value : value;
}

std::optional<HWND> parse_hwnd(std::string_view s)
{
    auto v = parse_number(s);
    if (!v || *v <= 0 || *v > 0xFFFFFFFFll)
        return std::nullopt;
    return DwordToHandle<HWND>(static_cast<DWORD>(*v));
}

std::optional<UINT> parse_message(std::string_view s)
{
    int64_t offset = 0;
    std::string_view name = s;
    if (auto plus = s.find('+'); plus != std::string_view::npos) {
        auto n = parse_number(s.substr(plus + 1));
        if (!n || *n < 0)
            return std::nullopt;
        offset = *n;
        name = s.substr(0, plus);
    }
    std::optional<int64_t> base;
    for (const auto& [known, number] : message_names)
        if (equal_nocase(known, name))
            base = number;
    if (!base && offset == 0)
        base = parse_number(s);
    if (!base)
        return std::nullopt;
    const int64_t v = *base + offset;
    if (v < 0 || v > 0xFFFFFFFFll)
        return std::nullopt;
    return static_cast<UINT>(v);
}

std::optional<std::string> optional_name(std::string_view s)
{
    if (s.empty() || s == "-")
        return std::nullopt;
    return std::string(s);
}

} // namespace kolmwin
