#include "dialog/desktop_renderer.h"
#include "internal/system.h"
#include "internal/nocase.h"

#include "dialog/controls.h"
#include "kolm/desktop_wire.h"
#include "dialog/listbox.h"
#include "kernel/process_exit.h"
#include "user/message_pump.h"
#include "user/window_geometry.h"
#include "user/window_input.h"

#include "dialog/screen_log.h"

#include <cerrno>
#include <fcntl.h>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kolm::platform {

namespace {

void say(const std::string& line)
{
    const std::string text = screen_program_name() + ": " + line + "\n";
    (void)sys::retry_eintr([&] { return ::write(STDERR_FILENO, text.data(), text.size()); });
}

std::filesystem::path renderer_program()
{
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : self.parent_path() / "kolmui";
}

std::string num(long long v)
{
    return std::to_string(v);
}

} // namespace

DesktopRenderer::DesktopRenderer(DesktopRequest request)
    : m_request(request)
{
}

bool DesktopRenderer::desktop_live()
{
    std::lock_guard lock(m_mutex);
    return m_link == Link::Up;
}

pid_t DesktopRenderer::renderer_pid()
{
    std::lock_guard lock(m_mutex);
    return m_link == Link::Up ? m_child : -1;
}

// The display and kolmui are looked for when the first window is shown,
// not at start-up, so that a program that never shows anything (kolmreg,
// kolmwin) neither talks to the X server nor starts a renderer.
bool DesktopRenderer::ensure_link()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_link != Link::NotStarted)
            return m_link == Link::Up;
    }
    static std::mutex start_mutex;
    std::lock_guard start(start_mutex);
    {
        std::lock_guard lock(m_mutex);
        if (m_link != Link::NotStarted)
            return m_link == Link::Up;
    }
    return start_link();
}

bool DesktopRenderer::start_link()
{
    auto give_up = [this](const std::string& why) {
        if (m_request == DesktopRequest::Explicit)
            say("no desktop (" + why + "); showing windows in the screen log");
        std::lock_guard lock(m_mutex);
        m_link = Link::Gone;
        return false;
    };
    if (!display_can_open())
        return give_up("the display cannot be opened");
    const auto program = renderer_program();
    if (program.empty() || ::access(program.c_str(), X_OK) != 0)
        return give_up(program.string() + " is missing");
    if (!m_waker.valid())
        return give_up("no wake-up descriptor");

    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return give_up("no socket pair");
    // kolmui reads the stream on descriptor 3; dup2 onto it clears
    // close-on-exec, unless the end already is 3, which is moved first.
    int child_end = fds[1];
    if (child_end == 3) {
        child_end = ::fcntl(fds[1], F_DUPFD_CLOEXEC, 4);
        ::close(fds[1]);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, child_end, 3);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const std::string path = program.string();
    char* argv[] = { const_cast<char*>(path.c_str()), nullptr };
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(child_end);
    if (rc != 0) {
        ::close(fds[0]);
        return give_up("kolmui could not start");
    }
    {
        std::lock_guard lock(m_mutex);
        m_sock = fds[0];
        m_child = pid;
        m_link = Link::Up;
    }
    m_io = std::thread([this] { io_loop(); });
    static DesktopRenderer* self = this;
    at_process_exit([] { self->shut_down(); });
    return true;
}

void DesktopRenderer::shut_down()
{
    int sock;
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
        sock = m_sock;
    }
    if (sock >= 0)
        ::shutdown(sock, SHUT_RDWR); // also ends a send blocked on a stuck kolmui
    m_waker.wake();
    if (m_io.joinable())
        m_io.join();
}

void DesktopRenderer::fall_back(const char* why)
{
    pid_t child;
    int sock;
    bool closing;
    {
        std::lock_guard lock(m_mutex);
        m_link = Link::Gone;
        closing = m_closing;
        child = m_child;
        sock = m_sock;
        m_child = -1;
        m_sock = -1;
        m_dirty.clear();
        m_on_screen.clear();
        m_outbox.clear();
        // Woken under the lock: a box's waker lives only while its
        // message_box call waits, and that call takes the lock to leave.
        for (auto& [id, box] : m_boxes)
            box.waker->wake();
    }
    if (sock >= 0)
        ::close(sock);
    if (child > 0) {
        ::kill(child, SIGTERM);
        int status;
        (void)sys::retry_eintr([&] { return ::waitpid(child, &status, 0); });
    }
    if (!closing)
        say(std::string("the desktop renderer is gone (") + why + "); showing windows in the screen log");
}

