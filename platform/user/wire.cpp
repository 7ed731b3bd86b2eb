#include "user/wire.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

#include "internal/thread_plug.h"

namespace kolm::platform::wire {

namespace {

class Writer {
public:
    explicit Writer(Op op, bool reply)
    {
        m_bytes.resize(4);
        u8(version);
        u8(static_cast<uint8_t>(static_cast<uint8_t>(op) | (reply ? reply_flag : 0)));
    }
    void u8(uint8_t v) { m_bytes.push_back(v); }
    void u32(uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            m_bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void u64(uint64_t v)
    {
        for (int i = 0; i < 8; ++i)
            m_bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void i64(int64_t v) { u64(static_cast<uint64_t>(v)); }
    void text(const std::optional<std::string>& s)
    {
        u8(s ? 1 : 0);
        const std::string_view v = s ? std::string_view(*s) : std::string_view();
        u32(static_cast<uint32_t>(v.size()));
        m_bytes.insert(m_bytes.end(), v.begin(), v.end());
    }
    void required_text(std::string_view s) { text(std::optional<std::string>(std::string(s))); }
    std::vector<uint8_t> finish()
    {
        const uint32_t len = static_cast<uint32_t>(m_bytes.size() - 4);
        for (int i = 0; i < 4; ++i)
            m_bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(len >> (8 * i));
        return std::move(m_bytes);
    }

private:
    std::vector<uint8_t> m_bytes;
};

class Reader {
public:
    explicit Reader(const std::vector<uint8_t>& body)
        : m_data(body.data())
        , m_size(body.size())
    {
    }
    bool ok() const { return m_ok; }
    bool finished() const { return m_ok && m_pos == m_size; }
    uint8_t u8()
    {
        if (!need(1))
            return 0;
        return m_data[m_pos++];
    }
    uint32_t u32()
    {
        if (!need(4))
            return 0;
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<uint32_t>(m_data[m_pos++]) << (8 * i);
        return v;
    }
    uint64_t u64()
    {
        if (!need(8))
            return 0;
        uint64_t v = 0;
        for (int i = 0; i < 8; ++i)
            v |= static_cast<uint64_t>(m_data[m_pos++]) << (8 * i);
        return v;
    }
    int64_t i64() { return static_cast<int64_t>(u64()); }
    std::optional<std::string> text()
    {
        const uint8_t present = u8();
        const uint32_t len = u32();
        if (!m_ok || present > 1 || (!present && len != 0) || !need(len)) {
            m_ok = false;
            return std::nullopt;
        }
        std::string s(reinterpret_cast<const char*>(m_data + m_pos), len);
        m_pos += len;
        if (!present)
            return std::nullopt;
        return s;
    }
    std::string required_text()
    {
        auto s = text();
        return s ? *s : std::string();
    }

private:
    bool need(size_t n)
    {
        if (!m_ok || m_size - m_pos < n) {
            m_ok = false;
            return false;
        }
        return true;
    }

    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
    bool m_ok = true;
};

template <typename T>
std::optional<T> finish(const Reader& r, T value)
{
    if (!r.finished())
        return std::nullopt;
    return value;
}

bool valid_status(uint8_t s)
{
    return s <= static_cast<uint8_t>(Status::Failed);
}

} // namespace

std::vector<uint8_t> encode(const FindRequest& m)
{
    Writer w(Op::Find, false);
    w.text(m.class_name);
    w.text(m.title);
    return w.finish();
}

std::vector<uint8_t> encode(const FindReply& m)
{
    Writer w(Op::Find, true);
    w.u32(m.hwnd);
    return w.finish();
}

std::vector<uint8_t> encode(const QueryRequest& m)
{
    Writer w(Op::Query, false);
    w.u32(m.hwnd);
    return w.finish();
}

std::vector<uint8_t> encode(const QueryReply& m)
{
    Writer w(Op::Query, true);
    w.u8(m.exists ? 1 : 0);
    w.u32(m.thread_id);
    w.u32(m.style);
    w.u32(m.ex_style);
    w.u32(m.id);
    w.u32(m.parent);
    w.required_text(m.class_name);
    w.required_text(m.text);
    return w.finish();
}

std::vector<uint8_t> encode(const SendRequest& m)
{
    Writer w(Op::Send, false);
    w.u32(m.hwnd);
    w.u32(m.message);
    w.u64(m.wparam);
    w.i64(m.lparam);
    w.u8(static_cast<uint8_t>(m.kind));
    w.text(m.text);
    return w.finish();
}

std::vector<uint8_t> encode(const SendReply& m)
{
    Writer w(Op::Send, true);
    w.u8(static_cast<uint8_t>(m.status));
    w.u32(m.error);
    w.i64(m.result);
    w.required_text(m.out);
    return w.finish();
}

std::vector<uint8_t> encode(const PostRequest& m)
{
    Writer w(Op::Post, false);
    w.u32(m.hwnd);
    w.u32(m.message);
    w.u64(m.wparam);
    w.i64(m.lparam);
    return w.finish();
}

std::vector<uint8_t> encode(const PostReply& m)
{
    Writer w(Op::Post, true);
    w.u8(static_cast<uint8_t>(m.status));
    w.u32(m.error);
    return w.finish();
}

std::optional<FindRequest> decode_find_request(const std::vector<uint8_t>& body)
{
    Reader r(body);
    FindRequest m;
    m.class_name = r.text();
    m.title = r.text();
    return finish(r, m);
}

std::optional<FindReply> decode_find_reply(const std::vector<uint8_t>& body)
{
    Reader r(body);
    FindReply m;
    m.hwnd = r.u32();
    return finish(r, m);
}

std::optional<QueryRequest> decode_query_request(const std::vector<uint8_t>& body)
{
    Reader r(body);
    QueryRequest m;
    m.hwnd = r.u32();
    return finish(r, m);
}

std::optional<QueryReply> decode_query_reply(const std::vector<uint8_t>& body)
{
    Reader r(body);
    QueryReply m;
    const uint8_t exists = r.u8();
    m.exists = exists == 1;
    m.thread_id = r.u32();
    m.style = r.u32();
    m.ex_style = r.u32();
    m.id = r.u32();
    m.parent = r.u32();
    m.class_name = r.required_text();
    m.text = r.required_text();
    if (exists > 1)
        return std::nullopt;
    return finish(r, m);
}

std::optional<SendRequest> decode_send_request(const std::vector<uint8_t>& body)
{
    Reader r(body);
    SendRequest m;
    m.hwnd = r.u32();
    m.message = r.u32();
    m.wparam = r.u64();
    m.lparam = r.i64();
    const uint8_t kind = r.u8();
    m.text = r.text();
    if (kind > static_cast<uint8_t>(LParamKind::Text))
        return std::nullopt;
    m.kind = static_cast<LParamKind>(kind);
    return finish(r, m);
}

std::optional<SendReply> decode_send_reply(const std::vector<uint8_t>& body)
{
    Reader r(body);
    SendReply m;
    const uint8_t status = r.u8();
    m.error = r.u32();
    m.result = r.i64();
    m.out = r.required_text();
    if (!valid_status(status))
        return std::nullopt;
    m.status = static_cast<Status>(status);
    return finish(r, m);
}

std::optional<PostRequest> decode_post_request(const std::vector<uint8_t>& body)
{
    Reader r(body);
    PostRequest m;
    m.hwnd = r.u32();
    m.message = r.u32();
    m.wparam = r.u64();
    m.lparam = r.i64();
    return finish(r, m);
}

std::optional<PostReply> decode_post_reply(const std::vector<uint8_t>& body)
{
    Reader r(body);
    PostReply m;
    const uint8_t status = r.u8();
    m.error = r.u32();
    if (!valid_status(status))
        return std::nullopt;
    m.status = static_cast<Status>(status);
    return finish(r, m);
}

std::optional<Frame> parse_frame(const uint8_t* data, size_t size, size_t& used, bool& bad)
{
    used = 0;
    bad = false;
    if (size < 4)
        return std::nullopt;
    const uint32_t len = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8
        | static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
    if (len < 2 || len > max_frame_bytes) {
        bad = true;
        return std::nullopt;
    }
    if (size >= 5 && data[4] != version) {
        bad = true;
        return std::nullopt;
    }
    if (size - 4 < len)
        return std::nullopt;
    Frame f;
    f.op = data[5];
    f.body.assign(data + 6, data + 4 + len);
    used = 4 + static_cast<size_t>(len);
    return f;
}

namespace {

// Waits until fd is ready for `events`, or the deadline passes.
IoResult wait_fd(int fd, short events, Clock::time_point deadline)
{
    sys::unplug();
    pollfd p { fd, events, 0 };
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return IoResult::TimedOut;
        int n = ::poll(&p, 1, left > INT32_MAX ? INT32_MAX : static_cast<int>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return IoResult::Error;
        }
        if (n > 0)
            return IoResult::Ok;
    }
}

IoResult read_exact(int fd, uint8_t* out, size_t size, Clock::time_point deadline)
{
    size_t got = 0;
    while (got < size) {
        ssize_t n = ::recv(fd, out + got, size - got, MSG_DONTWAIT);
        if (n > 0) {
            got += static_cast<size_t>(n);
            continue;
        }
        if (n == 0)
            return IoResult::Closed;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return errno == ECONNRESET ? IoResult::Closed : IoResult::Error;
        if (IoResult r = wait_fd(fd, POLLIN, deadline); r != IoResult::Ok)
            return r;
    }
    return IoResult::Ok;
}

} // namespace

IoResult write_all(int fd, const std::vector<uint8_t>& bytes, Clock::time_point deadline)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno == EPIPE || errno == ECONNRESET)
            return IoResult::Closed;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return IoResult::Error;
        if (IoResult r = wait_fd(fd, POLLOUT, deadline); r != IoResult::Ok)
            return r;
    }
    return IoResult::Ok;
}

IoResult read_frame(int fd, Frame& frame, Clock::time_point deadline)
{
    uint8_t head[6];
    if (IoResult r = read_exact(fd, head, sizeof head, deadline); r != IoResult::Ok)
        return r;
    size_t used;
    bool bad;
    parse_frame(head, sizeof head, used, bad);
    if (bad)
        return IoResult::Malformed;
    const uint32_t len = static_cast<uint32_t>(head[0]) | static_cast<uint32_t>(head[1]) << 8
        | static_cast<uint32_t>(head[2]) << 16 | static_cast<uint32_t>(head[3]) << 24;
    frame.op = head[5];
    frame.body.resize(len - 2);
    if (frame.body.empty())
        return IoResult::Ok;
    return read_exact(fd, frame.body.data(), frame.body.size(), deadline);
}

} // namespace kolm::platform::wire
