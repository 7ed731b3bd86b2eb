#include "dialog/headless_renderer.h"
#include "internal/system.h"
#include "internal/nocase.h"

#include "dialog/controls.h"
#include "dialog/message_box.h"
#include "dialog/screen_log.h"

#include <cerrno>
#include <unistd.h>

namespace kolm::platform {

namespace {

bool is_dialog(const ControlFacts& facts)
{
    return facts.class_name == "#32770";
}

} // namespace

bool is_display_text(HWND control)
{
    auto facts = control_facts(control);
    if (!facts || !(facts->style & WS_VISIBLE))
        return false;
    if (equal_nocase(facts->class_name, "STATIC")) {
        switch (facts->style & SS_TYPEMASK) {
        case SS_LEFT:
        case SS_CENTER:
        case SS_RIGHT:
        case SS_SIMPLE:
        case SS_LEFTNOWORDWRAP:
            return true;
        default:
            return false; // icons, frames and rectangles carry no text
        }
    }
    return equal_nocase(facts->class_name, "EDIT") && (facts->style & ES_READONLY);
}

std::vector<std::pair<HWND, std::string>> dialog_display_texts(HWND dlg)
{
    std::vector<std::pair<HWND, std::string>> out;
    for (HWND c : child_windows(dlg))
        if (is_display_text(c))
            if (auto facts = control_facts(c))
                out.emplace_back(c, facts->text);
    return out;
}

void HeadlessRenderer::emit(const std::string& line)
{
    append_screen_line(line);
    (void)sys::retry_eintr([&] { return ::write(STDERR_FILENO, line.data(), line.size()); });
}

void HeadlessRenderer::window_shown(HWND h, bool visible)
{
    auto facts = control_facts(h);
    if (!facts || (facts->style & WS_CHILD))
        return;
    const bool dialog = is_dialog(*facts);
    std::string text;
    if (dialog) {
        std::lock_guard lock(m_mutex);
        if (visible) {
            auto& texts = m_shown[hwnd_value(h)];
            texts.clear();
            for (const auto& [control, t] : dialog_display_texts(h)) {
                texts[hwnd_value(control)] = t;
                if (!t.empty())
                    text += (text.empty() ? "" : "\n") + t;
            }
        } else {
            m_shown.erase(hwnd_value(h));
        }
    }
    const char* kind = dialog ? (visible ? "dialog-shown" : "dialog-closed") : (visible ? "window-shown" : "window-closed");
    emit(format_screen_line(screen_program_name(), kind, facts->text, text));
}

void HeadlessRenderer::window_text_changed(HWND h)
{
    auto facts = control_facts(h);
    if (!facts || !(facts->style & WS_CHILD) || !facts->parent || !is_display_text(h))
        return;
    auto dlg = control_facts(facts->parent);
    if (!dlg)
        return;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_shown.find(hwnd_value(facts->parent));
        if (it == m_shown.end())
            return; // not shown (yet): its texts appear in its dialog-shown line
        auto& last = it->second[hwnd_value(h)];
        if (last == facts->text)
            return;
        last = facts->text;
    }
    emit(format_screen_line(screen_program_name(), "dialog-text", dlg->text, facts->text));
}

void HeadlessRenderer::window_destroyed(HWND h)
{
    std::lock_guard lock(m_mutex);
    m_shown.erase(hwnd_value(h));
}

int HeadlessRenderer::message_box(const MessageBoxRequest& request)
{
    const int answer = request.scripted_answer ? request.scripted_answer : request.default_answer;
    report_message_box(request, answer);
    return answer;
}

void HeadlessRenderer::report_message_box(const MessageBoxRequest& request, int answer)
{
    ScreenFields fields;
    fields.emplace_back("buttons", message_box_buttons_name(request.type));
    if (const char* icon = message_box_icon_name(request.type))
        fields.emplace_back("icon", icon);
    fields.emplace_back("answer", answer_name(answer));
    if (!request.refused_answer.empty())
        fields.emplace_back("refused", request.refused_answer);
    emit(format_screen_line(screen_program_name(), "messagebox", request.caption, request.text, fields));
}

} // namespace kolm::platform
