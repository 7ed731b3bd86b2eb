#include "kolmui_controls.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <strings.h>

namespace kolmui {

namespace {

constexpr long bs_typemask = 0x0F;
constexpr long bs_defpushbutton = 0x01, bs_checkbox = 0x02, bs_autocheckbox = 0x03, bs_radiobutton = 0x04,
               bs_3state = 0x05, bs_auto3state = 0x06, bs_groupbox = 0x07, bs_autoradiobutton = 0x09;
constexpr long ss_typemask = 0x1F, ss_center = 0x01, ss_right = 0x02, ss_blackrect = 0x04, ss_grayrect = 0x05,
               ss_whiterect = 0x06, ss_blackframe = 0x07, ss_grayframe = 0x08, ss_whiteframe = 0x09,
               ss_simple = 0x0B, ss_leftnowordwrap = 0x0C, ss_noprefix = 0x80;
constexpr long es_center = 0x01, es_right = 0x02, es_multiline = 0x04, es_password = 0x20, es_autohscroll = 0x80,
               es_readonly = 0x800;
constexpr long lbs_multiplesel = 0x08, lbs_extendedsel = 0x800;

constexpr Fl_Font ui_font = FL_HELVETICA;
constexpr int ui_size = 11;

// Text is drawn with symbol parsing off: an '@' in a caption or a
// message is a character, not the start of a drawing command.
void draw_text(const std::string& text, int x, int y, int w, int h, Fl_Align align, bool enabled)
{
    fl_font(ui_font, ui_size);
    if (!enabled) { // engraved, as disabled text is drawn on Windows
        fl_color(FL_WHITE);
        fl_draw(text.c_str(), x + 1, y + 1, w, h, align, nullptr, 0);
        fl_color(fl_darker(FL_GRAY));
    } else {
        fl_color(FL_BLACK);
    }
    fl_draw(text.c_str(), x, y, w, h, align, nullptr, 0);
}

void draw_focus_rect(int x, int y, int w, int h)
{
    fl_color(FL_BLACK);
    fl_line_style(FL_DOT);
    fl_rect(x, y, w, h);
    fl_line_style(0);
}

class ButtonControl final : public Fl_Widget, public Control {
public:
    explicit ButtonControl(const ControlRecord& r) : Fl_Widget(r.x, r.y, r.w, r.h) { }
    Fl_Widget* widget() override { return this; }

    void update(const ControlRecord& r) override
    {
        m_type = r.style & bs_typemask;
        m_enabled = !(r.style & ws_disabled);
        m_focused = r.focused;
        m_text = without_mnemonics(r.text);
        m_check = static_cast<int>(r.state[0]);
        m_pushed = r.state[1] != 0;
        redraw();
    }

    int handle(int event) override
    {
        if (m_type == bs_groupbox)
            return 0; // a frame only: the click belongs to what lies under it
        switch (event) {
        case FL_PUSH:
            if (Fl::event_button() == FL_LEFT_MOUSE)
                send_press(hwnd, this);
            return 1;
        case FL_RELEASE:
            if (Fl::event_button() == FL_LEFT_MOUSE)
                send_release(hwnd, this);
            return 1;
        case FL_DRAG:
        case FL_ENTER:
        case FL_LEAVE:
            return 1;
        default:
            return 0;
        }
    }

protected:
    void draw() override
    {
        switch (m_type) {
        case bs_groupbox: draw_group(); break;
        case bs_radiobutton:
        case bs_autoradiobutton: draw_mark(true); break;
        case bs_checkbox:
        case bs_autocheckbox:
        case bs_3state:
        case bs_auto3state: draw_mark(false); break;
        default: draw_push(); break;
        }
    }

private:
    void draw_push()
    {
        int X = x(), Y = y(), W = w(), H = h();
        fl_color(FL_GRAY);
        fl_rectf(X, Y, W, H);
        // The default push button has the extra black frame.
        if (m_type == bs_defpushbutton) {
            fl_color(FL_BLACK);
            fl_rect(X, Y, W, H);
            X += 1, Y += 1, W -= 2, H -= 2;
        }
        draw_box(m_pushed ? FL_DOWN_BOX : FL_UP_BOX, X, Y, W, H, FL_GRAY);
        const int d = m_pushed ? 1 : 0;
        draw_text(m_text, X + d, Y + d, W, H, FL_ALIGN_CENTER, m_enabled);
        if (m_focused)
            draw_focus_rect(X + 3, Y + 3, W - 6, H - 6);
    }

