#include "user/mailbox.h"

#include "internal/machine_root.h"
#include "kernel/process_exit.h"
#include "user/mailbox_path.h"
#include "user/marshal.h"
#include "user/message_queue.h"
#include "user/window.h"
#include "user/wire.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace kolm::platform {

namespace {

using namespace std::chrono_literals;

// A client has this long to send its request, and to take its reply.
constexpr auto request_time_limit = 10s;
// Connections served at once; more are closed at once (the client sees
// its window as gone rather than the mailbox growing without bound).
constexpr int max_connections = 64;

std::atomic<int> g_connections { 0 };

// Answers decided but not yet written. A posted WM_DESTROY can end this
// process a moment after it was queued, before the poster heard "done";
// exit waits (briefly) for such answers so a delivered message is never
// reported as lost. Sends still waiting for their window are not waited
// for: they may never be answered.
struct InFlight {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::shared_ptr<SentMessage>> sends;
    int posts = 0;

    bool settled()
    {
        return posts == 0
            && std::none_of(sends.begin(), sends.end(), [](const auto& sm) { return sm->replied(); });
    }
};

InFlight& in_flight()
{
    static InFlight* f = new InFlight;
    return *f;
}

// Registers an answer in flight for the life of the object.
class InFlightSend {
public:
    explicit InFlightSend(std::shared_ptr<SentMessage> sm)
        : m_sm(std::move(sm))
    {
        std::lock_guard lock(in_flight().mutex);
        in_flight().sends.push_back(m_sm);
    }
    ~InFlightSend()
    {
        {
            std::lock_guard lock(in_flight().mutex);
            std::erase(in_flight().sends, m_sm);
        }
        in_flight().changed.notify_all();
    }
    InFlightSend(const InFlightSend&) = delete;
    InFlightSend& operator=(const InFlightSend&) = delete;

private:
    std::shared_ptr<SentMessage> m_sm;
};

class InFlightPost {
public:
    InFlightPost()
    {
        std::lock_guard lock(in_flight().mutex);
        ++in_flight().posts;
    }
    ~InFlightPost()
    {
        {
            std::lock_guard lock(in_flight().mutex);
            --in_flight().posts;
        }
        in_flight().changed.notify_all();
    }
    InFlightPost(const InFlightPost&) = delete;
    InFlightPost& operator=(const InFlightPost&) = delete;
};

constexpr auto exit_wait_limit = 2s;

class FdGuard {
public:
    explicit FdGuard(int fd)
        : m_fd(fd)
    {
    }
    ~FdGuard()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

std::shared_ptr<MessageQueue> queue_of_window(DWORD hwnd)
{
    std::lock_guard lock(window_lock());
    Window* w = find_window_locked(hwnd);
    return w && w->state != WindowState::Destroying ? w->queue : nullptr;
}

wire::SendReply refused(DWORD error)
{
    wire::SendReply r;
    r.status = wire::Status::Refused;
    r.error = error;
    return r;
}

// Fills in the sent message's parameters from the request, copying text
// in and making room for what the window writes back. False when the
// parameters cannot travel.
bool unmarshal(const wire::SendRequest& req, SentMessage& sm)
{
    const MarshalRule rule = marshal_rule(req.message);
    const bool text_given = req.kind == wire::LParamKind::Text;
    auto take_text = [&sm](const std::optional<std::string>& text) {
        if (!text) {
            sm.lparam = 0;
            return;
        }
        sm.storage.assign(text->begin(), text->end());
        sm.storage.push_back('\0');
        sm.lparam = reinterpret_cast<LPARAM>(sm.storage.data());
    };

    sm.wparam = static_cast<WPARAM>(req.wparam);
    sm.lparam = static_cast<LPARAM>(req.lparam);
    switch (rule.in) {
    case ParamIn::Refused:
        return false;
    case ParamIn::NullOnly:
        if (text_given || req.wparam || req.lparam)
            return false;
        break;
    case ParamIn::Text:
        if (text_given)
            take_text(req.text);
        else if (req.lparam != 0)
            return false; // a foreign pointer
        break;
    case ParamIn::Number:
        if (text_given) {
            // Only private messages may carry caller-chosen text; a system
            // message's lParam means what the system says it means.
            if (req.message < WM_USER || rule.out != ParamOut::None)
                return false;
            take_text(req.text);
        }
        break;
    }

    switch (rule.out) {
    case ParamOut::None:
        break;
    case ParamOut::TextBuffer: {
        const size_t cap = std::min<uint64_t>(req.wparam, max_marshalled_bytes);
        sm.wparam = cap;
        sm.storage.assign(cap + 1, '\0');
        sm.lparam = reinterpret_cast<LPARAM>(sm.storage.data());
        sm.capture = [](SentMessage& m, LRESULT) {
            m.out.assign(m.storage.data(), ::strnlen(m.storage.data(), m.storage.size() - 1));
        };
        break;
    }
    case ParamOut::TextSizedBy: {
        const UINT size_message = rule.size_message;
        // The buffer size is the window's own answer, asked on its thread
        // just before the real call.
        sm.before_call = [size_message](SentMessage& m) {
            LRESULT len = call_window_proc(m.hwnd, size_message, m.wparam, 0);
            size_t cap = len < 0 ? 0 : std::min<size_t>(static_cast<size_t>(len), max_marshalled_bytes - 1);
            m.storage.assign(cap + 2, '\0');
            m.lparam = reinterpret_cast<LPARAM>(m.storage.data());
        };
        sm.capture = [](SentMessage& m, LRESULT) {
            if (!m.storage.empty())
                m.out.assign(m.storage.data(), ::strnlen(m.storage.data(), m.storage.size() - 1));
        };
        sm.lparam = 0;
        break;
    }
    case ParamOut::IntArray: {
        const size_t count = std::min<uint64_t>(req.wparam, max_marshalled_bytes / sizeof(int));
        sm.wparam = count;
        sm.storage.assign(count * sizeof(int) + 1, '\0');
        sm.lparam = reinterpret_cast<LPARAM>(sm.storage.data());
        sm.capture = [count](SentMessage& m, LRESULT result) {
            size_t n = result > 0 ? std::min<size_t>(static_cast<size_t>(result), count) : 0;
            m.out.assign(m.storage.data(), n * sizeof(int));
        };
        break;
    }
    }
    return true;
}

// Hands the message to the window's thread and waits for the answer. No
// reply (nullopt) when the client has gone away meanwhile: the message
// still runs, and its answer is dropped.
std::optional<wire::SendReply> serve_send(const wire::SendRequest& req, int client_fd,
                                          std::optional<InFlightSend>& guard)
{
    auto queue = queue_of_window(req.hwnd);
    if (!queue) {
        wire::SendReply r;
        r.status = wire::Status::NoWindow;
        r.error = ERROR_INVALID_WINDOW_HANDLE;
        return r;
    }
    auto sm = std::make_shared<SentMessage>();
    sm->hwnd = hwnd_from(req.hwnd);
    sm->message = req.message;
    if (!unmarshal(req, *sm))
        return refused(ERROR_MESSAGE_SYNC_ONLY);
    auto waker = std::make_shared<Waker>();
    if (!waker->valid())
        return refused(ERROR_NO_SYSTEM_RESOURCES);
    sm->waker = waker;
    guard.emplace(sm);
    if (!queue->deliver_sent(sm)) {
        wire::SendReply r;
        r.status = wire::Status::NoWindow;
        r.error = ERROR_INVALID_WINDOW_HANDLE;
        return r;
    }
    const int fds[2] = { waker->fd(), client_fd };
    for (;;) {
        waker->drain();
        if (sm->replied())
            break;
        bool ready[2];
        if (poll_readable(fds, ready, 2, std::nullopt) == Ready::Error)
            return std::nullopt;
        // The client only waits after its request: anything readable on
        // its socket means it hung up.
        if (ready[1] && !sm->replied())
            return std::nullopt;
    }
    wire::SendReply r;
    r.result = sm->result();
    r.out = sm->out;
    return r;
}

wire::PostReply serve_post(const wire::PostRequest& req)
{
    wire::PostReply r;
    auto queue = queue_of_window(req.hwnd);
    if (!queue) {
        r.status = wire::Status::NoWindow;
        r.error = ERROR_INVALID_WINDOW_HANDLE;
        return r;
    }
    const MarshalRule rule = marshal_rule(req.message);
    if (!postable(req.message) || (rule.in == ParamIn::NullOnly && (req.wparam || req.lparam))) {
        r.status = wire::Status::Refused;
        r.error = ERROR_MESSAGE_SYNC_ONLY;
        return r;
    }
    MSG msg {};
    msg.hwnd = hwnd_from(req.hwnd);
    msg.message = req.message;
    msg.wParam = static_cast<WPARAM>(req.wparam);
    msg.lParam = static_cast<LPARAM>(req.lparam);
    msg.time = tick_count();
    if (DWORD err = queue->post(msg)) {
        r.status = err == ERROR_INVALID_THREAD_ID ? wire::Status::NoWindow : wire::Status::Failed;
        r.error = err == ERROR_INVALID_THREAD_ID ? ERROR_INVALID_WINDOW_HANDLE : err;
    }
    return r;
}

wire::QueryReply serve_query(const wire::QueryRequest& req)
{
    wire::QueryReply r;
    if (auto info = local_window_info(req.hwnd)) {
        r.exists = true;
        r.thread_id = info->thread_id;
        r.style = info->style;
        r.ex_style = info->ex_style;
        r.id = info->id;
        r.parent = info->parent;
        r.class_name = info->class_name;
        r.text = info->text.substr(0, max_marshalled_bytes - 1);
    }
    return r;
}

void serve_connection(int fd)
{
    // Declared before the descriptor so they outlast the reply's write.
    std::optional<InFlightSend> send_guard;
    std::optional<InFlightPost> post_guard;
    FdGuard guard(fd);
    wire::Frame frame;
    if (wire::read_frame(fd, frame, Clock::now() + request_time_limit) != wire::IoResult::Ok)
        return;
    std::vector<uint8_t> reply;
    switch (static_cast<wire::Op>(frame.op)) {
    case wire::Op::Find:
        if (auto req = wire::decode_find_request(frame.body)) {
            wire::FindReply r;
            r.hwnd = find_local_window(req->class_name, req->title);
            reply = wire::encode(r);
        }
        break;
    case wire::Op::Query:
        if (auto req = wire::decode_query_request(frame.body))
            reply = wire::encode(serve_query(*req));
        break;
    case wire::Op::Send:
        if (auto req = wire::decode_send_request(frame.body)) {
            if (auto r = serve_send(*req, fd, send_guard))
                reply = wire::encode(*r);
        }
        break;
    case wire::Op::Post:
        if (auto req = wire::decode_post_request(frame.body)) {
            post_guard.emplace();
            reply = wire::encode(serve_post(*req));
        }
        break;
    }
    // A malformed or unknown request gets no answer: the connection closes.
    if (!reply.empty())
        wire::write_all(fd, reply, Clock::now() + request_time_limit);
    ::shutdown(fd, SHUT_WR);
}

class Server {
public:
    ~Server() { stop(); }

