#include "dialog/screen_log_reader.h"
#include "internal/system.h"

#include "dialog/screen_log.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kolm::platform {

namespace {

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// A quoted field at `pos`; moves `pos` past it.
std::optional<std::string> quoted(std::string_view line, size_t& pos)
{
    if (pos >= line.size() || line[pos] != '"')
        return std::nullopt;
    std::string out;
    for (size_t i = pos + 1; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            pos = i + 1;
            return out;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= line.size())
            return std::nullopt;
        switch (line[i]) {
        case '\\':
            out += '\\';
            break;
        case '"':
            out += '"';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'x': {
            if (i + 2 >= line.size())
                return std::nullopt;
            const int hi = hex_value(line[i + 1]), lo = hex_value(line[i + 2]);
            if (hi < 0 || lo < 0)
                return std::nullopt;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default:
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<std::string> word(std::string_view line, size_t& pos)
{
    const size_t end = line.find(' ', pos);
    const size_t stop = end == std::string_view::npos ? line.size() : end;
    if (stop == pos)
        return std::nullopt;
    std::string w(line.substr(pos, stop - pos));
    pos = stop;
    return w;
}

bool space(std::string_view line, size_t& pos)
{
    if (pos >= line.size() || line[pos] != ' ')
        return false;
    ++pos;
    return true;
}

std::filesystem::path resolve(const std::filesystem::path& path)
{
    return path.empty() ? screen_log_path() : path;
}

int open_read_only(const std::filesystem::path& path)
{
    const int fd = sys::retry_eintr([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
    return fd;
}

} // namespace

std::optional<std::string> ScreenLine::field(std::string_view name) const
{
    for (const auto& [n, v] : fields)
        if (n == name)
            return v;
    return std::nullopt;
}

std::optional<ScreenLine> parse_screen_line(std::string_view line)
{
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    ScreenLine out;
    out.raw = std::string(line);
    size_t pos = 0;
    auto program = word(line, pos);
    if (!program || !space(line, pos))
        return std::nullopt;
    auto kind = word(line, pos);
    if (!kind || !space(line, pos))
        return std::nullopt;
    auto caption = quoted(line, pos);
    if (!caption || !space(line, pos))
        return std::nullopt;
    auto text = quoted(line, pos);
    if (!text)
        return std::nullopt;
    while (pos < line.size()) {
        if (!space(line, pos))
            return std::nullopt;
        auto f = word(line, pos);
        const size_t eq = f ? f->find('=') : std::string::npos;
        if (!f || eq == std::string::npos || eq == 0)
            return std::nullopt;
        out.fields.emplace_back(f->substr(0, eq), f->substr(eq + 1));
    }
    out.program = std::move(*program);
    out.kind = std::move(*kind);
    out.caption = std::move(*caption);
    out.text = std::move(*text);
    return out;
}

ScreenLogReader::ScreenLogReader(std::filesystem::path path, bool from_end)
    : m_path(resolve(path))
{
    struct stat st {};
    if (from_end && ::stat(m_path.c_str(), &st) == 0) {
        m_offset = static_cast<uint64_t>(st.st_size);
        m_dev = st.st_dev;
        m_ino = st.st_ino;
    }
}

void ScreenLogReader::read_from(int fd)
{
    char buf[8192];
    for (;;) {
        const ssize_t n = sys::retry_eintr([&] { return ::pread(fd, buf, sizeof buf, static_cast<off_t>(m_offset)); });
        if (n <= 0)
            break;
        m_offset += static_cast<uint64_t>(n);
        m_partial.append(buf, static_cast<size_t>(n));
    }
}

std::vector<ScreenLine> ScreenLogReader::read_new()
{
    std::vector<ScreenLine> out = std::move(m_pending);
    m_pending.clear();
    const int fd = open_read_only(m_path);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0)
            ::close(fd);
        return out;
    }
    if (m_ino != 0 && (st.st_dev != m_dev || st.st_ino != m_ino)) {
        // The log was moved aside since the last read: the rest of it is
        // in screen.log.1 (if it has not been replaced since), and the new
        // log is read from its start.
        const int old = open_read_only(rotated_screen_log_path(m_path));
        struct stat ost {};
        if (old >= 0 && ::fstat(old, &ost) == 0 && ost.st_dev == m_dev && ost.st_ino == m_ino)
            read_from(old);
        if (old >= 0)
            ::close(old);
        m_offset = 0;
    }
    m_dev = st.st_dev;
    m_ino = st.st_ino;
    read_from(fd);
    ::close(fd);
    size_t start = 0;
    for (size_t nl; (nl = m_partial.find('\n', start)) != std::string::npos; start = nl + 1) {
        const std::string_view line(m_partial.data() + start, nl - start);
        if (auto parsed = parse_screen_line(line))
            out.push_back(std::move(*parsed));
        else
            out.push_back(ScreenLine { {}, {}, {}, {}, {}, std::string(line) }); // kept raw, so nothing is lost
    }
    m_partial.erase(0, start);
    return out;
}

std::optional<ScreenLine> ScreenLogReader::wait_for(const std::function<bool(const ScreenLine&)>& match,
                                                    std::chrono::milliseconds bound)
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    // Watch before reading, so a line written in between still wakes us.
    int ifd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (ifd >= 0
        && ::inotify_add_watch(ifd, m_path.parent_path().c_str(), IN_MODIFY | IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE) < 0) {
        ::close(ifd);
        ifd = -1;
    }
    // Without inotify (no folder yet, no watches left) the log is looked at
    // again every few milliseconds instead.
    constexpr int recheck_ms = 5;
    std::optional<ScreenLine> found;
    for (;;) {
        auto lines = read_new();
        for (size_t i = 0; i < lines.size(); ++i) {
            if (match(lines[i])) {
                found = std::move(lines[i]);
                m_pending.assign(std::make_move_iterator(lines.begin() + static_cast<std::ptrdiff_t>(i) + 1),
                                 std::make_move_iterator(lines.end()));
                break;
            }
        }
        if (found)
            break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        if (ifd < 0) {
            ::poll(nullptr, 0, static_cast<int>(std::min<long long>(left.count(), recheck_ms)));
            continue;
        }
        pollfd p { ifd, POLLIN, 0 };
        const int r = ::poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno != EINTR)
            break;
        char events[4096];
        while (::read(ifd, events, sizeof events) > 0) {
        }
    }
    if (ifd >= 0)
        ::close(ifd);
    return found;
}

std::optional<ScreenLine> ScreenLogReader::wait_for(std::string_view needle, std::chrono::milliseconds bound)
{
    const std::string n(needle);
    return wait_for([&](const ScreenLine& l) { return l.raw.find(n) != std::string::npos; }, bound);
}

std::vector<ScreenLine> read_screen_log(const std::filesystem::path& path)
{
    std::vector<ScreenLine> out = ScreenLogReader(rotated_screen_log_path(resolve(path))).read_new();
    auto current = ScreenLogReader(path).read_new();
    out.insert(out.end(), std::make_move_iterator(current.begin()), std::make_move_iterator(current.end()));
    return out;
}

} // namespace kolm::platform
