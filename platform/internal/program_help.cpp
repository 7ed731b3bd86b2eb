#include "kolm/program_help.h"

#include "kolm_version.h"

#include <cstdio>
#include <cstring>

namespace kolm {

void print_help(const ProgramHelp& program)
{
    std::fprintf(stdout, "usage: %s\n\n%s", program.usage, program.text);
    std::fflush(stdout);
}

void print_usage(const ProgramHelp& program)
{
    std::fprintf(stderr, "usage: %s\n", program.usage);
}

void print_version(const ProgramHelp& program)
{
    std::fprintf(stdout, "%s (%s) %s\n", program.name, program.product, KOLM_VERSION);
    std::fflush(stdout);
}

int unknown_option(const ProgramHelp& program, std::string_view option)
{
    std::fprintf(stderr, "%s: unknown option %.*s\n", program.name, static_cast<int>(option.size()),
                 option.data());
    print_usage(program);
    return 2;
}

std::optional<int> answer_help_or_version(int argc, char** argv, const ProgramHelp& program)
{
    if (argc != 2)
        return std::nullopt;
    if (std::strcmp(argv[1], "--help") == 0) {
        print_help(program);
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        print_version(program);
        return 0;
    }
    return std::nullopt;
}

std::optional<int> linux_entry_options(int argc, char** argv, const ProgramHelp& program,
                                       bool (*is_theirs)(const char* arg))
{
    if (auto answered = answer_help_or_version(argc, argv, program))
        return answered;
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--", 2) == 0 && !(is_theirs && is_theirs(argv[i])))
            return unknown_option(program, argv[i]);
    return std::nullopt;
}

} // namespace kolm
