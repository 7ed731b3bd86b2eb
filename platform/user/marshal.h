// How a message's parameters travel to a window of another process.
//
// Numbers travel as they are. Messages whose lParam points at text or at a
// buffer are marshalled: the text is copied into the target process and
// lParam points at the copy for the duration of the call; an output buffer
// is made in the target process and what the window wrote comes back into
// the sender's buffer. Messages whose pointers we do not marshal are
// refused rather than delivered with a pointer that means nothing in the
// target (or that would crash it).
//
// One table row per message: adding a control's messages is one row each.
#pragma once

#include "user/user_area.h"
#include "user/wire.h"

#include <cstddef>
#include <optional>
#include <string>

namespace kolm::platform {

enum class ParamIn : unsigned char {
    Number,         // wParam and lParam are numbers
    Text,           // lParam: NUL-terminated text (NULL allowed)
    NullOnly,       // pointers allowed only when both are 0
    Refused,        // carries pointers we do not marshal
};

enum class ParamOut : unsigned char {
    None,
    TextBuffer,     // lParam: char buffer of wParam bytes
    TextSizedBy,    // lParam: char buffer sized by `size_message` (+1 for the NUL)
    IntArray,       // lParam: int array of wParam entries
};

struct MarshalRule {
    UINT message;
    ParamIn in;
    ParamOut out;
    UINT size_message; // for TextSizedBy: message whose result is the text length
};

// The rule for a message; messages without a row are numbers, except that
// a sender may pass text to a private message (WM_USER and above).
MarshalRule marshal_rule(UINT message);

// Whether a message can be posted at all (no pointer travels with it).
bool postable(UINT message);

// Largest text or buffer carried either way (bytes, NUL included).
constexpr size_t max_marshalled_bytes = 64 * 1024;

class SentMessage;

// The four halves of a message's journey, each beside its inverse. The
// sender's halves run on the sending thread; the target's halves run on
// the mailbox connection's thread (the hooks they set run later on the
// window's own thread).

// Sender: fills the request from SendMessageA's parameters. With `text`,
// the target's lParam points at a copy of it. False when the parameters
// cannot travel.
bool marshal_send_request(UINT msg, WPARAM wparam, LPARAM lparam, const std::optional<std::string>* text,
                          wire::SendRequest& req);

// Target: fills in the sent message's parameters from the request, copying
// text in and making room for what the window writes back. False when the
// parameters cannot travel (a foreign pointer, text where the system gives
// lParam its own meaning).
bool unmarshal_send_request(const wire::SendRequest& req, SentMessage& sm);

// Sender: what the window wrote goes into the caller's buffer at lParam,
// bounded as the caller sized it.
void unmarshal_send_reply(UINT msg, WPARAM wparam, LPARAM lparam, const wire::SendReply& reply);

// Target: the message a post request puts in the window's queue; nullopt
// when it may not be posted (it would carry a pointer).
std::optional<MSG> unmarshal_post_request(const wire::PostRequest& req);

} // namespace kolm::platform
