// WinExec: starting another program, detached.
#include <cerrno>
#include <csignal>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "kernel/command_line.h"
#include "internal/system.h"
#include "internal/nocase.h"
#include "kolm/path_map.h"
#include "kernel/win32_error.h"
#include "win32.h"

extern char** environ;

namespace kolm::platform {

namespace {

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

bool is_program(const std::filesystem::path& p)
{
    struct stat st{};
    return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
}

// The file names a program name may have here: as written, and with
// ".exe" taken off (our programs have none) or put on.
std::vector<std::string> spellings(std::string_view name)
{
    std::vector<std::string> names{std::string(name)};
    if (name.size() > 4 && equal_nocase(name.substr(name.size() - 4), ".exe"))
        names.emplace_back(name.substr(0, name.size() - 4));
    else
        names.push_back(std::string(name) + ".exe");
    return names;
}

std::filesystem::path find_in(const std::filesystem::path& dir, const std::vector<std::string>& names, bool fold_case)
{
    for (const auto& n : names) {
        if (is_program(dir / n))
            return dir / n;
    }
    if (!fold_case)
        return {};
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(dir, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        const std::string file = it->path().filename().string();
        for (const auto& n : names) {
            if (equal_nocase(file, n) && is_program(it->path()))
                return it->path();
        }
    }
    return {};
}

std::filesystem::path own_folder()
{
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : self.parent_path();
}

} // namespace

std::vector<std::string> split_command_line(std::string_view line)
{
    std::vector<std::string> args;
    size_t i = 0;
    while (true) {
        while (i < line.size() && is_blank(line[i]))
            ++i;
        if (i >= line.size())
            break;
        std::string arg;
        bool quoted = false;
        while (i < line.size() && (quoted || !is_blank(line[i]))) {
            if (line[i] == '\\') {
                size_t n = 0;
                while (i < line.size() && line[i] == '\\') {
                    ++n;
                    ++i;
                }
                if (i < line.size() && line[i] == '"') {
                    arg.append(n / 2, '\\');
                    if (n % 2) {
                        arg += '"';
                        ++i;
                    }
                } else {
                    arg.append(n, '\\');
                }
            } else if (line[i] == '"') {
                quoted = !quoted;
                ++i;
            } else {
                arg += line[i++];
            }
        }
        args.push_back(std::move(arg));
    }
    return args;
}

Result<std::filesystem::path> find_program(std::string_view name)
{
    if (name.empty())
        return Win32Error{ERROR_FILE_NOT_FOUND};
    const auto names = spellings(name);
    const bool has_folder = name.find_first_of("\\/") != std::string_view::npos
                            || (name.size() >= 2 && name[1] == ':');
    if (has_folder) {
        const auto mapped = map_path(std::string(name).c_str());
        if (mapped.empty())
            return Win32Error{ERROR_PATH_NOT_FOUND};
        const auto dir = mapped.parent_path();
        std::error_code ec;
        if (!dir.empty() && !std::filesystem::is_directory(dir, ec))
            return Win32Error{ERROR_PATH_NOT_FOUND};
        for (const auto& n : spellings(mapped.filename().string())) {
            if (is_program(dir / n))
                return dir / n;
        }
        return Win32Error{ERROR_FILE_NOT_FOUND};
    }
    if (auto own = own_folder(); !own.empty()) {
        if (auto found = find_in(own, names, true); !found.empty())
            return found;
    }
    const char* path_var = std::getenv("PATH");
    std::string_view path = path_var ? path_var : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        const size_t colon = path.find(':');
        std::string_view dir = path.substr(0, colon);
        if (auto found = find_in(dir.empty() ? "." : std::filesystem::path(dir), names, false); !found.empty())
            return found;
        if (colon == std::string_view::npos)
            break;
        path.remove_prefix(colon + 1);
    }
    return Win32Error{ERROR_FILE_NOT_FOUND};
}

namespace {

// Starts the program in a session of its own, with default signal
// handling and only the standard descriptors, and collects its exit status when it ends so it never lingers
// as a zombie. Returns the errno of a failed start.
int spawn_detached(const std::filesystem::path& program, const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawnattr_t attr;
    ::posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGCHLD);
    ::posix_spawnattr_setsigmask(&attr, &none);
    ::posix_spawnattr_setsigdefault(&attr, &defaults);
    ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    // Like WinExec, which passes no handles: the program gets standard
    // input, output and error, and none of this process's sockets or files.
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attr);
    if (rc != 0)
        return rc;
    try {
        std::thread([pid] {
            int status;
            (void)sys::retry_eintr([&] { return ::waitpid(pid, &status, 0); });
        }).detach();
    } catch (const std::system_error&) {
        // NOTE: without a thread to collect it, the child stays a zombie
        // until this process ends; it has started all the same.
    }
    return 0;
}

} // namespace

} // namespace kolm::platform

using namespace kolm::platform;

UINT WinExec(LPCSTR lpCmdLine, UINT)
{
    const auto args = split_command_line(lpCmdLine ? lpCmdLine : "");
    if (args.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return ERROR_FILE_NOT_FOUND;
    }
    auto program = find_program(args[0]);
    if (!program) {
        SetLastError(program.error());
        return program.error();
    }
    const int rc = spawn_detached(*program, args);
    if (rc != 0) {
        // WinExec answers 0 for "out of resources"; its other failures
        // are the error codes themselves, all below 32.
        const DWORD error = rc == ENOEXEC ? ERROR_BAD_FORMAT : rc == ENOENT ? ERROR_FILE_NOT_FOUND : 0;
        SetLastError(error ? error : win32_error_from_errno(rc));
        return error;
    }
    // Any value above 31 means the program started.
    return 33;
}