    bool start(const std::filesystem::path& dir)
    {
        m_dir = dir;
        m_path = dir / mailbox_file_name(current_process_id());
        // Listen under a temporary name and rename into place, so a client
        // never sees the mailbox's name before it accepts connections (a
        // refused connection means a dead mailbox).
        const auto temp = dir / ("win-" + std::to_string(current_process_id()) + ".new");
        ::unlink(temp.c_str());
        SocketAddress addr(temp);
        if (!addr.valid() || !m_stop.valid())
            return false;
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (m_fd < 0)
            return false;
        // Owner only, before anyone can connect: not left to the umask.
        if (::bind(m_fd, reinterpret_cast<const sockaddr*>(addr.addr()), addr.length()) != 0
            || ::chmod(temp.c_str(), 0600) != 0 || ::listen(m_fd, 128) != 0
            || ::rename(temp.c_str(), m_path.c_str()) != 0) {
            ::unlink(temp.c_str());
            ::close(m_fd);
            m_fd = -1;
            return false;
        }
        m_thread = std::thread([this] { accept_loop(); });
        return true;
    }

    void stop()
    {
        if (m_fd < 0)
            return;
        m_stop.wake();
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_fd);
        m_fd = -1;
        unlink_socket();
    }

    // Safe from an exit handler: no thread is joined.
    void unlink_socket() const
    {
        if (!m_path.empty())
            ::unlink(m_path.c_str());
    }

