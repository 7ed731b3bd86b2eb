#include "user/mailbox_dispatch.h"

#include "internal/fd.h"
#include "user/mailbox_exit.h"
#include "user/marshal.h"
#include "user/message_queue.h"
#include "user/window.h"
#include "user/wire.h"

#include <memory>
#include <optional>
#include <sys/socket.h>

namespace kolm::platform {

namespace {

using namespace std::chrono_literals;

// A client has this long to send its request, and to take its reply.
constexpr auto request_time_limit = 10s;

std::shared_ptr<MessageQueue> queue_of_window(DWORD hwnd)
{
    std::lock_guard lock(window_lock());
    Window* w = find_window_locked(hwnd);
    return w && w->state != WindowState::Destroying ? w->queue : nullptr;
}

template <typename Reply>
Reply failed(wire::Status status, DWORD error)
{
    Reply r;
    r.status = status;
    r.error = error;
    return r;
}

// Hands the message to the window's thread and waits for the answer. No
// reply (nullopt) when the client has gone away meanwhile: the message
// still runs, and its answer is dropped.
std::optional<wire::SendReply> serve_send(const wire::SendRequest& req, int client_fd,
                                          std::optional<InFlightSend>& guard)
{
    auto queue = queue_of_window(req.hwnd);
    if (!queue)
        return failed<wire::SendReply>(wire::Status::NoWindow, ERROR_INVALID_WINDOW_HANDLE);
    auto sm = std::make_shared<SentMessage>();
    sm->hwnd = hwnd_from(req.hwnd);
    sm->message = req.message;
    if (!unmarshal_send_request(req, *sm))
        return failed<wire::SendReply>(wire::Status::Refused, ERROR_MESSAGE_SYNC_ONLY);
    auto waker = std::make_shared<Waker>();
    if (!waker->valid())
        return failed<wire::SendReply>(wire::Status::Refused, ERROR_NO_SYSTEM_RESOURCES);
    sm->waker = waker;
    guard.emplace(sm);
    if (!queue->deliver_sent(sm))
        return failed<wire::SendReply>(wire::Status::NoWindow, ERROR_INVALID_WINDOW_HANDLE);
    if (!wait_for_answer_or_hang_up(*sm, *waker, client_fd))
        return std::nullopt;
    wire::SendReply r;
    r.result = sm->result();
    r.out = sm->out;
    return r;
}

wire::PostReply serve_post(const wire::PostRequest& req)
{
    auto queue = queue_of_window(req.hwnd);
    if (!queue)
        return failed<wire::PostReply>(wire::Status::NoWindow, ERROR_INVALID_WINDOW_HANDLE);
    auto msg = unmarshal_post_request(req);
    if (!msg)
        return failed<wire::PostReply>(wire::Status::Refused, ERROR_MESSAGE_SYNC_ONLY);
    if (DWORD err = queue->post(*msg)) {
        if (err == ERROR_INVALID_THREAD_ID)
            return failed<wire::PostReply>(wire::Status::NoWindow, ERROR_INVALID_WINDOW_HANDLE);
        return failed<wire::PostReply>(wire::Status::Failed, err);
    }
    return {};
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

} // namespace

void serve_connection(int fd)
{
    // Declared before the descriptor so they outlast the reply's write.
    std::optional<InFlightSend> send_guard;
    std::optional<InFlightPost> post_guard;
    Fd guard(fd);
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
    if (!reply.empty())
        wire::write_all(fd, reply, Clock::now() + request_time_limit);
    ::shutdown(fd, SHUT_WR);
}

} // namespace kolm::platform
