// kolmui's top-level windows: a program's dialogs and windows, drawn from
// the pictures the program sends, and its message boxes.
#pragma once

#include "kolmui_controls.h"

#include <FL/Fl_Double_Window.H>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace kolmui {

class TopWindow final : public Fl_Double_Window {
public:
    TopWindow(uint32_t hwnd, int x, int y, int w, int h);
    ~TopWindow() override;

    // A new picture: "win" starts it, "ctl" and "item" records fill it,
    // finish() shows it.
    void begin_picture(int x, int y, int w, int h, bool topmost, bool enabled, const std::string& caption);
    void put_control(const ControlRecord& r);
    ListControl* last_list() { return m_last_list; }
    void finish();

    int handle(int event) override;
    bool topmost() const { return m_topmost; }
    uint32_t hwnd() const { return m_hwnd; }

private:
    uint32_t m_hwnd;
    bool m_topmost = false;
    bool m_enabled = true;
    bool m_pressed_here = false;
    int m_x = 0, m_y = 0, m_w = 0, m_h = 0;
    std::map<uint32_t, Control*> m_controls;
    std::set<uint32_t> m_seen;
    uint32_t m_focus = 0;
    ListControl* m_last_list = nullptr;
};

// Raises the windows that stay on top (the program's topmost windows and
// the message boxes) above the others; called whenever a window appears.
void keep_topmost_on_top();

void show_message_box(int id, long type, const std::string& caption, const std::string& text,
                      const std::vector<int>& buttons, int default_answer);

} // namespace kolmui
