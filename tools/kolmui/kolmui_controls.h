// The controls kolmui draws: one widget kind for each control class of a
// dialog template, each placed where the template puts it.
#pragma once

#include "kolmui.h"

#include <FL/Fl_Browser.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Widget.H>

#include <cstdint>
#include <string>

namespace kolmui {

// What a "ctl" record says, fields by name.
struct ControlRecord {
    uint32_t hwnd = 0;
    std::string class_name;
    long style = 0;
    long ex_style = 0;
    int x = 0, y = 0, w = 0, h = 0;
    bool focused = false;
    std::string text;
    long long state[3] = { 0, 0, 0 };
};

class Control {
public:
    virtual ~Control() = default;
    virtual void update(const ControlRecord& r) = 0;
    virtual Fl_Widget* widget() = 0;
    // The kind of widget a record needs; a control whose kind changes
    // (BM_SETSTYLE, for one) gets a new widget.
    std::string kind;
    uint32_t hwnd = 0;
};

std::string control_kind(const ControlRecord& r);
Control* make_control(const ControlRecord& r, uint32_t top);

// The edit kolmui gives the keyboard focus, so that its caret shows.
class EditControl final : public Fl_Input, public Control {
public:
    EditControl(const ControlRecord& r, uint32_t top);
    void update(const ControlRecord& r) override;
    Fl_Widget* widget() override { return this; }
    int handle(int event) override;
    void show_caret();

private:
    uint32_t m_top;
    int m_caret = 0; // in the text shown (line breaks without '\r')
    int m_mark = 0;
};

// A list box adds its items after the control record.
class ListControl final : public Fl_Browser, public Control {
public:
    explicit ListControl(const ControlRecord& r);
    void update(const ControlRecord& r) override;
    Fl_Widget* widget() override { return this; }
    int handle(int event) override;
    void begin_items(int top, int count);
    // false once every announced item is in
    bool add_item(bool selected, const std::string& text);

private:
    int m_model_top = -1; // the model's top item last applied
    int m_pending_top = 0;
    int m_expected = 0;
    int m_received = 0;
    bool m_clicked = false;
};

} // namespace kolmui
