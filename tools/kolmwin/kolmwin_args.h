// Command-line parsing for kolmwin, kept apart so it can be tested.
#pragma once

#include "kolm/program_help.h"
#include "win32.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kolmwin {

// A number in decimal (optionally negative) or 0x hex.
std::optional<int64_t> parse_number(std::string_view s);
// A window handle: a number that fits in 32 bits, not 0.
std::optional<HWND> parse_hwnd(std::string_view s);
// A message number, a standard name (WM_CLOSE) or NAME+N (WM_USER+151).
std::optional<UINT> parse_message(std::string_view s);
// "-" and "" stand for NULL (any class, any title).
std::optional<std::string> optional_name(std::string_view s);

// kolmwin's --help page.
extern const kolm::ProgramHelp help;
// An argument beginning with "--" that the verb does not take: says so
// with the usage and gives the exit status, 2.
int unknown_option(std::string_view option);

} // namespace kolmwin
