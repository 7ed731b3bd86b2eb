// The mailbox wire format: one request and one reply per connection.
//
// Every frame is a 32-bit little-endian length (of what follows), a version
// byte, an operation byte, then the operation's fields, all little-endian.
// Text travels as a presence byte, a 32-bit length and the bytes (no NUL).
// A reader never trusts a length: each field is checked against what is
// left of the frame, and frames over max_frame_bytes are refused unread.
#pragma once

#include "user/user_area.h"
#include "user/waker.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kolm::platform::wire {

constexpr uint8_t version = 1;
constexpr size_t max_frame_bytes = 256 * 1024;
constexpr uint8_t reply_flag = 0x80;

enum class Op : uint8_t {
    Find = 1,   // top-level window by class and title
    Query = 2,  // facts about one window (no window procedure runs)
    Send = 3,   // SendMessageA
    Post = 4,   // PostMessageA
};

// How a Send request's lParam is carried.
enum class LParamKind : uint8_t {
    Number = 0,
    Text = 1, // lParam is a pointer to a copy of `text` (NULL when absent)
};

// Status of a Send or Post reply.
enum class Status : uint8_t {
    Ok = 0,
    NoWindow = 1,   // the window does not exist (any more)
    Refused = 2,    // parameters that cannot travel; `error` says why
    Failed = 3,     // e.g. the queue is full; `error` says why
};

struct FindRequest {
    std::optional<std::string> class_name;
    std::optional<std::string> title;
};
struct FindReply {
    DWORD hwnd = 0;
};

struct QueryRequest {
    DWORD hwnd = 0;
};
struct QueryReply {
    bool exists = false;
    DWORD thread_id = 0;
    DWORD style = 0;
    DWORD ex_style = 0;
    DWORD id = 0;
    DWORD parent = 0;
    std::string class_name;
    std::string text;
};

struct SendRequest {
    DWORD hwnd = 0;
    UINT message = 0;
    uint64_t wparam = 0;
    int64_t lparam = 0;
    LParamKind kind = LParamKind::Number;
    std::optional<std::string> text;
};
struct SendReply {
    Status status = Status::Ok;
    DWORD error = 0;
    int64_t result = 0;
    std::string out; // what an output buffer holds after the call
};

struct PostRequest {
    DWORD hwnd = 0;
    UINT message = 0;
    uint64_t wparam = 0;
    int64_t lparam = 0;
};
struct PostReply {
    Status status = Status::Ok;
    DWORD error = 0;
};

// A decoded frame: its operation and its body.
struct Frame {
    uint8_t op = 0;
    std::vector<uint8_t> body;
};

// Whole frames (length prefix included).
std::vector<uint8_t> encode(const FindRequest&);
std::vector<uint8_t> encode(const FindReply&);
std::vector<uint8_t> encode(const QueryRequest&);
std::vector<uint8_t> encode(const QueryReply&);
std::vector<uint8_t> encode(const SendRequest&);
std::vector<uint8_t> encode(const SendReply&);
std::vector<uint8_t> encode(const PostRequest&);
std::vector<uint8_t> encode(const PostReply&);

// Bodies; nullopt when malformed (short, trailing bytes, bad enum).
std::optional<FindRequest> decode_find_request(const std::vector<uint8_t>& body);
std::optional<FindReply> decode_find_reply(const std::vector<uint8_t>& body);
std::optional<QueryRequest> decode_query_request(const std::vector<uint8_t>& body);
std::optional<QueryReply> decode_query_reply(const std::vector<uint8_t>& body);
std::optional<SendRequest> decode_send_request(const std::vector<uint8_t>& body);
std::optional<SendReply> decode_send_reply(const std::vector<uint8_t>& body);
std::optional<PostRequest> decode_post_request(const std::vector<uint8_t>& body);
std::optional<PostReply> decode_post_reply(const std::vector<uint8_t>& body);

// Splits a byte stream into one frame. Needs more bytes: nullopt with
// `bad` false; malformed (oversize, wrong version): nullopt with `bad` true.
std::optional<Frame> parse_frame(const uint8_t* data, size_t size, size_t& used, bool& bad);

enum class IoResult { Ok, Closed, TimedOut, Malformed, Error };

// Whole-buffer write on a socket (no SIGPIPE), bounded by the deadline.
IoResult write_all(int fd, const std::vector<uint8_t>& bytes, Clock::time_point deadline);
// Reads exactly one frame, bounded by the deadline.
IoResult read_frame(int fd, Frame& frame, Clock::time_point deadline);

} // namespace kolm::platform::wire
