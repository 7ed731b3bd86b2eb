// The notice box: a small timed, topmost popup that tells the user what
// happens on the redirected port.
#pragma once

#include "win32.h"
#include "kolmmsg.h"
#include "shared.h"

// The box's own messages.
#define WM_NOTICE_MESS (WM_USER + 100)      // 0x464
#define WM_KILL_NOTICE_MESS (WM_USER + 101) // 0x465

#define NOTICE_COMPOSED_LEN 240 // the box's composed text, with the NUL
#define NOTICE_PAIR_MS 700      // notices closer than this are shown together
#define NOTICE_PAIR_MAX 90      // pairs shorter than this get a blank first line

#define IDD_NOTICE 1       // plain box
#define IDD_NOTICE_OK 2    // box with an OK button
#define IDC_NOTICE_TEXT -1
#define IDC_NOTICE_OK 101
#define NOTICE_TIMER 1

void iNotice_mess(WORD wParam, LPARAM lParam, char type);
void iKill_Notice_mess(WORD wParam);
int message_ok(WORD wpar);
INT_PTR CALLBACK NoticeProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);

// Takes the next sequence number (the counter wraps at 255) and sends the
// notice to the runtime window, so the text has been copied when this
// returns. hold is in tenths of a second; 0 keeps the box open.
void SendNotice(UINT msg, int hold, const char* text);
