// The dialog verbs of kolmwin.
//
//   kolmwin controls HWND                 one line per child control:
//                                         ID CLASS enabled|disabled visible|hidden [STATE] "TEXT"
//                                         STATE: checked=0|1|2 for check boxes and radio
//                                         buttons; items=N selected=I,J,... for list boxes
//   kolmwin items HWND ID                 the list box's items, one "INDEX TEXT" per line
//   kolmwin gettext HWND ID               the control's text
//   kolmwin settext HWND ID TEXT          sets it (an edit tells its dialog EN_CHANGE)
//   kolmwin click HWND ID                 the user clicks the button
//   kolmwin select HWND ID INDEX [--shift] [--ctrl] [--double]
//                                         the user clicks list item INDEX
//
// TEXT in the controls listing is quoted and escaped as in the screen log.
#include "kolmwin_dialog.h"
#include "kolmwin_args.h"

#include "kolm/automation.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <optional>
#include <thread>

namespace kolmwin {

namespace {

// How long an action waits for the dialog to finish handling it. A click
// that opens a modal dialog or a message box is answered as soon as that
// is up; one that keeps its program busy longer has been delivered all the
// same, so the tool reports it done and leaves the answer behind rather
// than hang a script.
constexpr auto action_bound = std::chrono::seconds(5);

// Children listed at most: a dialog template holds far fewer.
constexpr WPARAM max_children = 1024;

int failure(const std::string& what)
{
    std::fprintf(stderr, "kolmwin: %s\n", what.c_str());
    return 1;
}

std::optional<HWND> dialog_arg(const std::string& s, std::string& error)
{
    auto h = parse_hwnd(s);
    if (!h) {
        error = "bad window handle: " + s;
        return std::nullopt;
    }
    if (!IsWindow(*h)) {
        error = "no such window (or its program has ended)";
        return std::nullopt;
    }
    return h;
}

// The control with this id in the dialog, or nullptr with the reason.
HWND control_arg(const Args& args, std::string& error)
{
    auto dlg = dialog_arg(args[0], error);
    if (!dlg)
        return nullptr;
    auto id = parse_number(args[1]);
    if (!id || *id < -1 || *id > 0xFFFF) {
        error = "bad control id: " + args[1];
        return nullptr;
    }
    HWND c = GetDlgItem(*dlg, static_cast<int>(*id));
    if (!c)
        error = "the window has no control " + args[1];
    return c;
}

std::string class_of(HWND h)
{
    char name[64] = {};
    GetClassNameA(h, name, sizeof name);
    return name;
}

std::string text_of(HWND h)
{
    const LRESULT len = SendMessageA(h, WM_GETTEXTLENGTH, 0, 0);
    if (len <= 0)
        return {};
    // Slack in case the text grew between the two messages: it is cut,
    // never overrun.
    std::vector<char> buf(static_cast<size_t>(len) + 64);
    SendMessageA(h, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()));
    buf.back() = '\0';
    return buf.data();
}

bool is_check_or_radio(DWORD style)
{
    switch (style & BS_TYPEMASK) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_RADIOBUTTON:
    case BS_3STATE:
    case BS_AUTO3STATE:
    case BS_AUTORADIOBUTTON:
        return true;
    default:
        return false;
    }
}

bool multiple_selection(DWORD style)
{
    return (style & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) != 0;
}

std::vector<int> selected_items(HWND list, DWORD style)
{
    if (!multiple_selection(style)) {
        const LRESULT cur = SendMessageA(list, LB_GETCURSEL, 0, 0);
        return cur >= 0 ? std::vector<int> { static_cast<int>(cur) } : std::vector<int> {};
    }
    const LRESULT n = SendMessageA(list, LB_GETSELCOUNT, 0, 0);
    if (n <= 0)
        return {};
    std::vector<int> out(static_cast<size_t>(n));
    const LRESULT got = SendMessageA(list, LB_GETSELITEMS, out.size(), reinterpret_cast<LPARAM>(out.data()));
    out.resize(got > 0 ? std::min(static_cast<size_t>(got), out.size()) : 0);
    return out;
}

std::string control_line(HWND c)
{
    const DWORD style = static_cast<DWORD>(GetWindowLongA(c, GWL_STYLE));
    const int raw_id = GetDlgCtrlID(c);
    // A static without an id is written -1 in its template.
    const int id = raw_id == 0xFFFF ? -1 : raw_id;
    const std::string cls = class_of(c);
    std::string line = std::to_string(id) + " " + cls;
    line += IsWindowEnabled(c) ? " enabled" : " disabled";
    line += IsWindowVisible(c) ? " visible" : " hidden";
    if (cls == "BUTTON" && is_check_or_radio(style)) {
        line += " checked=" + std::to_string(SendMessageA(c, BM_GETCHECK, 0, 0));
    } else if (cls == "LISTBOX") {
        line += " items=" + std::to_string(SendMessageA(c, LB_GETCOUNT, 0, 0));
        line += " selected=";
        const auto sel = selected_items(c, style);
        for (size_t i = 0; i < sel.size(); ++i)
            line += (i ? "," : "") + std::to_string(sel[i]);
    }
    line += " \"" + kolm::platform::escape_screen_text(text_of(c)) + "\"";
    return line;
}

