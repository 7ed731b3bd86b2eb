// What the setup program stand-in (second) puts on a machine and the
// uninstaller stand-in (remove) takes off again: the product's files, its
// configuration key, and the uninstall log that records what was made.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kolmids.h"

namespace kolm::product {

// The programs the setup program installs, found beside it; `required`
// ones must be there.
struct ProductProgram {
    const char* name;
    bool required;
};
const std::vector<ProductProgram>& product_programs();

inline constexpr char k_help_folder[] = "help";
inline constexpr char k_config_key[] = KOLM_CONFIG_KEY;
inline constexpr char k_uninstall_key[] = KOLM_UNINSTALL_KEY;
// In the destination folder: one line per thing made, "folder PATH" or
// "file PATH" (Windows paths), in the order they were made.
inline constexpr char k_uninstall_log[] = "uninst.log";

// A Windows or Linux path as this machine has it (drive letters mapped
// into the machine root).
std::filesystem::path local_path(std::string_view path);

// The folder that holds the running program.
std::filesystem::path own_folder();

// Joins a Windows folder path and a name with one backslash.
std::string join(std::string_view folder, std::string_view name);

struct LogEntry {
    bool folder = false;
    std::string path; // Windows path
};
std::optional<std::vector<LogEntry>> read_uninstall_log(const std::filesystem::path& file);
bool write_uninstall_log(const std::filesystem::path& file, const std::vector<LogEntry>& entries);

} // namespace kolm::product