    void draw_mark(bool radio)
    {
        const int size = 13;
        const int my = y() + (h() - size) / 2;
        fl_color(FL_GRAY);
        fl_rectf(x(), y(), w(), h());
        if (radio) {
            fl_color(FL_WHITE);
            fl_pie(x(), my, size, size, 0, 360);
            fl_color(fl_darker(FL_GRAY));
            fl_arc(x(), my, size, size, 45, 225);
            fl_color(FL_WHITE);
            fl_arc(x(), my, size, size, 225, 405);
            if (m_check == 1) {
                fl_color(m_enabled ? FL_BLACK : fl_darker(FL_GRAY));
                fl_pie(x() + 4, my + 4, size - 8, size - 8, 0, 360);
            }
        } else {
            draw_box(FL_DOWN_BOX, x(), my, size, size, m_check == 2 ? FL_GRAY : FL_WHITE);
            if (m_check) {
                fl_color(m_enabled ? FL_BLACK : fl_darker(FL_GRAY));
                fl_line_style(FL_SOLID, 2);
                fl_line(x() + 3, my + 6, x() + 5, my + 9, x() + 10, my + 3);
                fl_line_style(0);
            }
        }
        const int tx = x() + size + 4;
        draw_text(m_text, tx, y(), w() - size - 4, h(), FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP, m_enabled);
        if (m_focused) {
            fl_font(ui_font, ui_size);
            const int tw = std::min(static_cast<int>(fl_width(m_text.c_str())) + 4, w() - size - 2);
            draw_focus_rect(tx - 2, y() + (h() - fl_height()) / 2 - 1, tw, fl_height() + 2);
        }
    }

    // The group box's frame runs through the middle of its caption's line,
    // and the caption interrupts the top edge.
    void draw_group()
    {
        fl_font(ui_font, ui_size);
        const int th = fl_height();
        const int ly = y() + th / 2;
        const int fh = h() - (ly - y()) - 1;
        fl_color(fl_darker(FL_GRAY));
        fl_rect(x(), ly, w() - 1, fh);
        fl_color(FL_WHITE);
        fl_rect(x() + 1, ly + 1, w() - 1, fh);
        if (!m_text.empty()) {
            const int tw = static_cast<int>(fl_width(m_text.c_str()));
            fl_color(FL_GRAY);
            fl_rectf(x() + 6, y(), tw + 4, th);
            draw_text(m_text, x() + 8, y(), tw, th, FL_ALIGN_LEFT | FL_ALIGN_INSIDE, m_enabled);
        }
    }

    long m_type = 0;
    bool m_enabled = true;
    bool m_focused = false;
    bool m_pushed = false;
    int m_check = 0;
    std::string m_text;
};

class StaticControl final : public Fl_Widget, public Control {
public:
    explicit StaticControl(const ControlRecord& r) : Fl_Widget(r.x, r.y, r.w, r.h) { }
    Fl_Widget* widget() override { return this; }

    void update(const ControlRecord& r) override
    {
        m_style = r.style;
        m_text = (r.style & ss_noprefix) ? r.text : without_mnemonics(r.text);
        m_text.erase(std::remove(m_text.begin(), m_text.end(), '\r'), m_text.end());
        redraw();
    }