// Sends the message from a helper thread and waits for the answer up to
// the bound. False when the window is gone.
bool deliver(HWND h, UINT msg, WPARAM w, LPARAM l)
{
    auto task = std::make_shared<std::packaged_task<std::pair<LRESULT, DWORD>()>>([=] {
        SetLastError(0);
        const LRESULT r = SendMessageA(h, msg, w, l);
        return std::pair { r, GetLastError() };
    });
    auto answer = task->get_future();
    std::thread sender([task] { (*task)(); });
    if (answer.wait_for(action_bound) != std::future_status::ready) {
        std::fputs("kolmwin: delivered; the dialog is still handling it\n", stderr);
        std::fflush(stdout);
        // The sending thread stays blocked in the answer; leave without
        // unwinding the process around it.
        std::_Exit(0);
    }
    // Joined, so that no thread of ours is still ending while the process
    // tears down its globals.
    sender.join();
    const auto [r, error] = answer.get();
    return !(r == 0 && error == ERROR_INVALID_WINDOW_HANDLE);
}

} // namespace

int cmd_controls(const Args& args)
{
    if (args.size() != 1)
        return failure("expected HWND");
    std::string error;
    auto dlg = dialog_arg(args[0], error);
    if (!dlg)
        return failure(error);
    for (WPARAM i = 0; i < max_children; ++i) {
        const LRESULT h = SendMessageA(*dlg, kolm::platform::WM_KOLM_DLGCHILD, i, 0);
        if (!h)
            break;
        std::printf("%s\n", control_line(DwordToHandle<HWND>(static_cast<DWORD>(h))).c_str());
    }
    return 0;
}

int cmd_items(const Args& args)
{
    if (args.size() != 2)
        return failure("expected HWND ID");
    std::string error;
    HWND list = control_arg(args, error);
    if (!list)
        return failure(error);
    if (class_of(list) != "LISTBOX")
        return failure("control " + args[1] + " is not a list box");
    const LRESULT n = SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) {
        const LRESULT len = SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        if (len < 0)
            break; // the list shrank meanwhile
        std::vector<char> buf(static_cast<size_t>(len) + 1);
        if (SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buf.data())) < 0)
            break;
        buf.back() = '\0';
        std::printf("%lld %s\n", static_cast<long long>(i), buf.data());
    }
    return 0;
}

int cmd_dlgtext(const Args& args)
{
    std::string error;
    HWND c = control_arg(args, error);
    if (!c)
        return failure(error);
    std::printf("%s\n", text_of(c).c_str());
    return 0;
}

int cmd_settext(const Args& args)
{
    if (args.size() != 3)
        return failure("expected HWND ID TEXT");
    std::string error;
    HWND c = control_arg(args, error);
    if (!c)
        return failure(error);
    if (!IsWindowEnabled(c))
        return failure("control " + args[1] + " is disabled");
    if (!SetWindowTextA(c, args[2].c_str()))
        return failure("the control refused the text");
    return 0;
}

int cmd_click(const Args& args)
{
    if (args.size() != 2)
        return failure("expected HWND ID");
    std::string error;
    HWND c = control_arg(args, error);
    if (!c)
        return failure(error);
    if (class_of(c) != "BUTTON")
        return failure("control " + args[1] + " is not a button");
    // A click the button would ignore is an error for a script, not a
    // silent success.
    if (!IsWindowEnabled(c) || !IsWindowEnabled(GetParent(c)))
        return failure("control " + args[1] + " is disabled");
    if (!IsWindowVisible(c))
        return failure("control " + args[1] + " is hidden");
    if (!deliver(c, kolm::platform::WM_KOLM_CLICK, 0, 0))
        return failure("the window went away");
    return 0;
}

int cmd_select(const Args& raw)
{
    Args args;
    bool shift = false, ctrl = false, twice = false;
    for (const auto& a : raw) {
        if (a == "--shift")
            shift = true;
        else if (a == "--ctrl")
            ctrl = true;
        else if (a == "--double")
            twice = true;
        else if (a.rfind("--", 0) == 0)
            return unknown_option(a);
        else
            args.push_back(a);
    }
    if (args.size() != 3)
        return failure("expected HWND ID INDEX [--shift] [--ctrl] [--double]");
    std::string error;
    HWND list = control_arg(args, error);
    if (!list)
        return failure(error);
    if (class_of(list) != "LISTBOX")
        return failure("control " + args[1] + " is not a list box");
    auto index = parse_number(args[2]);
    const LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    if (!index || *index < 0 || *index >= count)
        return failure("no item " + args[2] + " (the list holds " + std::to_string(count) + ")");
    if (!IsWindowEnabled(list) || !IsWindowEnabled(GetParent(list)))
        return failure("control " + args[1] + " is disabled");

    // The click lands on the item's row counted from the top item; an item
    // above it, or too far below for a 16-bit coordinate, is scrolled to
    // first, as the user scrolls before clicking.
    const int item = static_cast<int>(*index);
    int top = static_cast<int>(SendMessageA(list, LB_GETTOPINDEX, 0, 0));
    if (item < top || (item - top) >= 0x7FFF / kolm::platform::listbox_item_height - 1) {
        SendMessageA(list, LB_SETTOPINDEX, static_cast<WPARAM>(item), 0);
        top = static_cast<int>(SendMessageA(list, LB_GETTOPINDEX, 0, 0));
    }
    const int y = (item - top) * kolm::platform::listbox_item_height + kolm::platform::listbox_item_height / 2;
    const WPARAM keys = MK_LBUTTON | (shift ? MK_SHIFT : 0) | (ctrl ? MK_CONTROL : 0);
    if (!deliver(list, WM_LBUTTONDOWN, keys, MAKELPARAM(2, y)))
        return failure("the window went away");
    SendMessageA(list, WM_LBUTTONUP, keys & ~static_cast<WPARAM>(MK_LBUTTON), MAKELPARAM(2, y));
    if (twice && !deliver(list, WM_LBUTTONDBLCLK, keys, MAKELPARAM(2, y)))
        return failure("the window went away");
    return 0;
}

} // namespace kolmwin
