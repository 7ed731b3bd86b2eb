// The renderer for a desktop: the model is shown by a separate program,
// kolmui (next to this program's executable), that owns the display.
//
// NOTE: the toolkit kolmui draws with ends its process when the X server
// goes away. Keeping it in a process of its own is what lets a program
// outlive its display: when kolmui dies, this renderer falls back to the
// screen log and the program carries on.
//
// Every screen log line the headless renderer writes is written here too;
// the desktop only adds the windows. A top-level window whose model
// changed is sent again whole (windows are small), by one I/O thread that
// sleeps in poll() until there is something to send or to read.
#pragma once

#include "dialog/headless_renderer.h"
#include "dialog/ui.h"
#include "user/waker.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace kolm::platform {

// Whether an X display can be opened (DISPLAY as set), checked by opening
// and closing it.
bool display_can_open();

// How a desktop was asked for: KOLM_UI=desktop says so (and a fallback is
// reported); otherwise a display that is there is used quietly.
enum class DesktopRequest { Auto, Explicit };

class DesktopRenderer final : public UiRenderer {
public:
    explicit DesktopRenderer(DesktopRequest request);

    void window_destroyed(HWND h) override;
    void window_shown(HWND h, bool visible) override;
    void window_text_changed(HWND h) override;
    void window_changed(HWND h, WindowChange change) override;
    int message_box(const MessageBoxRequest& request) override;

    // Whether kolmui is up and showing windows (false once it is gone).
    bool desktop_live();
    // kolmui's process id while it runs, else -1.
    pid_t renderer_pid();
    // Ends the I/O thread and lets kolmui go (at process exit).
    void shut_down();

private:
    enum class Link { NotStarted, Up, Gone };
    struct PendingBox {
        Waker* waker = nullptr;
        int answer = 0; // 0 while the user has not answered
    };

    bool ensure_link();
    bool start_link();
    void fall_back(const char* why);
    void mark_dirty(HWND h);
    void io_loop();
    bool flush_outgoing();
    bool send_all(const std::string& bytes);
    std::string picture_of(DWORD top);
    void handle_input(const std::vector<std::string>& record);
    bool accepts(DWORD hwnd);
    DWORD key_target(DWORD top);

    HeadlessRenderer m_headless;
    const DesktopRequest m_request;

    std::mutex m_mutex;              // guards everything below
    Link m_link = Link::NotStarted;
    bool m_closing = false;
    std::set<DWORD> m_dirty;         // top-level windows to send again
    std::set<DWORD> m_on_screen;     // top-level windows kolmui shows
    std::map<DWORD, DWORD> m_focus;  // top-level window -> its focused control
    std::vector<std::string> m_outbox; // records other than pictures
    std::map<int, PendingBox> m_boxes; // message boxes waiting for an answer
    int m_next_box = 1;
    int m_sock = -1;                 // our end of the stream; -1 when none
    pid_t m_child = -1;              // kolmui; -1 when none

    Waker m_waker;
    std::thread m_io;
};

} // namespace kolm::platform
