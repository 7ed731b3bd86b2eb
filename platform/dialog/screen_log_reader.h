// Reading the screen log (see screen_log.h for its format): for tests,
// automation and operators that wait for what a program shows.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kolm::platform {

struct ScreenLine {
    std::string program;
    std::string kind;
    std::string caption; // unescaped
    std::string text;    // unescaped
    std::vector<std::pair<std::string, std::string>> fields;
    std::string raw;     // the line as written, without its newline

    std::optional<std::string> field(std::string_view name) const;
};

// nullopt for a line that does not follow the format.
std::optional<ScreenLine> parse_screen_line(std::string_view line);

// Follows the log from its start (or from its end at construction, with
// `from_end`), one whole line at a time, across its rotations: when the log
// has been moved aside, the rest of it is read from screen.log.1 before the
// new log. (A log rotated twice between two reads loses the lines of the
// one in between.)
class ScreenLogReader {
public:
    explicit ScreenLogReader(std::filesystem::path path = {}, bool from_end = false);

    // Lines completed since the last read.
    std::vector<ScreenLine> read_new();

    // Reads on until a line matches, waiting for the log to grow (inotify,
    // no polling) up to the bound; the lines before the match are passed
    // over. nullopt at the bound.
    std::optional<ScreenLine> wait_for(const std::function<bool(const ScreenLine&)>& match,
                                       std::chrono::milliseconds bound = std::chrono::seconds(10));
    // A line whose raw text contains `needle`.
    std::optional<ScreenLine> wait_for(std::string_view needle,
                                       std::chrono::milliseconds bound = std::chrono::seconds(10));

private:
    // Reads `fd` from m_offset on into m_partial.
    void read_from(int fd);

    std::filesystem::path m_path;
    uint64_t m_offset = 0;
    uint64_t m_dev = 0, m_ino = 0; // the log m_offset is in; 0: none read yet
    std::string m_partial;
    std::vector<ScreenLine> m_pending; // read but not yet handed out by wait_for
};

// Every line the log still keeps: screen.log.1, then screen.log.
std::vector<ScreenLine> read_screen_log(const std::filesystem::path& path = {});

} // namespace kolm::platform
