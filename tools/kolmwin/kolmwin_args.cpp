#include "kolmwin_args.h"
#include "kolmids.h"

#include <array>
#include <cctype>
#include <utility>

namespace kolmwin {

const kolm::ProgramHelp help = {
    "kolmwin",
    "kolmwin find CLASS TITLE\n"
    "       kolmwin send HWND MSG [WPARAM [LPARAM | --text STRING]]\n"
    "       kolmwin post HWND MSG [WPARAM [LPARAM]]\n"
    "       kolmwin gettext HWND [ID]\n"
    "       kolmwin controls HWND\n"
    "       kolmwin items HWND ID\n"
    "       kolmwin settext HWND ID TEXT\n"
    "       kolmwin click HWND ID\n"
    "       kolmwin select HWND ID INDEX [--shift] [--ctrl] [--double]\n"
    "       kolmwin --help | --version",
    "Finds the windows of the programs running on a machine root and sends or\n"
    "posts them messages; drives their dialogs by control id. CLASS or TITLE\n"
    "\"-\" or \"\" matches any; numbers are decimal or 0x hex; MSG is a number or\n"
    "a name such as WM_CLOSE or WM_USER+151. send prints the result in decimal.\n"
    "\n"
    "Environment:\n"
    "  KOLM_ROOT  the machine root (default ~/.local/share/tarvizone)\n"
    "\n"
    "Files:\n"
    "  $KOLM_ROOT/run/  the programs' window mailboxes\n"
    "\n"
    "Exit status: 0 on success, 1 on failure with the reason on standard error,\n"
    "2 for an unknown option.\n",
    KOLM_PRODUCT_ON_LINUX,
};

int unknown_option(std::string_view option)
{
    return kolm::unknown_option(help, option);
}

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
