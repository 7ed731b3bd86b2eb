// The runtime's tests run one runtime per process, as the program does: the
// runtime's service thread and its globals last until its process ends
// (docs/threads.md). Asked for one test (as CTest asks), this binary runs it
// here; asked for more, it runs itself once per test, each in a process of
// its own, and reports them as one run. Either way it ends the way the
// program ends, through ExitProcess.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "child_process.h"
#include "win32.h"

namespace {

constexpr char kChildVariable[] = "KOLM_RUNTIME_TEST_CHILD";

// A filter that names exactly one test: "Suite.Name", nothing to match.
bool names_one_test(const std::string& filter)
{
    return filter.find_first_of("*?:-") == std::string::npos && filter.find('.') != std::string::npos;
}

// "Suite.Name" of every test the filter selects, as gtest itself lists them.
std::vector<std::string> selected_tests(const std::string& filter)
{
    std::vector<std::string> names;
    kolm::test::ChildProcess lister("/proc/self/exe", {"--gtest_list_tests", "--gtest_filter=" + filter},
                                    {std::string(kChildVariable) + "=1"});
    std::string suite;
    while (auto line = lister.read_line(std::chrono::seconds(60))) {
        if (line->empty())
            continue;
        if (line->front() != ' ') {
            suite = line->substr(0, line->find(' '));
            continue;
        }
        const size_t start = line->find_first_not_of(' ');
        names.push_back(suite + line->substr(start, line->find(' ', start) - start));
    }
    if (lister.wait_exit(std::chrono::seconds(60)) != 0)
        names.clear();
    return names;
}

// Runs one test in a process of its own, passing its output on; true when
// it passed.
bool run_in_own_process(const std::string& name)
{
    kolm::test::ChildProcess child("/proc/self/exe", {"--gtest_filter=" + name},
                                   {std::string(kChildVariable) + "=1"});
    if (!child.started())
        return false;
    // Bounded generously: CTest's own time-out is the real limit.
    while (auto line = child.read_line(std::chrono::minutes(10)))
        std::printf("%s\n", line->c_str());
    std::fflush(stdout);
    return child.wait_exit(std::chrono::minutes(10)) == 0;
}

int run_each_in_own_process(const std::string& filter)
{
    const std::vector<std::string> names = selected_tests(filter);
    if (names.empty()) {
        std::fprintf(stderr, "runtime_tests: no test selected by '%s'\n", filter.c_str());
        return 1;
    }
    std::vector<std::string> failed;
    for (const auto& name : names)
        if (!run_in_own_process(name))
            failed.push_back(name);
    std::printf("[==========] %zu tests, each in a process of its own; %zu failed\n", names.size(),
                failed.size());
    for (const auto& name : failed)
        std::printf("[  FAILED  ] %s\n", name.c_str());
    return failed.empty() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    const std::string filter = GTEST_FLAG_GET(filter);
    int rc;
    if (std::getenv(kChildVariable) || GTEST_FLAG_GET(list_tests) || names_one_test(filter))
        rc = RUN_ALL_TESTS();
    else
        rc = run_each_in_own_process(filter);
    ExitProcess(static_cast<UINT>(rc));
}