    const std::filesystem::path& dir() const { return m_dir; }
    const std::filesystem::path& path() const { return m_path; }

private:
    void accept_loop()
    {
        const int fds[2] = { m_fd, m_stop.fd() };
        for (;;) {
            bool ready[2];
            if (poll_readable(fds, ready, 2, std::nullopt) == Ready::Error || ready[1])
                return;
            int client = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (client < 0)
                continue; // EAGAIN, EINTR, ECONNABORTED: nothing to serve
            if (!peer_is_same_user(client)) {
                ::close(client); // another user's: refused unread
                continue;
            }
            if (g_connections.fetch_add(1) >= max_connections) {
                g_connections.fetch_sub(1);
                ::close(client);
                continue;
            }
            try {
                std::thread([client] {
                    serve_connection(client);
                    g_connections.fetch_sub(1);
                }).detach();
            } catch (const std::system_error&) {
                g_connections.fetch_sub(1);
                ::close(client);
            }
        }
    }

    std::filesystem::path m_dir;
    std::filesystem::path m_path;
    int m_fd = -1;
    Waker m_stop;
    std::thread m_thread;
};

struct MailboxState {
    std::mutex mutex;
    // Atomic so the exit handler may read it without the lock.
    std::atomic<Server*> server { nullptr };
    bool exit_hook = false;
};

MailboxState& state()
{
    static MailboxState* s = new MailboxState;
    return *s;
}

void at_exit()
{
    // NOTE: not the state lock: another thread may hold it while the
    // process exits.
    if (Server* s = state().server.load())
        s->unlink_socket();
    auto& f = in_flight();
    std::unique_lock lock(f.mutex);
    f.changed.wait_for(lock, exit_wait_limit, [&f] { return f.settled(); });
}

} // namespace

