#include "test_support.h"

#include "child_process.h"

#include <thread>

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
    RunResult r = run_program("/bin/sh", { "-c", cmdline }, ChildOptions { .stdin_from = StdinFrom::Inherit },
                              std::chrono::minutes(2));
    return CommandResult { r.status, std::move(r.out) };
}

} // namespace kolm::test
