// Win32 kernel32 functions of the platform layer.
//
// Kernel objects (events, threads, devices) live in one per-process handle
// table; their handles are small multiples of 4 that fit in 32 bits and are
// never INVALID_HANDLE_VALUE. Waits, threads and time follow kernel32; the
// differences a caller could notice are noted beside each function.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "win32/types.h"

DWORD GetLastError();
void SetLastError(DWORD code);

typedef size_t SIZE_T;
typedef void* PVOID;
typedef LONG_PTR SSIZE_T;

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

// ---- waiting ----------------------------------------------------------
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_ABANDONED_0 WAIT_ABANDONED
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64
#define STATUS_WAIT_0 0x00000000u
#define STILL_ACTIVE 259u

// ---- threads ----------------------------------------------------------
typedef DWORD(WINAPI* PTHREAD_START_ROUTINE)(LPVOID lpThreadParameter);
typedef PTHREAD_START_ROUTINE LPTHREAD_START_ROUTINE;

#define CREATE_SUSPENDED 0x00000004u
#define STACK_SIZE_PARAM_IS_A_RESERVATION 0x00010000u

// ---- files and devices ------------------------------------------------
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_ALL 0x10000000u

#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u

#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u

#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_HIDDEN 0x00000002u
#define FILE_ATTRIBUTE_SYSTEM 0x00000004u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100u

#define FILE_FLAG_WRITE_THROUGH 0x80000000u
#define FILE_FLAG_OVERLAPPED 0x40000000u
#define FILE_FLAG_NO_BUFFERING 0x20000000u
#define FILE_FLAG_RANDOM_ACCESS 0x10000000u
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000u
#define FILE_FLAG_DELETE_ON_CLOSE 0x04000000u

#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u
#define INVALID_FILE_SIZE 0xFFFFFFFFu
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu

typedef struct _OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    union {
        struct {
            DWORD Offset;
            DWORD OffsetHigh;
        };
        PVOID Pointer;
    };
    HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

// ---- handles, events, waits -------------------------------------------
BOOL CloseHandle(HANDLE hObject);

// ---- global memory -----------------------------------------------------
// Movable blocks only (a fixed block's handle would be its address).
#define GMEM_FIXED 0x0000
#define GMEM_MOVEABLE 0x0002
#define GMEM_ZEROINIT 0x0040
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)
#ifndef ERROR_NOT_LOCKED
#define ERROR_NOT_LOCKED 158L
#endif
HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes);
LPVOID GlobalLock(HGLOBAL hMem);
BOOL GlobalUnlock(HGLOBAL hMem);
SIZE_T GlobalSize(HGLOBAL hMem);
HGLOBAL GlobalFree(HGLOBAL hMem);

// Security attributes are accepted and ignored. Named events are not
// shared between processes: a name is accepted and the event is private.
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                    LPCSTR lpName);
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);

// Events and thread handles are waitable.
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds);

// Ring-0 handle of an event, for a port driver inside this process:
// a non-zero 32-bit number of its own space; 0 for anything but an event.
DWORD WINAPI OpenVxDHandle(HANDLE hSource);

// ---- threads and processes --------------------------------------------
// Every thread gets at least a 256 KiB stack whatever dwStackSize asks
// for. CREATE_SUSPENDED is not supported (fails with ERROR_NOT_SUPPORTED).
HANDLE CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                    LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter, DWORD dwCreationFlags,
                    LPDWORD lpThreadId);
[[noreturn]] void ExitThread(DWORD dwExitCode);
// Ends the process with uExitCode (its low 8 bits reach the parent) while
// other threads may still run: what must reach the outside is handed over
// first (the process-end handlers, standard output and error), then the
// process ends without running static destructors, so no thread finds an
// object destroyed under it. A second caller waits for the first.
[[noreturn]] void ExitProcess(UINT uExitCode);
BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();

// ---- time ---------------------------------------------------------------
DWORD GetTickCount();
void Sleep(DWORD dwMilliseconds);

// ---- system, modules, environment ---------------------------------------
UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize);
HMODULE LoadLibraryA(LPCSTR lpLibFileName);
// NULL gives the running program's instance handle.
HMODULE GetModuleHandleA(LPCSTR lpModuleName);
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
BOOL FreeLibrary(HMODULE hLibModule);
DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
DWORD GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer);
// Names match without regard to case, as on Windows. WINDIR is always
// there, as on Windows: C:\WINDOWS (whose folder is made on first use) when
// the environment has none.
DWORD GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize);
// Written to standard error only when KOLM_DEBUG is set (and not "0").
void OutputDebugStringA(LPCSTR lpOutputString);
// The program is looked up in the running executable's folder, then PATH;
// "name.exe" also finds "name". It runs detached; the call does not wait.
UINT WinExec(LPCSTR lpCmdLine, UINT uCmdShow);

// ---- formatting ---------------------------------------------------------
// At most 1024 characters plus the NUL are written. 'l' and 'h' mean 32 and
// 16 bits (long is 32-bit on Windows): pass DWORD / LONG for %lx, %ld.
int wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...);
int wvsprintfA(LPSTR lpOut, LPCSTR lpFmt, va_list arglist);

// ---- files and devices --------------------------------------------------
// "\\.\NAME" opens a device that platform code registered; other names are
// files, with drive-letter paths mapped into the machine root.
HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
// Synchronous only: lpOverlapped must be null.
BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                     LPOVERLAPPED lpOverlapped);
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped);
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped);
BOOL DeleteFileA(LPCSTR lpFileName);