void DesktopRenderer::mark_dirty(HWND h)
{
    const DWORD top = top_level_of(hwnd_value(h));
    {
        std::lock_guard lock(m_mutex);
        if (m_link != Link::Up)
            return;
        // A window that is gone can no longer be walked up from; if it was
        // a shown top-level window, its picture is taken down.
        m_dirty.insert(top ? top : hwnd_value(h));
    }
    m_waker.wake();
}

void DesktopRenderer::window_destroyed(HWND h)
{
    m_headless.window_destroyed(h);
    {
        std::lock_guard lock(m_mutex);
        m_focus.erase(hwnd_value(h));
        if (m_link != Link::Up || !m_on_screen.contains(hwnd_value(h)))
            return;
        m_dirty.insert(hwnd_value(h));
    }
    m_waker.wake();
}

void DesktopRenderer::window_shown(HWND h, bool visible)
{
    m_headless.window_shown(h, visible);
    auto facts = control_facts(h);
    if (visible && facts && !(facts->style & WS_CHILD))
        ensure_link();
    mark_dirty(h);
}

void DesktopRenderer::window_text_changed(HWND h)
{
    m_headless.window_text_changed(h);
    mark_dirty(h);
}

void DesktopRenderer::window_changed(HWND h, WindowChange change)
{
    m_headless.window_changed(h, change);
    if (change == WindowChange::Focus) {
        // Called on the thread whose focus moved, so its focus window is
        // the one to ask for; kolmui's keys go to it.
        const DWORD focus = focus_window_of_thread();
        const DWORD top = top_level_of(hwnd_value(h));
        std::lock_guard lock(m_mutex);
        if (top)
            m_focus[top] = focus && top_level_of(focus) == top ? focus : 0;
        if (focus)
            m_focus[top_level_of(focus)] = focus;
    }
    mark_dirty(h);
}

int DesktopRenderer::message_box(const MessageBoxRequest& request)
{
    if (request.scripted_answer || !request.refused_answer.empty() || !ensure_link())
        return m_headless.message_box(request);
    Waker waker;
    int id;
    {
        std::lock_guard lock(m_mutex);
        if (m_link != Link::Up || !waker.valid())
            return m_headless.message_box(request);
        id = m_next_box++;
        m_boxes[id] = PendingBox { &waker, 0 };
        std::string buttons;
        for (int b : request.buttons)
            buttons += (buttons.empty() ? "" : ",") + num(b);
        m_outbox.push_back(wire::encode({ "msgbox", num(id), num(request.type), request.caption, request.text,
                                          buttons, num(request.default_answer) }));
    }
    m_waker.wake();
    auto answered = [&] {
        std::lock_guard lock(m_mutex);
        return m_boxes[id].answer != 0 || m_link != Link::Up;
    };
    // As a modal loop would, the wait keeps answering messages that other
    // threads and processes send to this thread's windows.
    auto queue = current_queue();
    modal_loop_started();
    while (!answered()) {
        if (wait_serving(*queue, waker.fd(), answered) == WaitEnd::Failed)
            break;
        waker.drain();
    }
    int answer;
    {
        std::lock_guard lock(m_mutex);
        answer = m_boxes[id].answer;
        m_boxes.erase(id);
    }
    if (!answer) // the renderer went away with the box up: as headless
        return m_headless.message_box(request);
    m_headless.report_message_box(request, answer);
    return answer;
}

void DesktopRenderer::io_loop()
{
    wire::LineBuffer incoming;
    int sock;
    {
        std::lock_guard lock(m_mutex);
        sock = m_sock;
    }
    const char* why = nullptr;
    while (!why) {
        const int fds[2] = { m_waker.fd(), sock };
        bool ready[2] = { false, false };
        if (poll_readable(fds, ready, 2, std::nullopt) == Ready::Error) {
            why = "poll failed";
            break;
        }
        {
            std::lock_guard lock(m_mutex);
            if (m_closing) {
                why = "closing";
                break;
            }
        }
        if (ready[1]) {
            char buf[4096];
            const ssize_t n = sys::retry_eintr([&] { return ::recv(sock, buf, sizeof buf, 0); });
            if (n <= 0) {
                why = "its stream ended";
                break;
            }
            incoming.feed(buf, static_cast<size_t>(n));
            while (auto line = incoming.next())
                handle_input(wire::decode(*line));
            if (incoming.overflowed())
                why = "it sent an overlong line";
        }
        if (ready[0]) {
            m_waker.drain();
            if (!flush_outgoing())
                why = "its stream broke";
        }
    }
    fall_back(why);
}

