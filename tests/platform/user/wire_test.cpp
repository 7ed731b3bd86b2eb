// The mailbox wire format and the marshalling table.
#include "user/marshal.h"
#include "user/wire.h"

#include <gtest/gtest.h>

using namespace kolm::platform;

namespace {

std::vector<uint8_t> body_of(const std::vector<uint8_t>& frame)
{
    size_t used;
    bool bad;
    auto f = wire::parse_frame(frame.data(), frame.size(), used, bad);
    EXPECT_TRUE(f);
    EXPECT_EQ(used, frame.size());
    return f ? f->body : std::vector<uint8_t> {};
}

// Every strict prefix of a body, and the body with a byte added, must be
// refused: a reader may never run past what it was given.
template <typename Decode>
void expect_strict(const std::vector<uint8_t>& body, Decode decode)
{
    for (size_t n = 0; n < body.size(); ++n) {
        std::vector<uint8_t> prefix(body.begin(), body.begin() + static_cast<long>(n));
        EXPECT_FALSE(decode(prefix)) << "accepted a " << n << "-byte prefix of " << body.size();
    }
    auto longer = body;
    longer.push_back(0);
    EXPECT_FALSE(decode(longer)) << "accepted a trailing byte";
}

} // namespace

TEST(Wire, EveryMessageRoundTripsAndRejectsDamage)
{
    wire::SendRequest send { 0x12345678, WM_USER + 151, 0xFFFFFFFFFFull, -5, wire::LParamKind::Text,
                             std::string("a\0b", 3) };
    auto sb = body_of(wire::encode(send));
    auto s = wire::decode_send_request(sb);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->hwnd, send.hwnd);
    EXPECT_EQ(s->message, send.message);
    EXPECT_EQ(s->wparam, send.wparam);
    EXPECT_EQ(s->lparam, send.lparam);
    EXPECT_EQ(s->kind, send.kind);
    EXPECT_EQ(s->text, send.text);
    expect_strict(sb, wire::decode_send_request);

    wire::SendReply reply { wire::Status::Ok, 0, -123456789012ll, "out" };
    auto rb = body_of(wire::encode(reply));
    auto r = wire::decode_send_reply(rb);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->result, reply.result);
    EXPECT_EQ(r->out, "out");
    expect_strict(rb, wire::decode_send_reply);

    wire::FindRequest find { std::nullopt, std::string("kolm32") };
    auto fb = body_of(wire::encode(find));
    auto f = wire::decode_find_request(fb);
    ASSERT_TRUE(f);
    EXPECT_FALSE(f->class_name);
    EXPECT_EQ(f->title, "kolm32");
    expect_strict(fb, wire::decode_find_request);

    wire::QueryReply query { true, 77, WS_CHILD, 0, 12, 0x4000, "Button", "OK" };
    auto qb = body_of(wire::encode(query));
    auto q = wire::decode_query_reply(qb);
    ASSERT_TRUE(q);
    EXPECT_EQ(q->thread_id, 77u);
    EXPECT_EQ(q->id, 12u);
    EXPECT_EQ(q->class_name, "Button");
    EXPECT_EQ(q->text, "OK");
    expect_strict(qb, wire::decode_query_reply);

    wire::PostRequest post { 1, 2, 3, 4 };
    expect_strict(body_of(wire::encode(post)), wire::decode_post_request);
    expect_strict(body_of(wire::encode(wire::PostReply {})), wire::decode_post_reply);
    expect_strict(body_of(wire::encode(wire::FindReply { 9 })), wire::decode_find_reply);
    expect_strict(body_of(wire::encode(wire::QueryRequest { 9 })), wire::decode_query_request);
}

TEST(Wire, BadEnumValuesAreRefused)
{
    auto body = body_of(wire::encode(wire::SendRequest { 1, 2, 3, 4, wire::LParamKind::Number, {} }));
    body[24] = 7; // lparam kind
    EXPECT_FALSE(wire::decode_send_request(body));
    auto reply = body_of(wire::encode(wire::PostReply {}));
    reply[0] = 9; // status
    EXPECT_FALSE(wire::decode_post_reply(reply));
}

TEST(Wire, FramesAreSplitAndCheckedBeforeReading)
{
    auto frame = wire::encode(wire::FindReply { 0x42 });
    size_t used;
    bool bad;
    for (size_t n = 0; n < frame.size(); ++n) {
        EXPECT_FALSE(wire::parse_frame(frame.data(), n, used, bad));
        EXPECT_FALSE(bad) << "a short read is not an error (" << n << " bytes)";
    }
    struct Row {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    const Row rows[] = {
        { "oversize", { 0x01, 0x00, 0x10, 0x00, 1, 1 } },
        { "shorter than its header", { 0x01, 0x00, 0x00, 0x00, 1 } },
        { "wrong version", { 0x02, 0x00, 0x00, 0x00, 2, 1 } },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_FALSE(wire::parse_frame(row.bytes.data(), row.bytes.size(), used, bad));
        EXPECT_TRUE(bad);
    }
}

TEST(Marshal, RulesForTextBuffersAndPointers)
{
    struct Row {
        UINT message;
        ParamIn in;
        ParamOut out;
        bool postable;
    };
    const Row rows[] = {
        { WM_SETTEXT, ParamIn::Text, ParamOut::None, false },
        { WM_GETTEXT, ParamIn::Number, ParamOut::TextBuffer, false },
        { WM_GETTEXTLENGTH, ParamIn::Number, ParamOut::None, true },
        { LB_ADDSTRING, ParamIn::Text, ParamOut::None, false },
        { LB_FINDSTRINGEXACT, ParamIn::Text, ParamOut::None, false },
        { LB_GETTEXT, ParamIn::Number, ParamOut::TextSizedBy, false },
        { LB_GETSELITEMS, ParamIn::Number, ParamOut::IntArray, false },
        { LB_GETCOUNT, ParamIn::Number, ParamOut::None, true },
        { EM_GETSEL, ParamIn::NullOnly, ParamOut::None, true },
        { WM_CREATE, ParamIn::Refused, ParamOut::None, false },
        { WM_COMMAND, ParamIn::Number, ParamOut::None, true },
        { WM_USER + 151, ParamIn::Number, ParamOut::None, true },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.message);
        const MarshalRule r = marshal_rule(row.message);
        EXPECT_EQ(r.in, row.in);
        EXPECT_EQ(r.out, row.out);
        EXPECT_EQ(postable(row.message), row.postable);
    }
    EXPECT_EQ(marshal_rule(LB_GETTEXT).size_message, static_cast<UINT>(LB_GETTEXTLEN));
}
