// kolmui: the desktop renderer's own process. It reads the program's
// pictures from descriptor 3 and writes the user's actions back to it;
// when the program goes (the stream ends) it ends too, and when the X
// server goes, the toolkit ends this process and the program carries on
// without it.
#include "kolmui_windows.h"

#include "kolm/program_help.h"
#include "kolmids.h"

#include <FL/Fl.H>
#include <FL/x.H>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sys/socket.h>
#include <unistd.h>

namespace kolmui {

namespace wire = kolm::platform::wire;

namespace {

constexpr int stream_fd = 3;

std::map<uint32_t, TopWindow*> g_windows;
TopWindow* g_picture = nullptr; // the window whose picture is coming in
wire::LineBuffer g_incoming;

std::optional<long long> field(const Record& r, size_t i)
{
    return i < r.size() ? wire::number(r[i]) : std::nullopt;
}

void take_window(const Record& r)
{
    // win HWND KIND X Y W H TOPMOST ENABLED CAPTION
    auto hwnd = field(r, 1);
    auto x = field(r, 3), y = field(r, 4), w = field(r, 5), h = field(r, 6), topmost = field(r, 7),
         enabled = field(r, 8);
    if (r.size() < 10 || !hwnd || *hwnd <= 0 || !x || !y || !w || !h || !topmost || !enabled)
        return;
    auto& win = g_windows[static_cast<uint32_t>(*hwnd)];
    if (!win)
        win = new TopWindow(static_cast<uint32_t>(*hwnd), static_cast<int>(*x), static_cast<int>(*y),
                            std::max(1, static_cast<int>(*w)), std::max(1, static_cast<int>(*h)));
    win->begin_picture(static_cast<int>(*x), static_cast<int>(*y), static_cast<int>(*w), static_cast<int>(*h),
                       *topmost != 0, *enabled != 0, r[9]);
    g_picture = win;
}

void take_control(const Record& r)
{
    if (!g_picture || r.size() < 12)
        return;
    ControlRecord c;
    auto hwnd = field(r, 1);
    auto style = field(r, 4), ex = field(r, 5);
    auto x = field(r, 6), y = field(r, 7), w = field(r, 8), h = field(r, 9), focused = field(r, 10);
    if (!hwnd || !style || !ex || !x || !y || !w || !h || !focused)
        return;
    c.hwnd = static_cast<uint32_t>(*hwnd);
    c.class_name = r[3];
    c.style = static_cast<long>(*style);
    c.ex_style = static_cast<long>(*ex);
    c.x = static_cast<int>(*x), c.y = static_cast<int>(*y), c.w = static_cast<int>(*w), c.h = static_cast<int>(*h);
    c.focused = *focused != 0;
    c.text = r[11];
    for (size_t i = 0; i < 3; ++i)
        c.state[i] = field(r, 12 + i).value_or(0);
    g_picture->put_control(c);
}

void take_record(const Record& r)
{
    const std::string& what = r[0];
    if (what == "win") {
        take_window(r);
    } else if (what == "ctl") {
        take_control(r);
    } else if (what == "item") {
        if (g_picture && g_picture->last_list() && r.size() >= 3)
            g_picture->last_list()->add_item(r[1] == "1", r[2]);
    } else if (what == "end") {
        if (g_picture)
            g_picture->finish();
        g_picture = nullptr;
    } else if (what == "hide") {
        auto hwnd = field(r, 1);
        auto it = hwnd ? g_windows.find(static_cast<uint32_t>(*hwnd)) : g_windows.end();
        if (it != g_windows.end()) {
            if (g_picture == it->second)
                g_picture = nullptr;
            it->second->hide();
            Fl::delete_widget(it->second);
            g_windows.erase(it);
        }
    } else if (what == "msgbox" && r.size() >= 7) {
        auto id = field(r, 1), type = field(r, 2), def = field(r, 6);
        if (!id || !type || !def)
            return;
        std::vector<int> buttons;
        size_t start = 0;
        while (start <= r[5].size()) {
            size_t comma = r[5].find(',', start);
            if (comma == std::string::npos)
                comma = r[5].size();
            if (auto b = wire::number(r[5].substr(start, comma - start)))
                buttons.push_back(static_cast<int>(*b));
            start = comma + 1;
        }
        if (buttons.empty())
            return;
        show_message_box(static_cast<int>(*id), static_cast<long>(*type), r[3], r[4], buttons, static_cast<int>(*def));
    }
}

void on_stream(int fd, void*)
{
    char buf[65536];
    ssize_t n;
    do {
        n = ::recv(fd, buf, sizeof buf, 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0)
        std::exit(0); // the program is gone
    g_incoming.feed(buf, static_cast<size_t>(n));
    while (auto line = g_incoming.next())
        take_record(wire::decode(*line));
    if (g_incoming.overflowed())
        std::exit(1);
}

// Windows virtual-key codes of the keys that type no character.
int virtual_key(int key)
{
    switch (key) {
    case FL_Tab: return 0x09;
    case FL_Enter:
    case FL_KP_Enter: return 0x0D;
    case FL_Escape: return 0x1B;
    case FL_BackSpace: return 0x08;
    case FL_Delete: return 0x2E;
    case FL_Insert: return 0x2D;
    case FL_Left: return 0x25;
    case FL_Up: return 0x26;
    case FL_Right: return 0x27;
    case FL_Down: return 0x28;
    case FL_Home: return 0x24;
    case FL_End: return 0x23;
    case FL_Page_Up: return 0x21;
    case FL_Page_Down: return 0x22;
    case ' ': return 0x20; // its character comes from the key's translation
    default: return 0;
    }
}

int event_x_in(Fl_Widget* w)
{
    return Fl::event_x() - (w->as_window() ? 0 : w->x());
}

int event_y_in(Fl_Widget* w)
{
    return Fl::event_y() - (w->as_window() ? 0 : w->y());
}

} // namespace

std::string num(long long v)
{
    return std::to_string(v);
}

void send(const Record& record)
{
    const std::string bytes = wire::encode(record);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(stream_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            std::exit(0);
        done += static_cast<size_t>(n);
    }
}

void send_press(uint32_t hwnd, Fl_Widget* w)
{
    send({ "press", num(hwnd), num(event_x_in(w)), num(event_y_in(w)), num(Fl::event_state(FL_SHIFT) ? 1 : 0),
           num(Fl::event_state(FL_CTRL) ? 1 : 0) });
}

void send_release(uint32_t hwnd, Fl_Widget* w)
{
    send({ "release", num(hwnd), num(event_x_in(w)), num(event_y_in(w)) });
}

void send_key(uint32_t top)
{
    if (Fl::event_state(FL_CTRL | FL_ALT | FL_META))
        return; // no accelerators in these dialogs
    if (const int vk = virtual_key(Fl::event_key())) {
        send({ "key", num(top), num(vk), num(Fl::event_state(FL_SHIFT) ? 1 : 0) });
        return;
    }
    const char* text = Fl::event_text();
    for (int i = 0; text && i < Fl::event_length(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != 0x7F)
            send({ "char", num(top), num(c) });
    }
}

std::string without_mnemonics(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size())
            ++i;
        out += text[i];
    }
    return out;
}

const kolm::ProgramHelp help = {
    "kolmui",
    "kolmui [--help | --version]",
    "The desktop renderer of the Tarvizone Redirector's programs. A program\n"
    "that shows windows on a desktop starts it from its own folder with a\n"
    "stream on descriptor 3; kolmui draws the windows the stream describes and\n"
    "sends back what the user does. It is not meant to be started by hand.\n"
    "\n"
    "Environment:\n"
    "  DISPLAY  the X display\n"
    "\n"
    "Exit status: 0 when the program's stream ends; it ends at once when the X\n"
    "display goes.\n",
    KOLM_PRODUCT_ON_LINUX,
};

} // namespace kolmui

int main(int argc, char** argv)
{
    using namespace kolmui;
    if (const auto answered = kolm::linux_entry_options(argc, argv, help))
        return *answered;
    // Sizes as the dialogs were designed: 8-point type at 96 dpi, and the
    // grey of dialog faces.
    FL_NORMAL_SIZE = 11;
    Fl::background(192, 192, 192);
    Fl::visible_focus(0);
    fl_open_display(); // ends the process when there is no display
    Fl::add_fd(stream_fd, FL_READ, on_stream);
    send({ "ready" });
    for (;;)
        Fl::wait(1e20);
}
