#include "dialog/screen_log.h"

#include "internal/machine_root.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
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

bool append_screen_line(const std::string& line)
{
    const auto path = screen_log_path();
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    ssize_t n;
    do {
        n = ::write(fd, line.data(), line.size());
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    // NOTE: a short write (a full disk) is not completed with a second
    // write, which another process's line could come between.
    return n == static_cast<ssize_t>(line.size());
}

} // namespace kolm::platform