    int handle(int event) override
    {
        switch (event) {
        case FL_PUSH:
            send_press(hwnd, this);
            return 1;
        case FL_RELEASE:
            send_release(hwnd, this);
            return 1;
        case FL_DRAG:
            return 1;
        default:
            return 0;
        }
    }

protected:
    void draw() override
    {
        const long type = m_style & ss_typemask;
        switch (type) {
        case ss_blackrect: fl_color(FL_BLACK); fl_rectf(x(), y(), w(), h()); return;
        case ss_grayrect: fl_color(fl_darker(FL_GRAY)); fl_rectf(x(), y(), w(), h()); return;
        case ss_whiterect: fl_color(FL_WHITE); fl_rectf(x(), y(), w(), h()); return;
        case ss_blackframe: fl_color(FL_BLACK); fl_rect(x(), y(), w(), h()); return;
        case ss_grayframe: fl_color(fl_darker(FL_GRAY)); fl_rect(x(), y(), w(), h()); return;
        case ss_whiteframe: fl_color(FL_WHITE); fl_rect(x(), y(), w(), h()); return;
        default: break;
        }
        Fl_Align align = FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_CLIP;
        if (type == ss_center)
            align |= FL_ALIGN_WRAP;
        else if (type == ss_right)
            align |= FL_ALIGN_RIGHT | FL_ALIGN_WRAP;
        else if (type == ss_simple || type == ss_leftnowordwrap)
            align |= FL_ALIGN_LEFT;
        else
            align |= FL_ALIGN_LEFT | FL_ALIGN_WRAP;
        fl_push_clip(x(), y(), w(), h());
        fl_color(FL_GRAY);
        fl_rectf(x(), y(), w(), h());
        draw_text(m_text, x(), y(), w(), h(), align, !(m_style & ws_disabled));
        fl_pop_clip();
    }

private:
    long m_style = 0;
    std::string m_text;
};

// Byte offset in the model's text (line breaks "\r\n") to the offset in
// the text shown (line breaks "\n").
int shown_offset(const std::string& text, long long offset)
{
    const size_t end = std::min(static_cast<size_t>(std::max(0LL, offset)), text.size());
    return static_cast<int>(end - std::count(text.begin(), text.begin() + static_cast<long>(end), '\r'));
}

} // namespace

EditControl::EditControl(const ControlRecord& r, uint32_t top)
    : Fl_Input(r.x, r.y, r.w, r.h)
    , m_top(top)
{
    textfont(ui_font);
    textsize(ui_size);
}

void EditControl::update(const ControlRecord& r)
{
    int type = FL_NORMAL_INPUT;
    if (r.style & es_multiline)
        type = (r.style & es_autohscroll) ? FL_MULTILINE_INPUT : FL_MULTILINE_INPUT_WRAP;
    else if (r.style & es_password)
        type = FL_SECRET_INPUT;
    this->type(static_cast<uchar>(type));
    const bool bordered = (r.style & ws_border) || (r.ex_style & ws_ex_clientedge);
    box(bordered ? FL_DOWN_BOX : FL_FLAT_BOX);
    const bool grey = (r.style & es_readonly) || (r.style & ws_disabled);
    color(grey ? FL_GRAY : FL_WHITE);
    textcolor((r.style & ws_disabled) ? fl_darker(FL_GRAY) : FL_BLACK);
    (void)es_center, (void)es_right; // FLTK's input aligns left only
    std::string shown = r.text;
    shown.erase(std::remove(shown.begin(), shown.end(), '\r'), shown.end());
    if (shown != (value() ? value() : ""))
        value(shown.c_str());
    m_caret = shown_offset(r.text, r.state[1]);
    m_mark = shown_offset(r.text, r.state[0]);
    show_caret();
}

void EditControl::show_caret()
{
    position(m_caret, m_mark);
}

int EditControl::handle(int event)
{
    switch (event) {
    case FL_KEYBOARD:
        send_key(m_top);
        return 1;
    case FL_PUSH:
        send_press(hwnd, this);
        return 1;
    case FL_RELEASE:
        send_release(hwnd, this);
        return 1;
    case FL_DRAG:
    case FL_PASTE:
    case FL_DND_ENTER:
    case FL_DND_DRAG:
    case FL_DND_RELEASE:
        return 1;
    case FL_SHORTCUT:
        return 0;
    case FL_FOCUS: {
        const int r = Fl_Input::handle(event);
        show_caret(); // the model's caret, not where focusing puts it
        return r;
    }
    default:
        return Fl_Input::handle(event);
    }
}

ListControl::ListControl(const ControlRecord& r)
    : Fl_Browser(r.x, r.y, r.w, r.h)
{
    format_char(0); // an item starting with '@' is text, not a format
    textfont(ui_font);
    textsize(ui_size);
    has_scrollbar(VERTICAL);
}

void ListControl::update(const ControlRecord& r)
{
    type((r.style & (lbs_multiplesel | lbs_extendedsel)) ? FL_MULTI_BROWSER : FL_HOLD_BROWSER);
    const bool bordered = (r.style & ws_border) || (r.ex_style & ws_ex_clientedge);
    box(bordered ? FL_DOWN_BOX : FL_FLAT_BOX);
    color(FL_WHITE);
    textcolor((r.style & ws_disabled) ? fl_darker(FL_GRAY) : FL_BLACK);
    begin_items(static_cast<int>(r.state[0]), static_cast<int>(r.state[2]));
}

void ListControl::begin_items(int top, int count)
{
    clear();
    m_pending_top = top;
    m_expected = std::max(0, count);
    m_received = 0;
    if (m_expected == 0)
        add_item(false, {});
}

bool ListControl::add_item(bool selected, const std::string& text)
{
    if (m_received < m_expected) {
        add(text.c_str());
        ++m_received;
        if (selected)
            select(m_received, 1);
    }
    if (m_received < m_expected)
        return true;
    // The model's scroll position wins only when it moved; scrolling with
    // the scroll bar is the user's own view until then.
    if (m_pending_top != m_model_top && m_expected > 0)
        topline(m_pending_top + 1);
    m_model_top = m_pending_top;
    redraw();
    return false;
}

int ListControl::handle(int event)
{
    switch (event) {
    case FL_PUSH: {
        int X, Y, W, H;
        bbox(X, Y, W, H);
        if (!Fl::event_inside(X, Y, W, H))
            return Fl_Browser::handle(event); // the scroll bar
        m_clicked = true;
        if (void* item = find_item(Fl::event_y())) {
            send({ "lbclick", num(hwnd), num(lineno(item) - 1), num(Fl::event_state(FL_SHIFT) ? 1 : 0),
                   num(Fl::event_state(FL_CTRL) ? 1 : 0), num(Fl::event_clicks() ? 1 : 0) });
        } else {
            send_press(hwnd, this);
            send_release(hwnd, this);
        }
        return 1;
    }
    case FL_DRAG:
    case FL_RELEASE:
        if (m_clicked) {
            if (event == FL_RELEASE)
                m_clicked = false;
            return 1;
        }
        return Fl_Browser::handle(event);
    case FL_FOCUS:
    case FL_KEYBOARD:
        return 0;
    default:
        return Fl_Browser::handle(event);
    }
}

std::string control_kind(const ControlRecord& r)
{
    if (strcasecmp(r.class_name.c_str(), "BUTTON") == 0)
        return "button" + std::to_string(r.style & bs_typemask);
    if (strcasecmp(r.class_name.c_str(), "EDIT") == 0)
        return "edit";
    if (strcasecmp(r.class_name.c_str(), "LISTBOX") == 0)
        return "listbox";
    return "static"; // STATIC, and any class of the program's own as a plain area
}

Control* make_control(const ControlRecord& r, uint32_t top)
{
    const std::string kind = control_kind(r);
    Control* c;
    if (kind == "edit")
        c = new EditControl(r, top);
    else if (kind == "listbox")
        c = new ListControl(r);
    else if (kind == "static")
        c = new StaticControl(r);
    else
        c = new ButtonControl(r);
    c->kind = kind;
    c->hwnd = r.hwnd;
    return c;
}

} // namespace kolmui
