#include "kolmui_windows.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <algorithm>

namespace kolmui {

namespace {

std::set<Fl_Window*> g_on_top; // topmost windows and message boxes

// Asks the window manager to keep the window above the others (the EWMH
// "above" state); without a window manager, raising it is what counts.
void ask_above(Fl_Window* w)
{
    Window xid = fl_xid(w);
    if (!xid)
        return;
    XEvent e {};
    e.xclient.type = ClientMessage;
    e.xclient.window = xid;
    e.xclient.message_type = XInternAtom(fl_display, "_NET_WM_STATE", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = 1; // add
    e.xclient.data.l[1] = static_cast<long>(XInternAtom(fl_display, "_NET_WM_STATE_ABOVE", False));
    e.xclient.data.l[2] = 0;
    e.xclient.data.l[3] = 1;
    XSendEvent(fl_display, RootWindow(fl_display, fl_screen), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &e);
}

} // namespace

void keep_topmost_on_top()
{
    for (Fl_Window* w : g_on_top)
        if (w->shown())
            XRaiseWindow(fl_display, fl_xid(w));
    XFlush(fl_display);
}

TopWindow::TopWindow(uint32_t hwnd, int x, int y, int w, int h)
    : Fl_Double_Window(x, y, w, h)
    , m_hwnd(hwnd)
{
    end();
    color(FL_GRAY);
    callback([](Fl_Widget* w, void*) {
        // The window manager's close button is the system menu's Close.
        auto* self = static_cast<TopWindow*>(w);
        send({ "close", num(self->m_hwnd) });
    });
}

TopWindow::~TopWindow()
{
    g_on_top.erase(this);
}

void TopWindow::begin_picture(int x, int y, int w, int h, bool topmost, bool enabled, const std::string& caption)
{
    m_x = x, m_y = y, m_w = std::max(1, w), m_h = std::max(1, h);
    m_topmost = topmost;
    m_enabled = enabled;
    copy_label(caption.c_str());
    m_seen.clear();
    m_focus = 0;
    m_last_list = nullptr;
}

void TopWindow::put_control(const ControlRecord& r)
{
    m_seen.insert(r.hwnd);
    auto it = m_controls.find(r.hwnd);
    if (it != m_controls.end() && it->second->kind != control_kind(r)) {
        Fl_Widget* old = it->second->widget();
        remove(old);
        Fl::delete_widget(old);
        m_controls.erase(it);
        it = m_controls.end();
    }
    Control* c;
    if (it == m_controls.end()) {
        c = make_control(r, m_hwnd);
        m_controls[r.hwnd] = c;
        add(c->widget());
    } else {
        c = it->second;
    }
    Fl_Widget* w = c->widget();
    w->resize(r.x, r.y, std::max(1, r.w), std::max(1, r.h));
    const bool visible = (r.style & 0x10000000L) != 0; // WS_VISIBLE
    if (visible)
        w->show();
    else
        w->hide();
    // Controls appear in tab order; drawing keeps it, so a group box drawn
    // first lies under the controls inside it.
    insert(*w, children());
    c->update(r);
    if (r.focused)
        m_focus = r.hwnd;
    m_last_list = c->kind == "listbox" ? static_cast<ListControl*>(c) : nullptr;
}

void TopWindow::finish()
{
    for (auto it = m_controls.begin(); it != m_controls.end();) {
        if (m_seen.contains(it->first)) {
            ++it;
            continue;
        }
        Fl_Widget* w = it->second->widget();
        remove(w);
        Fl::delete_widget(w);
        it = m_controls.erase(it);
    }
    if (x() != m_x || y() != m_y || w() != m_w || h() != m_h)
        resize(m_x, m_y, m_w, m_h);
    if (m_enabled)
        activate();
    else
        deactivate();
    const bool first = !shown();
    if (first)
        show();
    if (m_topmost) {
        if (!g_on_top.contains(this) || first)
            ask_above(this);
        g_on_top.insert(this);
    } else {
        g_on_top.erase(this);
    }
    // The keyboard goes where the program's focus is: an edit shows its
    // caret, anything else leaves the keys with the window.
    auto f = m_controls.find(m_focus);
    auto* edit = f != m_controls.end() && f->second->kind == "edit" ? static_cast<EditControl*>(f->second) : nullptr;
    if (edit) {
        if (Fl::focus() != edit)
            edit->take_focus();
        edit->show_caret();
    } else if (Fl::focus() && Fl::focus()->window() == this) {
        Fl::focus(this);
    }
    redraw();
    keep_topmost_on_top();
}

int TopWindow::handle(int event)
{
    switch (event) {
    case FL_KEYBOARD:
        send_key(m_hwnd);
        return 1;
    case FL_SHORTCUT:
        // A key that reached no widget: ours when nothing of another
        // window has the focus.
        if (Fl::focus() && Fl::focus() != this && Fl::focus()->window() != this)
            return 0;
        send_key(m_hwnd);
        return 1;
    case FL_FOCUS:
    case FL_UNFOCUS:
        return 1;
    case FL_PUSH:
        if (Fl_Double_Window::handle(event))
            return 1;
        send_press(m_hwnd, this);
        m_pressed_here = true;
        return 1;
    case FL_RELEASE:
        if (m_pressed_here) {
            m_pressed_here = false;
            send_release(m_hwnd, this);
            return 1;
        }
        return Fl_Double_Window::handle(event);
    default:
        return Fl_Double_Window::handle(event);
    }
}

namespace {

constexpr int answer_ok = 1, answer_cancel = 2;

const char* button_label(int answer)
{
    switch (answer) {
    case 1: return "OK";
    case 2: return "Cancel";
    case 3: return "Abort";
    case 4: return "Retry";
    case 5: return "Ignore";
    case 6: return "Yes";
    case 7: return "No";
    default: return "?";
    }
}

// The message text: drawn with symbol parsing off, wrapped to its box.
class MessageText final : public Fl_Widget {
public:
    MessageText(int x, int y, int w, int h, std::string text) : Fl_Widget(x, y, w, h), m_text(std::move(text)) { }
    void draw() override
    {
        fl_font(FL_HELVETICA, 11);
        fl_color(FL_BLACK);
        fl_draw(m_text.c_str(), x(), y(), w(), h(), FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_WRAP,
                nullptr, 0);
    }

private:
    std::string m_text;
};

// The icon of MB_ICONHAND, MB_ICONQUESTION, MB_ICONEXCLAMATION or
// MB_ICONASTERISK, in the shapes and colours Windows uses for them.
class MessageIcon final : public Fl_Widget {
public:
    MessageIcon(int x, int y, long icon) : Fl_Widget(x, y, 32, 32), m_icon(icon) { }
    void draw() override
    {
        fl_font(FL_HELVETICA_BOLD, 20);
        switch (m_icon) {
        case 0x10:
            fl_color(FL_RED);
            fl_pie(x(), y(), 32, 32, 0, 360);
            fl_color(FL_WHITE);
            fl_line_style(FL_SOLID, 4);
            fl_line(x() + 10, y() + 10, x() + 22, y() + 22);
            fl_line(x() + 22, y() + 10, x() + 10, y() + 22);
            fl_line_style(0);
            return;
        case 0x30:
            fl_color(FL_YELLOW);
            fl_polygon(x() + 16, y() + 1, x() + 31, y() + 30, x() + 1, y() + 30);
            fl_color(FL_BLACK);
            fl_loop(x() + 16, y() + 1, x() + 31, y() + 30, x() + 1, y() + 30);
            fl_draw("!", 1, x() + 12, y() + 27);
            return;
        default:
            fl_color(FL_WHITE);
            fl_pie(x(), y(), 32, 32, 0, 360);
            fl_color(FL_BLACK);
            fl_arc(x(), y(), 32, 32, 0, 360);
            fl_color(FL_BLUE);
            fl_draw(m_icon == 0x20 ? "?" : "i", 1, x() + (m_icon == 0x20 ? 10 : 13), y() + 24);
            return;
        }
    }

private:
    long m_icon;
};

class MessageButton final : public Fl_Button {
public:
    MessageButton(int x, int y, int w, int h, const char* label, bool is_default)
        : Fl_Button(x, y, w, h, label), m_default(is_default) { }
    void draw() override
    {
        if (!m_default)
            return Fl_Button::draw();
        fl_color(FL_BLACK);
        fl_rect(x(), y(), w(), h());
        draw_box(value() ? FL_DOWN_BOX : FL_UP_BOX, x() + 1, y() + 1, w() - 2, h() - 2, FL_GRAY);
        draw_label(x() + 1, y() + 1, w() - 2, h() - 2);
    }

private:
    bool m_default;
};

class MessageBoxWindow final : public Fl_Double_Window {
public:
    MessageBoxWindow(int id, const std::vector<int>& buttons, int default_answer, int w, int h)
        : Fl_Double_Window(w, h), m_id(id), m_buttons(buttons), m_default(default_answer)
    {
        callback([](Fl_Widget* w, void*) { static_cast<MessageBoxWindow*>(w)->dismiss(); });
    }

