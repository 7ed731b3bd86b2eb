// The installer's message boxes: printf-style texts of at most 199
// characters, cut there whatever the arguments.
#include "install.h"

namespace {

const int kMsgSize = 200;

int show(HWND hWnd, const char* caption, UINT type, const char* format, va_list args)
{
    char text[kMsgSize];
    std::vsnprintf(text, sizeof text, format, args);
    return MessageBoxA(hWnd, text, caption, type);
}

} // namespace

void ErrMsg(HWND hWnd, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    show(hWnd, "Error", MB_OK, format, args);
    va_end(args);
    gotError = 1;
}

void InfoMsg(HWND hWnd, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    show(hWnd, "Info", MB_OK, format, args);
    va_end(args);
}

int QueryMsg(HWND hWnd, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int answer = show(hWnd, "Info", MB_OKCANCEL, format, args);
    va_end(args);
    return answer == IDOK ? 1 : 2;
}
