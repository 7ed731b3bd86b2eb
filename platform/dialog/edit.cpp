// The "EDIT" class: single-line and multi-line text fields.
//
// The text lives in the window text (so another process reads it with
// WM_GETTEXT like any window's); the control keeps its selection, limit
// and modified flag. Line breaks are "\r\n", as Windows edits keep them.
#include "dialog/controls.h"

#include <algorithm>
#include <cctype>
#include <mutex>

namespace kolm::platform {

namespace {

// What a user may type into a control until EM_LIMITTEXT says otherwise,
// and the most EM_LIMITTEXT 0 allows.
constexpr size_t default_limit = 30000;
constexpr size_t largest_limit = 0x7FFFFFFE;

class EditState : public WindowExtension {
public:
    std::mutex mutex;
    size_t limit = default_limit;
    size_t sel_start = 0; // selection [start, end); the caret is at end
    size_t sel_end = 0;
    bool modified = false;
};

struct Selection {
    size_t start = 0;
    size_t end = 0;
};

std::string text_of(HWND h)
{
    auto facts = control_facts(h);
    return facts ? facts->text : std::string();
}

DWORD style_of(HWND h)
{
    auto facts = control_facts(h);
    return facts ? facts->style : 0;
}

Selection selection(EditState& s, size_t length)
{
    std::lock_guard lock(s.mutex);
    Selection sel { std::min(s.sel_start, length), std::min(s.sel_end, length) };
    if (sel.start > sel.end)
        std::swap(sel.start, sel.end);
    return sel;
}

void set_selection(HWND h, EditState& s, size_t start, size_t end)
{
    {
        std::lock_guard lock(s.mutex);
        s.sel_start = start;
        s.sel_end = end;
    }
    notify_window_changed(h, WindowChange::Content);
}

// Stores new text without the WM_SETTEXT rules (no EN_CHANGE of its own).
void store_text(HWND h, const std::string& text)
{
    DefWindowProcA(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

// Replaces the selection with `insert`, as the user's typing or
// EM_REPLACESEL does. `cut` trims what would pass the limit; otherwise a
// change that would pass it is refused. Returns whether the text changed.
bool replace_selection(HWND h, EditState& s, std::string insert, bool cut)
{
    const DWORD style = style_of(h);
    std::string text = text_of(h);
    const Selection sel = selection(s, text.size());
    if (!(style & ES_MULTILINE)) {
        // A single line keeps what comes before the first line break.
        const size_t br = insert.find_first_of("\r\n");
        if (br != std::string::npos)
            insert.resize(br);
    }
    if (style & ES_UPPERCASE)
        std::transform(insert.begin(), insert.end(), insert.begin(), [](unsigned char c) { return std::toupper(c); });
    if (style & ES_LOWERCASE)
        std::transform(insert.begin(), insert.end(), insert.begin(), [](unsigned char c) { return std::tolower(c); });
    size_t limit;
    {
        std::lock_guard lock(s.mutex);
        limit = s.limit;
    }
    const size_t kept = text.size() - (sel.end - sel.start);
    if (kept + insert.size() > limit) {
        if (!cut || kept >= limit) {
            notify_parent(h, EN_MAXTEXT);
            return false;
        }
        insert.resize(limit - kept);
        notify_parent(h, EN_MAXTEXT);
    }
    if (insert.empty() && sel.start == sel.end)
        return false;
    text.replace(sel.start, sel.end - sel.start, insert);
    store_text(h, text);
    const size_t caret = sel.start + insert.size();
    {
        std::lock_guard lock(s.mutex);
        s.sel_start = s.sel_end = caret;
        s.modified = true;
    }
    notify_window_changed(h, WindowChange::Content);
    notify_parent(h, EN_UPDATE);
    notify_parent(h, EN_CHANGE);
    return true;
}

void backspace(HWND h, EditState& s)
{
    const std::string text = text_of(h);
    const Selection sel = selection(s, text.size());
    if (sel.start == sel.end) {
        if (sel.start == 0)
            return;
        // A line break is one step back, though it is two characters.
        const size_t back = sel.start >= 2 && text.compare(sel.start - 2, 2, "\r\n") == 0 ? 2 : 1;
        std::lock_guard lock(s.mutex);
        s.sel_start = sel.start - back;
        s.sel_end = sel.start;
    }
    replace_selection(h, s, std::string(), false);
}

void type_char(HWND h, EditState& s, unsigned char ch)
{
    const DWORD style = style_of(h);
    if (style & ES_READONLY)
        return;
    if (ch == VK_BACK) {
        backspace(h, s);
        return;
    }
    std::string insert;
    if (ch == '\r' || ch == '\n') {
        if (!(style & ES_MULTILINE))
            return;
        insert = "\r\n";
    } else if (ch == '\t') {
        if (!(style & ES_MULTILINE))
            return;
        insert = "\t";
    } else if (ch < 0x20 || ch == 0x7F) {
        return; // control characters (Ctrl+letter) are not text
    } else {
        if ((style & ES_NUMBER) && !std::isdigit(ch))
            return;
        insert = std::string(1, static_cast<char>(ch));
    }
    replace_selection(h, s, insert, false);
}

void move_caret(HWND h, EditState& s, WPARAM vk)
{
    const std::string text = text_of(h);
    size_t caret;
    {
        std::lock_guard lock(s.mutex);
        caret = std::min(s.sel_end, text.size());
    }
    switch (vk) {
    case VK_HOME:
        caret = 0;
        break;
    case VK_END:
        caret = text.size();
        break;
    case VK_LEFT:
        caret -= caret >= 2 && text.compare(caret - 2, 2, "\r\n") == 0 ? 2 : (caret > 0 ? 1 : 0);
        break;
    case VK_RIGHT:
        caret += text.compare(caret, 2, "\r\n") == 0 ? 2 : (caret < text.size() ? 1 : 0);
        break;
    default:
        return;
    }
    set_selection(h, s, caret, caret);
}

LRESULT get_sel(HWND h, EditState& s, WPARAM wparam, LPARAM lparam)
{
    const Selection sel = selection(s, text_of(h).size());
    if (auto* p = reinterpret_cast<DWORD*>(wparam))
        *p = static_cast<DWORD>(sel.start);
    if (auto* p = reinterpret_cast<DWORD*>(lparam))
        *p = static_cast<DWORD>(sel.end);
    return MAKELONG(static_cast<WORD>(std::min<size_t>(sel.start, 0xFFFF)),
                    static_cast<WORD>(std::min<size_t>(sel.end, 0xFFFF)));
}

void set_sel(HWND h, EditState& s, WPARAM wparam, LPARAM lparam)
{
    const size_t length = text_of(h).size();
    const auto start = static_cast<intptr_t>(static_cast<int>(wparam));
    const auto end = static_cast<intptr_t>(static_cast<int>(lparam));
    if (start < 0) { // -1 removes the selection and leaves the caret
        size_t caret;
        {
            std::lock_guard lock(s.mutex);
            caret = std::min(s.sel_end, length);
        }
        set_selection(h, s, caret, caret);
        return;
    }
    const size_t a = std::min(static_cast<size_t>(start), length);
    const size_t b = end < 0 ? length : std::min(static_cast<size_t>(end), length);
    set_selection(h, s, std::min(a, b), std::max(a, b));
}

LRESULT line_count(HWND h)
{
    if (!(style_of(h) & ES_MULTILINE))
        return 1;
    const std::string text = text_of(h);
    return 1 + static_cast<LRESULT>(std::count(text.begin(), text.end(), '\n'));
}

} // namespace

LRESULT CALLBACK edit_proc(HWND h, UINT msg, WPARAM wparam, LPARAM lparam)
{
    if (msg == WM_NCCREATE) {
        set_window_extension(h, std::make_shared<EditState>());
        return DefWindowProcA(h, msg, wparam, lparam);
    }
    auto s = state_of<EditState>(h);
    if (!s)
        return DefWindowProcA(h, msg, wparam, lparam);
    switch (msg) {
    case WM_SETTEXT: {
        const LRESULT r = DefWindowProcA(h, msg, wparam, lparam);
        {
            std::lock_guard lock(s->mutex);
            s->sel_start = s->sel_end = 0;
            s->modified = false;
        }
        // NOTE: Windows does not notify a change made with WM_SETTEXT to a
        // multi-line edit; a single-line edit notifies it like typing.
        if (!(style_of(h) & ES_MULTILINE)) {
            notify_parent(h, EN_UPDATE);
            notify_parent(h, EN_CHANGE);
        }
        return r;
    }
    case WM_CHAR:
        type_char(h, *s, static_cast<unsigned char>(wparam));
        return 0;
    case WM_KEYDOWN:
        move_caret(h, *s, wparam);
        return 0;
    case WM_GETDLGCODE: {
        // Enter starts a new line only in a multi-line edit that asks for
        // it; otherwise Enter, Tab and Escape belong to the dialog.
        const auto* m = reinterpret_cast<const MSG*>(lparam);
        const DWORD style = style_of(h);
        if (m && m->message == WM_KEYDOWN && m->wParam == VK_RETURN && (style & ES_MULTILINE) && (style & ES_WANTRETURN))
            return DLGC_WANTMESSAGE;
        return DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS;
    }
    case WM_LBUTTONDOWN:
        if (reachable_by_user(h))
            SetFocus(h);
        return 0;
    case WM_SETFOCUS:
        notify_parent(h, EN_SETFOCUS);
        return 0;
    case WM_KILLFOCUS:
        notify_parent(h, EN_KILLFOCUS);
        return 0;
    case EM_GETSEL:
        return get_sel(h, *s, wparam, lparam);
    case EM_SETSEL:
        set_sel(h, *s, wparam, lparam);
        return 0;
    case EM_REPLACESEL: {
        const char* text = reinterpret_cast<const char*>(lparam);
        replace_selection(h, *s, text ? text : "", true);
        return 0;
    }
    case EM_LIMITTEXT: {
        std::lock_guard lock(s->mutex);
        s->limit = wparam ? std::min<size_t>(wparam, largest_limit) : largest_limit;
        return 0;
    }
    case EM_GETLIMITTEXT: {
        std::lock_guard lock(s->mutex);
        return static_cast<LRESULT>(s->limit);
    }
    case EM_GETMODIFY: {
        std::lock_guard lock(s->mutex);
        return s->modified ? TRUE : FALSE;
    }
    case EM_SETMODIFY: {
        std::lock_guard lock(s->mutex);
        s->modified = wparam != 0;
        return 0;
    }
    case EM_SETREADONLY: {
        const DWORD style = style_of(h);
        SetWindowLongA(h, GWL_STYLE,
                       static_cast<LONG>(wparam ? style | ES_READONLY : style & ~static_cast<DWORD>(ES_READONLY)));
        notify_window_changed(h, WindowChange::Content);
        return TRUE;
    }
    case EM_GETLINECOUNT:
        return line_count(h);
    default:
        return DefWindowProcA(h, msg, wparam, lparam);
    }
}

} // namespace kolm::platform

namespace kolm::platform {

std::optional<EditView> edit_view(HWND edit)
{
    auto s = state_of<EditState>(edit);
    if (!s)
        return std::nullopt;
    std::lock_guard lock(s->mutex);
    return EditView { s->sel_start, s->sel_end };
}

} // namespace kolm::platform
