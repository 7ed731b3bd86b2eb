#include "kolm/messaging.h"

#include "user/marshal.h"
#include "user/remote.h"
#include "user/window.h"

#include <optional>
#include <string>

namespace kolm::platform {

LRESULT send_text_message(HWND hwnd, UINT message, WPARAM wparam, std::string_view text)
{
    // Text goes only where the message means text; elsewhere the window
    // would read (or write) lParam as something else.
    if (message < WM_USER && marshal_rule(message).in != ParamIn::Text) {
        SetLastError(ERROR_MESSAGE_SYNC_ONLY);
        return 0;
    }
    const std::string copy(text);
    if (window_home(hwnd) == WindowHome::OtherProcess) {
        const std::optional<std::string> carried = copy;
        return remote_send_message(hwnd, message, wparam, 0, &carried);
    }
    return SendMessageA(hwnd, message, wparam, reinterpret_cast<LPARAM>(copy.c_str()));
}

} // namespace kolm::platform
