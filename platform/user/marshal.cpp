#include "user/marshal.h"

#include <array>

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

} // namespace kolm::platform
