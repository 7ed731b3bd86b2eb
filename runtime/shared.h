// Every value the runtime's threads share: who writes it, who reads it, and
// what makes each access safe. Code that reaches one of these from more than
// one thread goes through the accessors below, never around them.
//
// The threads (docs/threads.md says who starts and ends each):
//   window   WinMain's message loop: WndProc, the notice box, and the
//            driver's commands when they come as WM_COMMAND (doVxDCmd).
//   service  ServiceThread: the driver's commands when they come through
//            the command event. A driver uses one path or the other, so
//            the "command path" below is one thread at a time.
//   pumps    a connection's VxDToNetThread and NetToVxDThread; a pump of
//            an earlier connection may still run while a newer one is up
//            (pump_link.h says how it keeps to its own connection).
//   driver   the port driver, inside the runtime's device calls and on its
//            own threads; it reaches the rings only inside those calls.
//
// value                      writer(s)              reader(s)        safe because
// -------------------------  ---------------------  ---------------  -------------------------------
// myhWnd, ghInstance,        window, before the     all              written before the service
//   the four events (R3/R0)  service thread starts                   thread starts; never again
// pOpenVxDHandle             window (InitEvents)    window           one thread
// hDevice                    command path (open),   all              atomic: device(), set_device()
//                            window (DeInitVxD)
// sockState                  command path           window           atomic: sock_state(),
//                                                   (WM_GET_STATUS)  set_sock_state()
// ports[0].state             command path; pumps    all              atomic: port_state(),
//                            (VxDClose)                              set_port_state(),
//                                                                    close_port_state()
// ports[0].socket            command path           command path,    atomic: port_socket(),
//                                                   start_pumps      set_port_socket()
// ports[0].curServ           command path           window, pumps    atomic: cur_serv(),
//                                                                    set_cur_serv()
// ports[0].serv, portName    command path (load,    command path;    written only while no connection
//                            a moved IPX service)   pumps (notices)  is up: the pumps start after,
//                                                                    thread creation orders the writes
// redir_online               command path           pumps            atomic: online(), set_online()
// wsockInitted               command path           command path     one thread at a time
// lasterror                  any (Check_Error)      any              atomic exchange
// toNetQ, fromNetQ and the   pumps, command path    the same         queue_guard(q).lock, held
//   ring storage             (flush/reset), driver                   around every change
// toNetBf, fromNetBf, initQ  nobody (constant)      all              set before main
// hWndTimerApp               window (WM_CREATE,     all (notices,    atomic: timer_app_window(),
//                            teardown)              async select)    InitDLLTimer()
// hTimerApp                  window                 window           one thread
// hNoticeBox, hActiveBefore, window                 window           owned by the window thread:
//   oldnotice, oldnoticetime,                                        other threads reach the box
//   last_counter                                                     only through SendNotice
// Notice_send_counter        any (SendNotice)       any              atomic fetch_add
// the current pump link and  command path           pumps            pump_link.cpp: a lock, an
//   connection number                                                atomic (pump_link.h)
#pragma once

#include "win32.h"
#include "kolmvx.h"
#include "data.h"

#define QUEUE_SIZE 1024

typedef DWORD (*OPENVXDHANDLE)(HANDLE);

// The driver link.
extern HANDLE hDevice; // 0 never opened or closed again; INVALID_HANDLE_VALUE open failed
extern HWND myhWnd;
extern HANDLE CmdEventR3, AppToVxDR3, VxDToNetEventR3, NetToVxDEventR3;
extern DWORD CmdEventR0, AppToVxDR0, VxDToNetEventR0, NetToVxDEventR0;
extern OPENVXDHANDLE pOpenVxDHandle;

// Where the command path stands with the connection: 0 nothing prepared,
// 1 initialised, 2 connected.
extern signed char sockState;

// The byte queues: the ring storage and descriptors shared with the driver.
extern char toNetBuffer[QUEUE_SIZE];
extern char fromNetBuffer[QUEUE_SIZE];
extern char* toNetBf;
extern char* fromNetBf;
extern AppyQ toNetQ;
extern AppyQ fromNetQ;
extern const AppyQ initQ;

// The runtime window every notice goes to, and its instance; null after
// teardown, so later notices have no target.
extern HWND hWndTimerApp;
extern HINSTANCE hTimerApp;

// 1 while a connection is up: the pump threads keep running only then.
extern int redir_online;
extern char wsockInitted;
extern int lasterror;

// The notice box's state.
#define NOTICE_TEXT_LEN 120 // a notice text, with the NUL
extern HWND hNoticeBox;
extern HWND hActiveBefore;
extern char oldnotice[NOTICE_TEXT_LEN];
extern DWORD oldnoticetime;
extern int last_counter;
extern unsigned char Notice_send_counter;

// Single atomic steps on the values above that threads share.
HANDLE device();
void set_device(HANDLE h);
signed char sock_state();
void set_sock_state(signed char v);
int online();
void set_online(int v);
HWND timer_app_window();
void set_timer_app_window(HWND h);
// The next notice's sequence number (wraps at 255).
unsigned char next_notice_number();
// Stores the latest socket error; the one stored before.
int swap_last_error(int err);

// The redirected port's record (ports[0]).
signed char port_state();
void set_port_state(signed char v);
// Marks the port closed from the network side; true for the one caller
// that did so (it tells the driver and the user).
bool close_port_state();
unsigned port_socket();
void set_port_socket(unsigned s);
signed char cur_serv();
void set_cur_serv(signed char v);
// Clears the record for a fresh start: the shared fields in single atomic
// steps, the service list (which no other thread reads now) plainly.
void reset_port();
