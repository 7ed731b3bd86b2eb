// What every program answers on Linux before it does anything else: its
// --help page and --version, and a usage line for an option it does not
// know. None of it touches the machine root, so a user can ask a program
// about itself on any account, whether a root exists or not.
#pragma once

#include <optional>
#include <string_view>

namespace kolm {

struct ProgramHelp {
    const char* name;    // as installed and in the manual, e.g. "kolm32"
    const char* usage;   // the synopsis after "usage: "; further forms on lines of their own
    const char* text;    // the rest of the --help page: what it does, environment, files, exit status
    const char* product; // what --version names in parentheses after the program
};

// The --help page on standard output.
void print_help(const ProgramHelp& program);
// "usage: SYNOPSIS" on standard error.
void print_usage(const ProgramHelp& program);
// "NAME (PRODUCT) VERSION" on standard output.
void print_version(const ProgramHelp& program);
// "NAME: unknown option OPTION" and the usage on standard error; returns
// the exit status for it, 2.
int unknown_option(const ProgramHelp& program, std::string_view option);

// --help or --version as the only argument: answered, and the exit status
// (0) returned. Anything else is left to the program.
std::optional<int> answer_help_or_version(int argc, char** argv, const ProgramHelp& program);

// For the Windows programs, whose command line is otherwise their own:
// --help or --version as the only argument is answered; an argument that
// begins with "--" and that `is_theirs` does not claim (none is, without
// it) is an unknown option. Nothing when the program is to run.
std::optional<int> linux_entry_options(int argc, char** argv, const ProgramHelp& program,
                                       bool (*is_theirs)(const char* arg) = nullptr);

} // namespace kolm
