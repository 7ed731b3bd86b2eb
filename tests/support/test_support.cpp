#include "test_support.h"

#include <cstdio>
#include <thread>
#include <sys/wait.h>

namespace kolm::test {

bool wait_until(const std::function<bool()>& pred, std::chrono::milliseconds bound)
{
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::filesystem::path bin_path(const std::string& name)
{
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return self.parent_path() / name;
}

CommandResult run_command(const std::string& cmdline)
{
    CommandResult r;
    FILE* p = ::popen(cmdline.c_str(), "r");
    if (!p)
        return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        r.out.append(buf, n);
    int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

} // namespace kolm::test