bool ensure_mailbox()
{
    auto& st = state();
    std::lock_guard lock(st.mutex);
    auto dir = mailbox_dir();
    Server* current = st.server.load();
    if (!dir) {
        // This root's run/ is not safe to use; a mailbox left in an earlier
        // root would only mislead.
        if (current) {
            st.server.store(nullptr);
            current->stop();
            delete current;
        }
        return false;
    }
    if (current && current->dir() == *dir) {
        struct stat sb {};
        if (::lstat(current->path().c_str(), &sb) == 0 && S_ISSOCK(sb.st_mode))
            return true;
    }
    if (current) {
        // Moved to another machine root, or our socket file was removed:
        // listen afresh where clients will look.
        st.server.store(nullptr);
        current->stop();
        delete current;
    }
    auto server = std::make_unique<Server>();
    if (!server->start(*dir))
        return false;
    st.server.store(server.release());
    if (!st.exit_hook) {
        st.exit_hook = true;
        at_process_exit(at_exit);
    }
    return true;
}

std::optional<std::filesystem::path> mailbox_socket_path()
{
    auto& st = state();
    std::lock_guard lock(st.mutex);
    Server* current = st.server.load();
    if (!current)
        return std::nullopt;
    return current->path();
}

void close_mailbox()
{
    auto& st = state();
    std::lock_guard lock(st.mutex);
    if (Server* current = st.server.exchange(nullptr)) {
        current->stop();
        delete current;
    }
}

} // namespace kolm::platform