bool DesktopRenderer::send_all(const std::string& bytes)
{
    int sock;
    {
        std::lock_guard lock(m_mutex);
        sock = m_sock;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = sys::retry_eintr([&] { return ::send(sock, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL); });
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool DesktopRenderer::flush_outgoing()
{
    std::set<DWORD> dirty;
    std::vector<std::string> outbox;
    {
        std::lock_guard lock(m_mutex);
        dirty.swap(m_dirty);
        outbox.swap(m_outbox);
    }
    std::string bytes;
    for (DWORD top : dirty) {
        std::string picture = picture_of(top);
        std::lock_guard lock(m_mutex);
        if (!picture.empty()) {
            m_on_screen.insert(top);
            bytes += picture;
        } else if (m_on_screen.erase(top)) {
            bytes += wire::encode({ "hide", num(top) });
        }
    }
    for (auto& record : outbox)
        bytes += record;
    return bytes.empty() || send_all(bytes);
}

// The whole window as kolmui draws it; empty when it is not a visible
// top-level window of this process.
std::string DesktopRenderer::picture_of(DWORD top)
{
    auto info = local_window_info(top);
    auto rect = window_screen_rect(top);
    // NOTE: the info's parent of a pop-up is its owner (as GetParent
    // answers); an owned dialog is a top-level window all the same.
    if (!info || !rect || (info->style & WS_CHILD) || !(info->style & WS_VISIBLE))
        return {};
    const RECT in = frame_insets(info->style, info->ex_style);
    DWORD focus;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_focus.find(top);
        focus = it == m_focus.end() ? 0 : it->second;
    }
    std::string out = wire::encode({ "win", num(top), info->class_name == "#32770" ? "dialog" : "window",
                                     num(rect->left + in.left), num(rect->top + in.top),
                                     num((rect->right - in.right) - (rect->left + in.left)),
                                     num((rect->bottom - in.bottom) - (rect->top + in.top)),
                                     num((info->ex_style & WS_EX_TOPMOST) ? 1 : 0),
                                     num((info->style & WS_DISABLED) ? 0 : 1), info->text });
    for (HWND c : child_windows(hwnd_from(top))) {
        auto facts = control_facts(c);
        auto cinfo = local_window_info(hwnd_value(c));
        if (!facts || !cinfo)
            continue;
        wire::Record r { "ctl", num(hwnd_value(c)), num(facts->id), facts->class_name, num(facts->style),
                         num(cinfo->ex_style), num(facts->rect.left), num(facts->rect.top),
                         num(facts->rect.right - facts->rect.left), num(facts->rect.bottom - facts->rect.top),
                         num(focus == hwnd_value(c) ? 1 : 0), facts->text };
        std::optional<ListBoxView> items;
        if (equal_nocase(facts->class_name, "BUTTON")) {
            auto b = button_view(c).value_or(ButtonView {});
            r.insert(r.end(), { num(b.check), num(b.pushed ? 1 : 0) });
        } else if (equal_nocase(facts->class_name, "EDIT")) {
            auto e = edit_view(c).value_or(EditView {});
            r.insert(r.end(), { num(static_cast<long long>(e.sel_start)), num(static_cast<long long>(e.sel_end)) });
        } else if (equal_nocase(facts->class_name, "LISTBOX")) {
            items = listbox_view(c);
            if (!items)
                items = ListBoxView {};
            r.insert(r.end(), { num(items->top), num(items->caret), num(static_cast<long long>(items->items.size())) });
        }
        out += wire::encode(r);
        if (items)
            for (size_t i = 0; i < items->items.size(); ++i)
                out += wire::encode({ "item", items->selected[i] ? "1" : "0", items->items[i] });
    }
    out += wire::encode({ "end", num(top) });
    return out;
}

} // namespace kolm::platform
