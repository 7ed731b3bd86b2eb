#include "user/remote.h"
#include "internal/system.h"

#include "internal/fd.h"
#include "user/mailbox_path.h"
#include "user/marshal.h"
#include "user/message_pump.h"
#include "user/window.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace kolm::platform {

namespace {

using namespace std::chrono_literals;

// Bounds for talking to a mailbox. Only the wait for a sent message's
// answer is unbounded, as SendMessageA's is.
constexpr auto connect_time_limit = 5s;
constexpr auto exchange_time_limit = 10s;

// One connection to a mailbox; empty when it could not be made.
using Connection = Fd;

// Connects to the mailbox of a process. A socket file nobody listens on
// (its process crashed or was killed) is removed, unless it changed while
// we looked (a new process of the same pid just put its own in place).
Connection connect_mailbox(const std::filesystem::path& dir, DWORD pid)
{
    const auto path = dir / mailbox_file_name(pid);
    struct stat before {};
    if (::lstat(path.c_str(), &before) != 0 || !S_ISSOCK(before.st_mode))
        return {};
    SocketAddress addr(path);
    if (!addr.valid())
        return {};
    Connection conn(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!conn)
        return {};
    timeval tv {};
    tv.tv_sec = std::chrono::duration_cast<std::chrono::seconds>(connect_time_limit).count();
    ::setsockopt(conn.get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    int rc = sys::retry_eintr([&] { return ::connect(conn.get(), reinterpret_cast<const sockaddr*>(addr.addr()), addr.length()); });
    // A connect interrupted and retried may find itself already done.
    if (rc != 0 && errno == EISCONN)
        rc = 0;
    // A mailbox of another user's is not one of our windows' (nor told
    // what we send).
    if (rc == 0 && !peer_is_same_user(conn.get()))
        return {};
    if (rc != 0) {
        const int err = errno;
        if (err == ECONNREFUSED || err == ENOENT) {
            struct stat now {};
            const bool unchanged = ::lstat(path.c_str(), &now) == 0 && now.st_ino == before.st_ino
                && now.st_dev == before.st_dev;
            if (unchanged || !process_alive(pid))
                ::unlink(path.c_str());
        }
        return {};
    }
    return conn;
}

Connection connect_to_window(HWND hwnd)
{
    auto parts = decode_hwnd(hwnd_value(hwnd));
    auto dir = mailbox_dir();
    if (!parts || !dir)
        return {};
    return connect_mailbox(*dir, parts->pid);
}

// One request, one reply of the expected operation.
std::optional<wire::Frame> exchange(const Connection& conn, const std::vector<uint8_t>& request, wire::Op op)
{
    const auto deadline = Clock::now() + exchange_time_limit;
    if (wire::write_all(conn.get(), request, deadline) != wire::IoResult::Ok)
        return std::nullopt;
    wire::Frame frame;
    if (wire::read_frame(conn.get(), frame, deadline) != wire::IoResult::Ok
        || frame.op != (static_cast<uint8_t>(op) | wire::reply_flag))
        return std::nullopt;
    return frame;
}

LRESULT window_gone()
{
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
}

} // namespace

DWORD remote_find_window(const std::optional<std::string>& cls, const std::optional<std::string>& title)
{
    auto dir = mailbox_dir();
    if (!dir)
        return 0;
    const DWORD self = current_process_id();
    wire::FindRequest req { cls, title };
    const auto request = wire::encode(req);
    for (DWORD pid : mailbox_pids(*dir)) {
        if (pid == self)
            continue;
        Connection conn = connect_mailbox(*dir, pid);
        if (!conn)
            continue;
        auto frame = exchange(conn, request, wire::Op::Find);
        if (!frame)
            continue;
        auto reply = wire::decode_find_reply(frame->body);
        if (!reply || !reply->hwnd)
            continue;
        // A mailbox answers only for its own windows.
        auto parts = decode_hwnd(reply->hwnd);
        if (parts && parts->pid == pid)
            return reply->hwnd;
    }
    return 0;
}

std::optional<wire::QueryReply> remote_query_window(HWND hwnd)
{
    Connection conn = connect_to_window(hwnd);
    if (!conn)
        return std::nullopt;
    auto frame = exchange(conn, wire::encode(wire::QueryRequest { hwnd_value(hwnd) }), wire::Op::Query);
    if (!frame)
        return std::nullopt;
    auto reply = wire::decode_query_reply(frame->body);
    if (!reply || !reply->exists)
        return std::nullopt;
    return reply;
}

LRESULT remote_send_message(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, const std::optional<std::string>* text)
{
    wire::SendRequest req;
    req.hwnd = hwnd_value(hwnd);
    if (!marshal_send_request(msg, wparam, lparam, text, req)) {
        SetLastError(ERROR_MESSAGE_SYNC_ONLY);
        return 0;
    }
    if (req.text && req.text->size() >= max_marshalled_bytes) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    Connection conn = connect_to_window(hwnd);
    if (!conn)
        return window_gone();
    if (wire::write_all(conn.get(), wire::encode(req), Clock::now() + exchange_time_limit) != wire::IoResult::Ok)
        return window_gone();
    // Wait for the answer for as long as it takes, serving messages sent to
    // this thread meanwhile (the target may be sending back to us).
    if (auto me = current_queue()) {
        if (wait_serving(*me, conn.get(), [] { return false; }) != WaitEnd::FdReady)
            return window_gone();
    } else {
        bool ready;
        const int fd = conn.get();
        if (poll_readable(&fd, &ready, 1, std::nullopt) != Ready::Yes)
            return window_gone();
    }
    wire::Frame frame;
    if (wire::read_frame(conn.get(), frame, Clock::now() + exchange_time_limit) != wire::IoResult::Ok
        || frame.op != (static_cast<uint8_t>(wire::Op::Send) | wire::reply_flag))
        return window_gone(); // the target died before it answered
    auto reply = wire::decode_send_reply(frame.body);
    if (!reply)
        return window_gone();
    switch (reply->status) {
    case wire::Status::Ok:
        break;
    case wire::Status::NoWindow:
        return window_gone();
    case wire::Status::Refused:
    case wire::Status::Failed:
        SetLastError(reply->error);
        return 0;
    }
    if (!text)
        unmarshal_send_reply(msg, wparam, lparam, *reply);
    return static_cast<LRESULT>(reply->result);
}

BOOL remote_post_message(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    Connection conn = connect_to_window(hwnd);
    if (!conn)
        return window_gone();
    wire::PostRequest req { hwnd_value(hwnd), msg, wparam, lparam };
    auto frame = exchange(conn, wire::encode(req), wire::Op::Post);
    if (!frame)
        return window_gone();
    auto reply = wire::decode_post_reply(frame->body);
    if (!reply)
        return window_gone();
    if (reply->status == wire::Status::Ok)
        return TRUE;
    SetLastError(reply->status == wire::Status::NoWindow ? ERROR_INVALID_WINDOW_HANDLE : reply->error);
    return FALSE;
}

} // namespace kolm::platform
