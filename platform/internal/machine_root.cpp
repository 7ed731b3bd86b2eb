#include "internal/machine_root.h"

#include <cstdlib>
#include <mutex>
#include <sys/stat.h>

namespace kolm::platform {

namespace {

void make_dirs(const std::filesystem::path& p, unsigned mode)
{
    std::error_code ec;
    if (std::filesystem::is_directory(p, ec))
        return;
    if (p.has_parent_path() && p.parent_path() != p)
        make_dirs(p.parent_path(), 0755);
    // NOTE: mkdir, not create_directories, so the mode is set at creation
    // and a mailbox folder is never briefly readable by others.
    ::mkdir(p.c_str(), static_cast<mode_t>(mode));
}

} // namespace

std::filesystem::path machine_root()
{
    std::filesystem::path root;
    if (const char* env = std::getenv("KOLM_ROOT"); env && *env) {
        root = env;
    } else {
        const char* home = std::getenv("HOME");
        root = std::filesystem::path(home && *home ? home : "/tmp") / ".local/share" / KOLM_FOLDER;
    }
    // Every registry call and screen line asks for the root: it is made
    // (and looked at) once per root, not at each of them.
    static std::mutex lock;
    static std::filesystem::path made; // the last root found or made a folder
    {
        std::lock_guard guard(lock);
        if (root == made)
            return root;
    }
    make_dirs(root, 0700);
    std::error_code ec;
    if (std::filesystem::is_directory(root, ec)) {
        std::lock_guard guard(lock);
        made = root;
    }
    return root;
}

std::filesystem::path machine_dir(std::string_view name, unsigned mode)
{
    auto dir = machine_root() / std::filesystem::path(name);
    make_dirs(dir, mode);
    return dir;
}

} // namespace kolm::platform
