// The data of a list box: items, selection, caret and top item, with the
// rules and results of the LB_* messages. No window here: the "LISTBOX"
// class (listbox.cpp) translates messages to these calls, and a renderer
// reads the same model.
#pragma once

#include "dialog/dialog_area.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kolm::platform {

enum class SelectionMode {
    Single,   // one item at most (LB_SETCURSEL)
    Multiple, // LBS_MULTIPLESEL: each click toggles an item
    Extended, // LBS_EXTENDEDSEL: click, Shift+click ranges, Ctrl+click toggles
};

SelectionMode selection_mode_of(DWORD style);

class ListBoxModel {
public:
    // Most items one list box holds, as on Windows 95; adding past it
    // answers LB_ERRSPACE.
    static constexpr int max_items = 32767;

    ListBoxModel(SelectionMode mode, bool sorted);

    SelectionMode mode() const { return m_mode; }
    int count() const { return static_cast<int>(m_items.size()); }

    // LB_ADDSTRING: at the end, or at its sorted place (case-insensitive,
    // before any equal item). The new index, or LB_ERRSPACE.
    int add(std::string_view text);
    // LB_INSERTSTRING: at `index` (-1 = the end), never sorted. The index,
    // LB_ERR past the end, or LB_ERRSPACE.
    int insert(int index, std::string_view text);
    // LB_DELETESTRING: the number of items left, or LB_ERR.
    int remove(int index);
    void reset();

    // nullopt for an index out of range.
    std::optional<std::string> text(int index) const;
    // LB_FINDSTRING (prefix) and LB_FINDSTRINGEXACT (whole text): case-
    // insensitive, from the item after `start` round to `start` itself
    // (-1 or an index past the end: from the first). LB_ERR when none.
    int find(int start, std::string_view text, bool exact) const;

    // LB_GETSEL: 1 selected, 0 not, LB_ERR out of range.
    int selected(int index) const;
    // LB_SETSEL (multiple and extended modes; -1 = every item).
    int set_selected(bool select, int index);
    // LB_GETSELCOUNT and LB_GETSELITEMS (multiple and extended modes).
    int selected_count() const;
    int selected_items(int* out, int capacity) const;
    // LB_GETCURSEL: the selection (single mode) or the caret (others).
    int current() const;
    // LB_SETCURSEL (single mode): -1 removes the selection and answers
    // LB_ERR, as Windows does.
    int set_current(int index);
    // LB_SELECTSTRING: finds by prefix, then selects and moves the caret.
    int select_string(int start, std::string_view text);

    LPARAM item_data(int index, bool& ok) const;
    int set_item_data(int index, LPARAM data);
    int caret() const { return m_caret; }
    int set_caret(int index);
    int top() const { return m_top; }
    int set_top(int index);

    // A user's click on an item; false when the index is not an item.
    bool click(int index, bool shift, bool ctrl);

private:
    struct Item {
        std::string text;
        bool selected = false;
        LPARAM data = 0;
    };
    bool valid(int index) const { return index >= 0 && index < count(); }
    int place(int index, std::string_view text);
    void select_only(int index);

    SelectionMode m_mode;
    bool m_sorted;
    std::vector<Item> m_items;
    int m_current = -1; // single mode: the selected item
    int m_caret = 0;
    int m_anchor = 0;   // extended mode: where Shift+click ranges start
    int m_top = 0;
};

} // namespace kolm::platform
