#include "dialog/screen_log.h"
#include "internal/system.h"

#include "internal/machine_root.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kolm::platform {

namespace {

std::string token(std::string_view value)
{
    std::string out(value);
    for (char& c : out)
        if (c == ' ' || c == '\n' || c == '\r' || c == '\t')
            c = '_';
    return out.empty() ? std::string("-") : out;
}

} // namespace

std::string escape_screen_text(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 8);
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char buf[5];
                std::snprintf(buf, sizeof buf, "\\x%02X", c);
                out += buf;
            } else {
                out += ch;
            }
        }
    }
    return out;
}

std::string format_screen_line(std::string_view program, std::string_view kind, std::string_view caption,
                               std::string_view text, const ScreenFields& fields)
{
    std::string line = token(program);
    line += ' ';
    line += token(kind);
    line += " \"";
    line += escape_screen_text(caption);
    line += "\" \"";
    line += escape_screen_text(text);
    line += '"';
    for (const auto& [name, value] : fields) {
        line += ' ';
        line += token(name);
        line += '=';
        line += token(value);
    }
    line += '\n';
    return line;
}

std::string screen_program_name()
{
    return token(program_invocation_short_name);
}

std::filesystem::path screen_log_path()
{
    return machine_dir("run") / "screen.log";
}

std::filesystem::path rotated_screen_log_path(const std::filesystem::path& log)
{
    auto rotated = log;
    rotated += ".1";
    return rotated;
}

namespace {

void lock(int fd, int how)
{
    (void)sys::retry_eintr([&] { return ::flock(fd, how); });
}

// Whether `fd` is still the file at `path` (no rotation came in between).
bool still_the_log(int fd, const std::filesystem::path& path, struct stat* st)
{
    struct stat at_path {};
    return ::fstat(fd, st) == 0 && ::stat(path.c_str(), &at_path) == 0 && at_path.st_dev == st->st_dev
        && at_path.st_ino == st->st_ino;
}

// The log opened for appending, under a shared lock and certain to be the
// current one: a rotation (under the exclusive lock) cannot come between
// this and the write, so nothing is ever appended to a rotated log.
int open_current_log(const std::filesystem::path& path)
{
    for (int tries = 0; tries < 8; ++tries) {
        const int fd = sys::retry_eintr([&] { return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600); });
        if (fd < 0)
            return -1;
        lock(fd, LOCK_SH);
        struct stat st {};
        if (still_the_log(fd, path, &st))
            return fd;
        ::close(fd); // rotated meanwhile: the new one is meant
    }
    return -1;
}

// Moves a full log aside as screen.log.1 (replacing the one before) in one
// rename; readers follow it (ScreenLogReader). Of several writers that find
// the log full, the first rotates and the others find it done.
void rotate_if_full(int fd, const std::filesystem::path& path)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || static_cast<uint64_t>(st.st_size) < kScreenLogLimit)
        return;
    lock(fd, LOCK_EX);
    if (still_the_log(fd, path, &st) && static_cast<uint64_t>(st.st_size) >= kScreenLogLimit)
        ::rename(path.c_str(), rotated_screen_log_path(path).c_str());
}

} // namespace

bool append_screen_line(const std::string& line)
{
    const auto path = screen_log_path();
    const int fd = open_current_log(path);
    if (fd < 0)
        return false;
    const ssize_t n = sys::retry_eintr([&] { return ::write(fd, line.data(), line.size()); });
    rotate_if_full(fd, path);
    ::close(fd);
    // NOTE: a short write (a full disk) is not completed with a second
    // write, which another process's line could come between.
    return n == static_cast<ssize_t>(line.size());
}

} // namespace kolm::platform
