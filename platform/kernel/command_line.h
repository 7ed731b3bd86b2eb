// Command lines as WinExec takes them.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "kernel/result.h"

namespace kolm::platform {

// Splits a Windows command line into arguments: blanks separate, double
// quotes group, and backslashes are literal except before a quote
// (2n backslashes + quote: n backslashes and the quote groups; 2n + 1:
// n backslashes and a literal quote). Paths like C:\WINDOWS\x pass as
// they are.
std::vector<std::string> split_command_line(std::string_view line);

// Finds the program a command line names: a name with a folder in it is
// mapped (map_path) and used there; a bare name is looked up in the
// running executable's folder (without regard to case), then along PATH.
// "name.exe" also finds "name", and "name" also finds "name.exe".
// ERROR_FILE_NOT_FOUND, or ERROR_PATH_NOT_FOUND for a missing folder.
Result<std::filesystem::path> find_program(std::string_view name);

} // namespace kolm::platform