    ~MessageBoxWindow() override { g_on_top.erase(this); }

    void answer(int button)
    {
        send({ "answer", num(m_id), num(button) });
        hide();
        Fl::delete_widget(this);
    }

    // Escape and the close button: Cancel, or OK when it is the only
    // button; a box with neither cannot be closed that way.
    void dismiss()
    {
        if (std::find(m_buttons.begin(), m_buttons.end(), answer_cancel) != m_buttons.end())
            answer(answer_cancel);
        else if (m_buttons.size() == 1 && m_buttons[0] == answer_ok)
            answer(answer_ok);
    }

    int handle(int event) override
    {
        if (event == FL_KEYBOARD || event == FL_SHORTCUT) {
            const int key = Fl::event_key();
            if (key == FL_Enter || key == FL_KP_Enter) {
                answer(m_default);
                return 1;
            }
            if (key == FL_Escape) {
                dismiss();
                return 1;
            }
        }
        return Fl_Double_Window::handle(event);
    }

private:
    int m_id;
    std::vector<int> m_buttons;
    int m_default;
};

} // namespace

void show_message_box(int id, long type, const std::string& caption, const std::string& text,
                      const std::vector<int>& buttons, int default_answer)
{
    const long icon = type & 0xF0;
    const int bw = 75, bh = 23, gap = 6, margin = 12;
    const int text_x = icon ? margin + 32 + margin : margin;
    fl_font(FL_HELVETICA, 11);
    int tw = 360, th = 0;
    fl_measure(text.c_str(), tw, th, 0);
    tw = std::max(tw, 1);
    th = std::max(th, icon ? 32 : fl_height());
    const int buttons_w = static_cast<int>(buttons.size()) * bw + (static_cast<int>(buttons.size()) - 1) * gap;
    const int w = std::max(text_x + tw + margin, buttons_w + 2 * margin);
    const int h = margin + th + margin + bh + margin;
    auto* box = new MessageBoxWindow(id, buttons, default_answer, w, h);
    box->color(FL_GRAY);
    box->copy_label(caption.c_str());
    if (icon)
        new MessageIcon(margin, margin, icon);
    new MessageText(text_x, margin, tw, th, text);
    int bx = (w - buttons_w) / 2;
    for (int b : buttons) {
        auto* button = new MessageButton(bx, h - margin - bh, bw, bh, button_label(b), b == default_answer);
        button->labelsize(11);
        button->callback([](Fl_Widget* w, void* answer) {
            static_cast<MessageBoxWindow*>(w->window())->answer(static_cast<int>(reinterpret_cast<intptr_t>(answer)));
        }, reinterpret_cast<void*>(static_cast<intptr_t>(b)));
        bx += bw + gap;
    }
    box->end();
    box->position((Fl::w() - w) / 2, (Fl::h() - h) / 2);
    box->show();
    g_on_top.insert(box);
    ask_above(box);
    keep_topmost_on_top();
}

} // namespace kolmui
