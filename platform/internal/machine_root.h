// The machine root: the folder that plays the part of the whole PC
// (registry database, drive C:, COM port links, window mailboxes).
#pragma once

#include <filesystem>
#include <string_view>

namespace kolm::platform {

// KOLM_ROOT when set, else ~/.local/share/tarvizone. The folder is created
// (owner only) when missing. Read anew on every call, so a test process can
// move to a fresh root between cases.
std::filesystem::path machine_root();

// A folder below the machine root ("run", "dev", "drive_c"), created when
// missing with the given mode.
std::filesystem::path machine_dir(std::string_view name, unsigned mode = 0700);

} // namespace kolm::platform
