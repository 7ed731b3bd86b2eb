// The renderer without a display: what a user would see becomes lines of
// the screen log (screen_log.h) and of standard error, and a message box
// takes its scripted answer or its default button at once.
#pragma once

#include "dialog/ui.h"

#include <map>
#include <mutex>
#include <string>

namespace kolm::platform {

class HeadlessRenderer final : public UiRenderer {
public:
    void window_shown(HWND h, bool visible) override;
    void window_text_changed(HWND h) override;
    void window_destroyed(HWND h) override;
    int message_box(const MessageBoxRequest& request) override;
    // The screen log line of a box that was answered with `answer`.
    void report_message_box(const MessageBoxRequest& request, int answer);

private:
    void emit(const std::string& line);

    std::mutex m_mutex;
    // For each shown dialog, what each of its displayed texts last read,
    // so that only a real change makes a dialog-text line.
    std::map<DWORD, std::map<DWORD, std::string>> m_shown;
};

// The display texts of a dialog: visible static texts and read-only
// edits, in tab order, with their current text.
std::vector<std::pair<HWND, std::string>> dialog_display_texts(HWND dlg);
bool is_display_text(HWND control);

} // namespace kolm::platform
