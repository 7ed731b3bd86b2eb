// kolmwin: windows of the running programs, for users, scripts and tests.
//
//   kolmwin find CLASS TITLE                       prints the HWND as 0x%08X
//   kolmwin send HWND MSG [WPARAM [LPARAM]]        prints the result in decimal
//   kolmwin send HWND MSG WPARAM --text STRING     lParam: a copy of STRING
//   kolmwin post HWND MSG [WPARAM [LPARAM]]
//   kolmwin gettext HWND                           prints the window text
//   kolmwin controls|items|gettext|settext|click|select ...
//                                                  a dialog's controls by id
//                                                  (kolmwin_dialog.cpp)
//
// Exit status 0 on success, 1 on failure with the reason on standard error.
#include "kolmwin_args.h"
#include "kolmwin_dialog.h"

#include "kolm/messaging.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

using Args = std::vector<std::string>;

int usage()
{
    kolm::print_usage(kolmwin::help);
    std::fputs("(kolmwin --help tells more)\n", stderr);
    return 1;
}

int failure(const std::string& what)
{
    std::fprintf(stderr, "kolmwin: %s\n", what.c_str());
    return 1;
}

std::string error_text(DWORD error)
{
    switch (error) {
    case ERROR_INVALID_WINDOW_HANDLE:
        return "no such window (or its program has ended)";
    case ERROR_MESSAGE_SYNC_ONLY:
        return "this message carries pointers that cannot be passed this way";
    case ERROR_NOT_ENOUGH_QUOTA:
        return "the window's message queue is full";
    case ERROR_ACCESS_DENIED:
        return "access denied";
    default:
        return "error " + std::to_string(error);
    }
}

// The parts shared by send and post: HWND MSG [WPARAM [LPARAM | --text S]].
struct MessageArgs {
    HWND hwnd = nullptr;
    UINT message = 0;
    WPARAM wparam = 0;
    LPARAM lparam = 0;
    std::optional<std::string> text;
};

std::optional<MessageArgs> parse_message_args(const Args& args, std::string& error)
{
    if (args.size() < 2 || args.size() > 4) {
        error = "expected HWND MSG [WPARAM [LPARAM]]";
        return std::nullopt;
    }
    MessageArgs m;
    auto hwnd = kolmwin::parse_hwnd(args[0]);
    if (!hwnd) {
        error = "bad window handle: " + args[0];
        return std::nullopt;
    }
    m.hwnd = *hwnd;
    auto msg = kolmwin::parse_message(args[1]);
    if (!msg) {
        error = "bad message: " + args[1];
        return std::nullopt;
    }
    m.message = *msg;
    if (args.size() >= 3) {
        auto w = kolmwin::parse_number(args[2]);
        if (!w) {
            error = "bad wParam: " + args[2];
            return std::nullopt;
        }
        m.wparam = static_cast<WPARAM>(*w);
    }
    if (args.size() == 4) {
        if (args[3].rfind("--text=", 0) == 0) {
            m.text = args[3].substr(7);
        } else {
            auto l = kolmwin::parse_number(args[3]);
            if (!l) {
                error = "bad lParam: " + args[3];
                return std::nullopt;
            }
            m.lparam = static_cast<LPARAM>(*l);
        }
    }
    return m;
}

// "--text STRING" is folded into one "--text=STRING" argument.
// Any other argument beginning with "--" is left in `unknown`.
Args fold_text_option(const Args& in, std::string& error, std::string& unknown)
{
    Args out;
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] == "--text") {
            if (i + 1 >= in.size()) {
                error = "--text needs a STRING";
                return {};
            }
            out.push_back("--text=" + in[++i]);
        } else if (in[i].rfind("--", 0) == 0) {
            unknown = in[i];
            return {};
        } else {
            out.push_back(in[i]);
        }
    }
    return out;
}

