#include "user/marshal.h"

#include "user/message_queue.h"
#include "user/window.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace kolm::platform {

namespace {

constexpr std::array rules {
    // Window text.
    MarshalRule { WM_SETTEXT, ParamIn::Text, ParamOut::None, 0 },
    MarshalRule { WM_GETTEXT, ParamIn::Number, ParamOut::TextBuffer, 0 },
    // List boxes.
    MarshalRule { LB_ADDSTRING, ParamIn::Text, ParamOut::None, 0 },
    MarshalRule { LB_INSERTSTRING, ParamIn::Text, ParamOut::None, 0 },
    MarshalRule { LB_SELECTSTRING, ParamIn::Text, ParamOut::None, 0 },
    MarshalRule { LB_DIR, ParamIn::Text, ParamOut::None, 0 },
    MarshalRule { LB_FINDSTRING, ParamIn::Text, ParamOut::None, 0 },
    MarshalRule { LB_FINDSTRINGEXACT, ParamIn::Text, ParamOut::None, 0 },
    MarshalRule { LB_GETTEXT, ParamIn::Number, ParamOut::TextSizedBy, LB_GETTEXTLEN },
    MarshalRule { LB_GETSELITEMS, ParamIn::Number, ParamOut::IntArray, 0 },
    MarshalRule { LB_SETTABSTOPS, ParamIn::Refused, ParamOut::None, 0 },
    MarshalRule { LB_GETITEMRECT, ParamIn::Refused, ParamOut::None, 0 },
    // Edit controls.
    MarshalRule { EM_REPLACESEL, ParamIn::Text, ParamOut::None, 0 },
    MarshalRule { EM_GETSEL, ParamIn::NullOnly, ParamOut::None, 0 },
    MarshalRule { EM_GETRECT, ParamIn::Refused, ParamOut::None, 0 },
    MarshalRule { EM_SETRECT, ParamIn::Refused, ParamOut::None, 0 },
    MarshalRule { EM_SETRECTNP, ParamIn::Refused, ParamOut::None, 0 },
    MarshalRule { EM_GETLINE, ParamIn::Refused, ParamOut::None, 0 },
    MarshalRule { EM_SETTABSTOPS, ParamIn::Refused, ParamOut::None, 0 },
    // Structures only the system itself passes.
    MarshalRule { WM_CREATE, ParamIn::Refused, ParamOut::None, 0 },
    MarshalRule { WM_NCCREATE, ParamIn::Refused, ParamOut::None, 0 },
    MarshalRule { WM_GETMINMAXINFO, ParamIn::Refused, ParamOut::None, 0 },
    MarshalRule { WM_DRAWITEM, ParamIn::Refused, ParamOut::None, 0 },
    MarshalRule { WM_MEASUREITEM, ParamIn::Refused, ParamOut::None, 0 },
    MarshalRule { WM_DELETEITEM, ParamIn::Refused, ParamOut::None, 0 },
    MarshalRule { WM_COMPAREITEM, ParamIn::Refused, ParamOut::None, 0 },
    MarshalRule { WM_WINDOWPOSCHANGING, ParamIn::Refused, ParamOut::None, 0 },
    MarshalRule { WM_WINDOWPOSCHANGED, ParamIn::Refused, ParamOut::None, 0 },
    MarshalRule { WM_COPYDATA, ParamIn::Refused, ParamOut::None, 0 },
    MarshalRule { WM_NOTIFY, ParamIn::Refused, ParamOut::None, 0 },
    MarshalRule { WM_HELP, ParamIn::Refused, ParamOut::None, 0 },
    MarshalRule { WM_STYLECHANGING, ParamIn::Refused, ParamOut::None, 0 },
    MarshalRule { WM_STYLECHANGED, ParamIn::Refused, ParamOut::None, 0 },
    MarshalRule { WM_NCCALCSIZE, ParamIn::Refused, ParamOut::None, 0 },
};

} // namespace

MarshalRule marshal_rule(UINT message)
{
    for (const auto& r : rules)
        if (r.message == message)
            return r;
    return MarshalRule { message, ParamIn::Number, ParamOut::None, 0 };
}

bool postable(UINT message)
{
    const MarshalRule r = marshal_rule(message);
    return (r.in == ParamIn::Number || r.in == ParamIn::NullOnly) && r.out == ParamOut::None;
}

bool marshal_send_request(UINT msg, WPARAM wparam, LPARAM lparam, const std::optional<std::string>* text,
                          wire::SendRequest& req)
{
    const MarshalRule rule = marshal_rule(msg);
    req.message = msg;
    req.wparam = wparam;
    req.lparam = lparam;
    if (text) {
        req.kind = wire::LParamKind::Text;
        req.text = *text;
        req.lparam = 0;
        return true;
    }
    switch (rule.in) {
    case ParamIn::Refused:
        return false;
    case ParamIn::NullOnly:
        return wparam == 0 && lparam == 0;
    case ParamIn::Text:
        req.kind = wire::LParamKind::Text;
        req.lparam = 0;
        if (lparam) {
            const char* s = reinterpret_cast<const char*>(lparam);
            req.text = std::string(s, ::strnlen(s, max_marshalled_bytes - 1));
        }
        return true;
    case ParamIn::Number:
        break;
    }
    if (rule.out != ParamOut::None)
        req.lparam = 0; // our buffer's address means nothing over there
    return true;
}

bool unmarshal_send_request(const wire::SendRequest& req, SentMessage& sm)
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

void unmarshal_send_reply(UINT msg, WPARAM wparam, LPARAM lparam, const wire::SendReply& reply)
{
    const MarshalRule rule = marshal_rule(msg);
    if (!lparam)
        return;
    char* out = reinterpret_cast<char*>(lparam);
    switch (rule.out) {
    case ParamOut::None:
        break;
    case ParamOut::TextBuffer:
        if (wparam > 0) {
            const size_t n = std::min<size_t>(reply.out.size(), wparam - 1);
            std::memcpy(out, reply.out.data(), n);
            out[n] = '\0';
        }
        break;
    case ParamOut::TextSizedBy:
        // Sized by the window's own length message, as the caller sized
        // its buffer.
        std::memcpy(out, reply.out.data(), reply.out.size());
        out[reply.out.size()] = '\0';
        break;
    case ParamOut::IntArray:
        std::memcpy(out, reply.out.data(), std::min<size_t>(reply.out.size(), wparam * sizeof(int)));
        break;
    }
}

std::optional<MSG> unmarshal_post_request(const wire::PostRequest& req)
{
    const MarshalRule rule = marshal_rule(req.message);
    if (!postable(req.message) || (rule.in == ParamIn::NullOnly && (req.wparam || req.lparam)))
        return std::nullopt;
    MSG msg {};
    msg.hwnd = hwnd_from(req.hwnd);
    msg.message = req.message;
    msg.wParam = static_cast<WPARAM>(req.wparam);
    msg.lParam = static_cast<LPARAM>(req.lparam);
    msg.time = tick_count();
    return msg;
}

} // namespace kolm::platform
