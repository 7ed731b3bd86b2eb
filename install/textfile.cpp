// Files in the C runtime's text mode, as the installer's Windows build
// had them: "\n" is written as CR LF, and CR LF reads back as "\n". The
// path is a Windows path (mapped into the machine root) or a Linux one.
#include "install.h"

struct TEXTFILE {
    HANDLE handle;
    bool writing;
    char buf[512];
    DWORD pos, len; // reading: the unread bytes are buf[pos, len)
    bool eof;
};

namespace {

// The next byte as read from the file, or -1 at its end.
int rawGet(TEXTFILE* f)
{
    if (f->pos == f->len) {
        if (f->eof)
            return -1;
        DWORD got = 0;
        if (!ReadFile(f->handle, f->buf, sizeof f->buf, &got, nullptr) || got == 0) {
            f->eof = true;
            return -1;
        }
        f->pos = 0;
        f->len = got;
    }
    return static_cast<unsigned char>(f->buf[f->pos++]);
}

// The next character in text mode.
int textGet(TEXTFILE* f)
{
    const int c = rawGet(f);
    if (c != '\r')
        return c;
    const int next = rawGet(f);
    if (next == '\n')
        return '\n';
    if (next >= 0)
        --f->pos; // a lone CR stays; the byte after it is read again
    return c;
}

} // namespace

TEXTFILE* textOpen(const char* path, const char* mode)
{
    const bool writing = mode && mode[0] == 'w';
    HANDLE h = CreateFileA(path, writing ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ, nullptr,
                           writing ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return nullptr;
    auto* f = new TEXTFILE{};
    f->handle = h;
    f->writing = writing;
    return f;
}

char* textGets(char* buf, int size, TEXTFILE* f)
{
    if (!f || f->writing || size < 1)
        return nullptr;
    int n = 0;
    while (n < size - 1) {
        const int c = textGet(f);
        if (c < 0)
            break;
        buf[n++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    buf[n] = '\0';
    return n ? buf : nullptr;
}

int textPuts(const char* text, TEXTFILE* f)
{
    if (!f || !f->writing)
        return -1;
    for (const char* p = text; *p;) {
        const char* nl = std::strchr(p, '\n');
        const DWORD run = static_cast<DWORD>(nl ? nl - p : std::strlen(p));
        DWORD done = 0;
        if (run && (!WriteFile(f->handle, p, run, &done, nullptr) || done != run))
            return -1;
        if (!nl)
            break;
        if (!WriteFile(f->handle, "\r\n", 2, &done, nullptr) || done != 2)
            return -1;
        p = nl + 1;
    }
    return 0;
}

int textClose(TEXTFILE* f)
{
    if (!f)
        return -1;
    const BOOL closed = CloseHandle(f->handle);
    delete f;
    return closed ? 0 : -1;
}
