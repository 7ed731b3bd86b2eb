// WinHelpA: the help files the programs name are our HTML pages
// (docs/help), opened at the topic asked for.
//
// Each program hands over, with its resources, a table of the topics of the
// help files it uses: keywords (HELP_KEY) and context numbers (HELP_CONTEXT)
// to a page and an anchor (RegisterHelpFile).
// Every request that opens a topic writes a "help" line to the screen log,
//   PROGRAM help "FILE" "TOPIC" page=URL
// so that a user without a desktop, and a test, see which page was meant;
// with a desktop (DISPLAY or WAYLAND_DISPLAY set, and xdg-open on the
// PATH) the page is also opened in the user's browser. KOLM_HELP_OPENER
// names another program to open pages with.
#include "dialog/dialog_area.h"
#include "internal/system.h"
#include "internal/nocase.h"
#include "dialog/screen_log.h"
#include "internal/machine_root.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace kolm::platform {

namespace {

namespace fs = std::filesystem;

struct HelpTopic {
    UINT command;        // HELP_KEY or HELP_CONTEXT
    std::string key;     // the keyword (HELP_KEY), compared case-insensitively
    DWORD context;       // the context number (HELP_CONTEXT)
    std::string page;
};

struct HelpFile {
    std::string name; // as the programs name it, without a folder
    std::string contents;
    std::vector<HelpTopic> topics;
};

// The help files this program registered with its resources. Written at
// start-up, read by whichever thread asks for help.
struct HelpRegistry {
    std::mutex lock;
    std::vector<HelpFile> files;
};

HelpRegistry& help_registry()
{
    static HelpRegistry registry;
    return registry;
}

// The file's own name, whatever folder the program put before it.
std::string_view base_name(std::string_view path)
{
    const size_t cut = path.find_last_of("\\/:");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

// Where the pages are: KOLM_HELP_DIR, a "help" folder beside the program,
// the shared data folder of an installed system, or the source tree the
// layer was built from.
std::optional<fs::path> help_dir()
{
    std::vector<fs::path> candidates;
    if (const char* env = std::getenv("KOLM_HELP_DIR"); env && *env)
        candidates.emplace_back(env);
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        candidates.push_back(exe.parent_path() / "help");
        candidates.push_back(exe.parent_path().parent_path() / "share" / KOLM_FOLDER / "help");
    }
#ifdef KOLM_HELP_SOURCE_DIR
    candidates.emplace_back(KOLM_HELP_SOURCE_DIR);
#endif
    for (const auto& c : candidates)
        if (fs::is_regular_file(c / "index.html", ec))
            return c;
    return std::nullopt;
}

// A file: URL with the bytes a URL cannot carry as they are (spaces among
// them, which a screen log field cannot hold either) percent-encoded.
std::string file_url(const fs::path& dir, std::string_view page)
{
    const std::string path = (dir / std::string(page.substr(0, page.find('#')))).string();
    std::string url = "file://";
    static const char hex[] = "0123456789ABCDEF";
    for (unsigned char c : path) {
        if (std::isalnum(c) || std::string_view("/-._~").find(static_cast<char>(c)) != std::string_view::npos) {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    if (const size_t hash = page.find('#'); hash != std::string_view::npos)
        url += page.substr(hash);
    return url;
}

bool on_path(const std::string& program)
{
    if (program.find('/') != std::string::npos)
        return ::access(program.c_str(), X_OK) == 0;
    const char* path = std::getenv("PATH");
    std::string_view rest = path ? path : "";
    while (!rest.empty()) {
        const size_t colon = rest.find(':');
        const std::string dir(rest.substr(0, colon));
        if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0)
            return true;
        rest = colon == std::string_view::npos ? std::string_view {} : rest.substr(colon + 1);
    }
    return false;
}

std::optional<std::string> desktop_opener()
{
    if (const char* opener = std::getenv("KOLM_HELP_OPENER"); opener && *opener)
        return on_path(opener) ? std::optional<std::string>(opener) : std::nullopt;
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((!x || !*x) && (!wayland || !*wayland))
        return std::nullopt;
    return on_path("xdg-open") ? std::optional<std::string>("xdg-open") : std::nullopt;
}

// Starts the opener on the page and reaps it when it ends, so that the
// program neither waits for the browser nor leaves a zombie behind.
bool open_on_desktop(const std::string& opener, const std::string& url)
{
    std::vector<char*> argv { const_cast<char*>(opener.c_str()), const_cast<char*>(url.c_str()), nullptr };
    pid_t pid = -1;
    if (::posix_spawnp(&pid, opener.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    std::thread([pid] {
        int status;
        (void)sys::retry_eintr([&] { return ::waitpid(pid, &status, 0); });
    }).detach();
    return true;
}

void log_help(std::string_view file, const std::string& topic, const std::string& url, bool opened)
{
    const std::string line = format_screen_line(screen_program_name(), "help", file, topic,
                                                { { "page", url.empty() ? "-" : url },
                                                  { "opened", opened ? "yes" : "no" } });
    append_screen_line(line);
    (void)sys::retry_eintr([&] { return ::write(STDERR_FILENO, line.data(), line.size()); });
}

} // namespace

} // namespace kolm::platform

void RegisterHelpFile(const char* fileName, const char* contentsPage, const HELPTOPIC_DATA* topics, int count)
{
    using namespace kolm::platform;
    if (!fileName || !contentsPage || count < 0 || (count > 0 && !topics))
        return;
    HelpFile file { std::string(base_name(fileName)), contentsPage, {} };
    for (int i = 0; i < count; ++i)
        file.topics.push_back({ topics[i].command, topics[i].key ? topics[i].key : "", topics[i].context,
                                topics[i].page ? topics[i].page : file.contents });
    auto& registry = help_registry();
    std::lock_guard<std::mutex> hold(registry.lock);
    for (auto& f : registry.files)
        if (equal_nocase(f.name, file.name)) {
            f = std::move(file);
            return;
        }
    registry.files.push_back(std::move(file));
}

BOOL WinHelpA(HWND, LPCSTR lpszHelp, UINT uCommand, ULONG_PTR dwData)
{
    using namespace kolm::platform;
    if (!lpszHelp) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Nothing is kept open between requests, so there is nothing to close.
    if (uCommand == HELP_QUIT)
        return TRUE;

    const std::string_view file = base_name(lpszHelp);
    std::string topic;
    std::optional<std::string> page;
    std::optional<HelpFile> help;
    {
        auto& registry = help_registry();
        std::lock_guard<std::mutex> hold(registry.lock);
        for (const auto& f : registry.files)
            if (equal_nocase(f.name, file))
                help = f;
    }

    switch (uCommand) {
    case HELP_CONTENTS:
    case HELP_FINDER:
        topic = "Contents";
        if (help)
            page = help->contents;
        break;
    case HELP_KEY:
    case HELP_PARTIALKEY: {
        const char* key = reinterpret_cast<const char*>(dwData);
        if (!key) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        topic = key;
        for (const auto& t : help ? help->topics : std::vector<HelpTopic> {})
            if (t.command == HELP_KEY && equal_nocase(t.key, topic))
                page = t.page;
        break;
    }
    case HELP_CONTEXT:
        topic = "context " + std::to_string(static_cast<DWORD>(dwData));
        for (const auto& t : help ? help->topics : std::vector<HelpTopic> {})
            if (t.command == HELP_CONTEXT && t.context == static_cast<DWORD>(dwData))
                page = t.page;
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }

    // A topic the file does not have shows its contents, as a help viewer
    // falls back to the index; the line still names the topic asked for.
    if (help && !page)
        page = help->contents;
    const auto dir = help_dir();
    if (!page || !dir) {
        // The user is told which topic was asked for even when there is no
        // page to show; the program learns that nothing opened.
        log_help(file, topic, {}, false);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    const std::string url = file_url(*dir, *page);
    const auto opener = desktop_opener();
    const bool opened = opener && open_on_desktop(*opener, url);
    log_help(file, topic, url, opened);
    return TRUE;
}
