#include "mydebug.h"

int what2debug = 0x3E;

namespace {

// Decided once, at the first trace.
bool tracing()
{
    static const bool on = [] {
        const char* v = getenv("KOLM_TRACE");
        return v && *v && strcmp(v, "0") != 0;
    }();
    return on;
}

} // namespace

int dprintf(const char* fmt, ...)
{
    if (!tracing())
        return 0;
    char text[1025]; // wsprintfA writes at most 1024 characters and the NUL
    va_list args;
    va_start(args, fmt);
    const int n = wvsprintfA(text, fmt, args);
    va_end(args);
    fputs(text, stderr);
    return n;
}

void OutputDBString_word(const char* s, unsigned short w)
{
    if (!tracing())
        return;
    char full[1025];
    wsprintfA(full, s, w);
    // The trace line is an 80-character buffer; longer text is cut.
    char text[80];
    strncpy(text, full, sizeof text - 1);
    text[sizeof text - 1] = '\0';
    fputs(text, stderr);
}
