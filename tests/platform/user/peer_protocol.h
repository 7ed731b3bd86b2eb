// Messages the test peer (user_test_peer) answers; shared by the peer and
// the tests that drive it.
#pragma once

#include "win32.h"

namespace peer {

// wParam + lParam.
constexpr UINT add = WM_USER + 1;
// lParam: text. Sets the window text to "got:" + text; answers its length.
constexpr UINT take_text = WM_USER + 2;
// ReplyMessage(wParam), then stays in the procedure until `finish` is
// posted; returns 999, which nobody sees.
constexpr UINT reply_early = WM_USER + 3;
constexpr UINT finish = WM_USER + 4;
// 1 while the peer is still inside `reply_early`, else 0.
constexpr UINT inside_early = WM_USER + 5;
// Posted: counts it and posts `posted_ack` (wParam, count) to the window
// in lParam.
constexpr UINT count_post = WM_USER + 6;
constexpr UINT posted_ack = WM_USER + 20;
// Sends `add` (5, 6) to the window in wParam and answers its result + 100.
constexpr UINT call_back = WM_USER + 9;
// Ends the process at once, without answering.
constexpr UINT die = WM_USER + 10;

// Ends the process with exit(exit_now_code) (exit handlers run).
constexpr UINT exit_now = WM_USER + 11;
constexpr int exit_now_code = 5;
// ReplyMessage(wParam), then exit(exit_now_code).
constexpr UINT reply_then_exit = WM_USER + 12;

// Exit code after WM_DESTROY.
constexpr int exit_code = 7;

} // namespace peer
