// Key paths and names: splitting, limits and the case folding that both
// comparison and enumeration order use.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "win32/types.h"

namespace kolm::platform {

inline constexpr size_t k_max_key_name = 255;
inline constexpr size_t k_max_value_name = 16383;
inline constexpr size_t k_max_value_data = 1024 * 1024;
// Deeper paths are refused, so walking a path stays bounded.
inline constexpr size_t k_max_key_depth = 512;

// The name folded to upper case, ASCII letters only: the key by which names
// are compared and ordered.
std::string fold_name(std::string_view name);

// Splits a subkey path on backslashes, dropping empty components (leading,
// doubled and trailing backslashes). ERROR_INVALID_PARAMETER for a component
// longer than k_max_key_name or a path deeper than k_max_key_depth.
LONG split_key_path(std::string_view path, std::vector<std::string>& out);

} // namespace kolm::platform
