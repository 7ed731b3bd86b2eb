// The environment, the current directory and debug output.
#include <cerrno>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "internal/machine_root.h"
#include "internal/system.h"
#include "internal/nocase.h"
#include "kernel/string_out.h"
#include "kernel/win32_error.h"
#include "win32.h"

extern char** environ;

namespace kolm::platform {

namespace {

// Windows environment names are case-insensitive; an exact match wins
// when the POSIX environment holds several spellings.
const char* find_variable(const char* name)
{
    if (const char* exact = std::getenv(name))
        return exact;
    const size_t len = std::strlen(name);
    for (char** e = environ; e && *e; ++e) {
        const char* entry = *e;
        size_t i = 0;
        while (i < len && entry[i] && entry[i] != '=' && ascii_lower(entry[i]) == ascii_lower(name[i]))
            ++i;
        if (i == len && entry[i] == '=')
            return entry + len + 1;
    }
    return nullptr;
}

bool is_windir(const char* name)
{
    static const char windir[] = "WINDIR";
    for (size_t i = 0; i < sizeof windir; ++i) {
        if (ascii_upper(name[i]) != windir[i])
            return false;
    }
    return true;
}

// Windows always sets WINDIR, and its folder always exists. A Linux
// environment without one gets drive C:'s WINDOWS folder, made on first
// use; a WINDIR that is set, even to nothing, is passed as it is.
const char* default_variable(const char* name)
{
    if (!is_windir(name))
        return nullptr;
    machine_dir("drive_c/WINDOWS", 0755);
    return "C:\\WINDOWS";
}

bool debug_output_on()
{
    const char* v = std::getenv("KOLM_DEBUG");
    return v && *v && std::string_view(v) != "0";
}

void write_all(int fd, const char* p, size_t len)
{
    while (len) {
        const ssize_t n = sys::retry_eintr([&] { return ::write(fd, p, len); });
        if (n <= 0)
            return;
        p += n;
        len -= static_cast<size_t>(n);
    }
}

} // namespace

} // namespace kolm::platform

using namespace kolm::platform;

DWORD GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize)
{
    if (!lpName || !*lpName || std::strchr(lpName, '=')) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    const char* value = find_variable(lpName);
    if (!value)
        value = default_variable(lpName);
    if (!value) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    // An empty value also returns 0; the cleared error tells it apart.
    SetLastError(ERROR_SUCCESS);
    return copy_out(value, lpBuffer, nSize);
}

DWORD GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer)
{
    std::string cwd(256, '\0');
    while (!::getcwd(cwd.data(), cwd.size())) {
        if (errno != ERANGE || cwd.size() > (1u << 20)) {
            SetLastError(win32_error_from_errno(errno));
            return 0;
        }
        cwd.resize(cwd.size() * 2);
    }
    cwd.resize(std::strlen(cwd.c_str()));
    return copy_out(cwd, lpBuffer, nBufferLength);
}

void OutputDebugStringA(LPCSTR lpOutputString)
{
    if (!lpOutputString || !debug_output_on())
        return;
    write_all(2, lpOutputString, std::strlen(lpOutputString));
}
