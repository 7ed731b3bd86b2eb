#include "dialog/listbox_model.h"
#include "internal/nocase.h"

#include <algorithm>

namespace kolm::platform {

namespace {

// NOTE: items compare as the C locale orders bytes, without case
// (compare_nocase); Windows compares with the user's locale, which orders
// some punctuation otherwise.

} // namespace

SelectionMode selection_mode_of(DWORD style)
{
    if (style & LBS_EXTENDEDSEL)
        return SelectionMode::Extended;
    if (style & LBS_MULTIPLESEL)
        return SelectionMode::Multiple;
    return SelectionMode::Single;
}

ListBoxModel::ListBoxModel(SelectionMode mode, bool sorted)
    : m_mode(mode)
    , m_sorted(sorted)
{
}

int ListBoxModel::place(int index, std::string_view text)
{
    if (count() >= max_items)
        return LB_ERRSPACE;
    m_items.insert(m_items.begin() + index, Item { std::string(text), false, 0 });
    // Selection, caret and anchor stay with the items they were on.
    if (m_current >= index)
        ++m_current;
    if (m_caret >= index && count() > 1)
        ++m_caret;
    if (m_anchor >= index && count() > 1)
        ++m_anchor;
    return index;
}

int ListBoxModel::add(std::string_view text)
{
    if (!m_sorted)
        return place(count(), text);
    auto it = std::lower_bound(m_items.begin(), m_items.end(), text,
                               [](const Item& item, std::string_view t) { return compare_nocase(item.text, t) < 0; });
    return place(static_cast<int>(it - m_items.begin()), text);
}

int ListBoxModel::insert(int index, std::string_view text)
{
    if (index == -1)
        index = count();
    if (index < 0 || index > count())
        return LB_ERR;
    return place(index, text);
}

int ListBoxModel::remove(int index)
{
    if (!valid(index))
        return LB_ERR;
    m_items.erase(m_items.begin() + index);
    if (m_current == index)
        m_current = -1;
    else if (m_current > index)
        --m_current;
    auto shift = [&](int& i) {
        if (i > index || (i == index && i == count()))
            --i;
        i = std::clamp(i, 0, std::max(count() - 1, 0));
    };
    shift(m_caret);
    shift(m_anchor);
    shift(m_top);
    return count();
}

void ListBoxModel::reset()
{
    m_items.clear();
    m_current = -1;
    m_caret = m_anchor = m_top = 0;
}

std::optional<std::string> ListBoxModel::text(int index) const
{
    if (!valid(index))
        return std::nullopt;
    return m_items[static_cast<size_t>(index)].text;
}

int ListBoxModel::find(int start, std::string_view text, bool exact) const
{
    const int n = count();
    if (start < 0 || start >= n)
        start = -1;
    for (int step = 1; step <= n; ++step) {
        const int i = (start + step) % n;
        const std::string& item = m_items[static_cast<size_t>(i)].text;
        if (exact ? compare_nocase(item, text) == 0 : starts_with_nocase(item, text))
            return i;
    }
    return LB_ERR;
}

int ListBoxModel::selected(int index) const
{
    if (!valid(index))
        return LB_ERR;
    if (m_mode == SelectionMode::Single)
        return index == m_current ? 1 : 0;
    return m_items[static_cast<size_t>(index)].selected ? 1 : 0;
}

int ListBoxModel::set_selected(bool select, int index)
{
    if (m_mode == SelectionMode::Single)
        return LB_ERR;
    if (index == -1) {
        for (auto& item : m_items)
            item.selected = select;
        return LB_OKAY;
    }
    if (!valid(index))
        return LB_ERR;
    m_items[static_cast<size_t>(index)].selected = select;
    if (select)
        m_anchor = m_caret = index;
    return LB_OKAY;
}

int ListBoxModel::selected_count() const
{
    if (m_mode == SelectionMode::Single)
        return LB_ERR;
    return static_cast<int>(std::count_if(m_items.begin(), m_items.end(), [](const Item& i) { return i.selected; }));
}

int ListBoxModel::selected_items(int* out, int capacity) const
{
    if (m_mode == SelectionMode::Single || (!out && capacity > 0))
        return LB_ERR;
    int n = 0;
    for (int i = 0; i < count() && n < capacity; ++i)
        if (m_items[static_cast<size_t>(i)].selected)
            out[n++] = i;
    return n;
}

int ListBoxModel::current() const
{
    if (m_mode == SelectionMode::Single)
        return m_current >= 0 ? m_current : LB_ERR;
    return m_caret;
}

int ListBoxModel::set_current(int index)
{
    if (m_mode != SelectionMode::Single)
        return LB_ERR;
    if (index == -1) {
        m_current = -1;
        return LB_ERR;
    }
    if (!valid(index))
        return LB_ERR;
    m_current = m_caret = index;
    return index;
}

void ListBoxModel::select_only(int index)
{
    if (m_mode == SelectionMode::Single) {
        m_current = index;
    } else {
        for (int i = 0; i < count(); ++i)
            m_items[static_cast<size_t>(i)].selected = i == index;
    }
    m_caret = m_anchor = index;
}

int ListBoxModel::select_string(int start, std::string_view text)
{
    const int index = find(start, text, false);
    if (index == LB_ERR)
        return LB_ERR;
    if (m_mode == SelectionMode::Single)
        m_current = index;
    else
        m_items[static_cast<size_t>(index)].selected = true;
    m_caret = m_anchor = index;
    return index;
}

LPARAM ListBoxModel::item_data(int index, bool& ok) const
{
    ok = valid(index);
    return ok ? m_items[static_cast<size_t>(index)].data : LB_ERR;
}

int ListBoxModel::set_item_data(int index, LPARAM data)
{
    if (!valid(index))
        return LB_ERR;
    m_items[static_cast<size_t>(index)].data = data;
    return LB_OKAY;
}

int ListBoxModel::set_caret(int index)
{
    if (!valid(index))
        return LB_ERR;
    m_caret = index;
    return LB_OKAY;
}

int ListBoxModel::set_top(int index)
{
    if (!valid(index))
        return LB_ERR;
    m_top = index;
    return LB_OKAY;
}

bool ListBoxModel::click(int index, bool shift, bool ctrl)
{
    if (!valid(index))
        return false;
    switch (m_mode) {
    case SelectionMode::Single:
        select_only(index);
        break;
    case SelectionMode::Multiple:
        m_items[static_cast<size_t>(index)].selected = !m_items[static_cast<size_t>(index)].selected;
        m_caret = m_anchor = index;
        break;
    case SelectionMode::Extended:
        if (shift) {
            const int lo = std::min(m_anchor, index), hi = std::max(m_anchor, index);
            for (int i = 0; i < count(); ++i) {
                auto& item = m_items[static_cast<size_t>(i)];
                if (i >= lo && i <= hi)
                    item.selected = true;
                else if (!ctrl)
                    item.selected = false;
            }
            m_caret = index; // the anchor stays for the next Shift+click
        } else if (ctrl) {
            m_items[static_cast<size_t>(index)].selected = !m_items[static_cast<size_t>(index)].selected;
            m_caret = m_anchor = index;
        } else {
            select_only(index);
        }
        break;
    }
    return true;
}

} // namespace kolm::platform