int cmd_find(const Args& args)
{
    if (args.size() != 2)
        return usage();
    auto cls = kolmwin::optional_name(args[0]);
    auto title = kolmwin::optional_name(args[1]);
    HWND h = FindWindowA(cls ? cls->c_str() : nullptr, title ? title->c_str() : nullptr);
    if (!h)
        return failure("no window found");
    std::printf("0x%08X\n", HandleToDword(h));
    return 0;
}

int cmd_send(const Args& raw)
{
    std::string error, unknown;
    Args args = fold_text_option(raw, error, unknown);
    if (!unknown.empty())
        return kolmwin::unknown_option(unknown);
    if (!error.empty())
        return failure(error);
    auto m = parse_message_args(args, error);
    if (!m)
        return failure(error);
    if (!IsWindow(m->hwnd))
        return failure(error_text(ERROR_INVALID_WINDOW_HANDLE));
    SetLastError(0);
    LRESULT r = m->text ? kolm::platform::send_text_message(m->hwnd, m->message, m->wparam, *m->text)
                        : SendMessageA(m->hwnd, m->message, m->wparam, m->lparam);
    // The window's procedure runs elsewhere, so a last error set here was
    // set by the layer: the message did not get through.
    if (r == 0 && GetLastError() != 0)
        return failure(error_text(GetLastError()));
    std::printf("%lld\n", static_cast<long long>(r));
    return 0;
}

int cmd_post(const Args& raw)
{
    std::string error, unknown;
    Args args = fold_text_option(raw, error, unknown);
    if (!unknown.empty())
        return kolmwin::unknown_option(unknown);
    if (!error.empty())
        return failure(error);
    auto m = parse_message_args(args, error);
    if (!m)
        return failure(error);
    if (m->text)
        return failure("--text works only with send: a posted message outlives the text");
    if (!PostMessageA(m->hwnd, m->message, m->wparam, m->lparam))
        return failure(error_text(GetLastError()));
    return 0;
}

int cmd_gettext(const Args& args)
{
    if (args.size() == 2)
        return kolmwin::cmd_dlgtext(args);
    if (args.size() != 1)
        return usage();
    auto hwnd = kolmwin::parse_hwnd(args[0]);
    if (!hwnd)
        return failure("bad window handle: " + args[0]);
    if (!IsWindow(*hwnd))
        return failure(error_text(ERROR_INVALID_WINDOW_HANDLE));
    SetLastError(0);
    LRESULT len = SendMessageA(*hwnd, WM_GETTEXTLENGTH, 0, 0);
    if (len < 0 || (len == 0 && GetLastError() != 0))
        return failure(error_text(GetLastError()));
    // One more than the length for the NUL, and a little slack in case the
    // text grew between the two messages (it is cut, never overrun).
    std::vector<char> buf(static_cast<size_t>(len) + 64);
    SendMessageA(*hwnd, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()));
    buf.back() = '\0';
    std::printf("%s\n", buf.data());
    return 0;
}

struct Command {
    const char* name;
    int (*run)(const Args&);
};

constexpr Command commands[] = {
    { "find", cmd_find },
    { "send", cmd_send },
    { "post", cmd_post },
    { "gettext", cmd_gettext },
    { "controls", kolmwin::cmd_controls },
    { "items", kolmwin::cmd_items },
    { "settext", kolmwin::cmd_settext },
    { "click", kolmwin::cmd_click },
    { "select", kolmwin::cmd_select },
};

} // namespace

int main(int argc, char** argv)
{
    if (const auto answered = kolm::answer_help_or_version(argc, argv, kolmwin::help))
        return *answered;
    if (argc < 2)
        return usage();
    const std::string verb = argv[1];
    if (verb.rfind("--", 0) == 0)
        return kolmwin::unknown_option(verb);
    Args args(argv + 2, argv + argc);
    for (const auto& c : commands)
        if (verb == c.name)
            return c.run(args);
    return usage();
}
