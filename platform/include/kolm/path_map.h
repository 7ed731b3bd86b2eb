// Where the paths the programs use live on this machine.
//
//   C:\WINDOWS\kolmvx.iss   -> <machine root>/drive_c/WINDOWS/kolmvx.iss
//   \WINDOWS\x              -> <machine root>/drive_c/WINDOWS/x (drive C: is current)
//   sub\file.txt            -> sub/file.txt (relative, separators converted)
//   /tmp/plain              -> /tmp/plain (a Linux path is used as it is)
//   \\.\KOLMVX.VXD          -> not a file (a device; see device_name)
//
// Windows names are case-insensitive: each component of a mapped Windows
// path is matched against what exists without regard to case. ".." never
// climbs above the drive's folder.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace kolm::platform {

// The NAME of a "\\.\NAME" device path; nullopt for anything else.
std::optional<std::string> device_name(const char* path);

// The Linux path for a program's path; empty for devices, network (UNC)
// paths and empty input.
std::filesystem::path map_path(const char* path);

} // namespace kolm::platform
