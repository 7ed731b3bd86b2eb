#include "kolm/path_map.h"
#include "internal/nocase.h"

#include <cctype>
#include <string_view>
#include <vector>

#include "internal/machine_root.h"

namespace kolm::platform {

namespace {

bool is_sep(char c)
{
    return c == '\\' || c == '/';
}

// The components of a Windows path below its root, with "." dropped and
// ".." resolved without climbing above the root.
std::vector<std::string> components(std::string_view rest)
{
    std::vector<std::string> parts;
    size_t i = 0;
    while (i < rest.size()) {
        while (i < rest.size() && is_sep(rest[i]))
            ++i;
        size_t j = i;
        while (j < rest.size() && !is_sep(rest[j]))
            ++j;
        std::string_view part = rest.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.emplace_back(part);
        }
        i = j;
    }
    return parts;
}

// Appends each component, taking an existing entry that differs only in
// case when there is exactly one.
std::filesystem::path resolve_below(std::filesystem::path base, const std::vector<std::string>& parts)
{
    for (const auto& part : parts) {
        std::error_code ec;
        if (!std::filesystem::exists(base / part, ec)) {
            std::string match;
            int matches = 0;
            for (auto it = std::filesystem::directory_iterator(base, ec);
                 !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
                const std::string name = it->path().filename().string();
                if (equal_nocase(name, part)) {
                    match = name;
                    ++matches;
                }
            }
            if (matches == 1) {
                base /= match;
                continue;
            }
        }
        base /= part;
    }
    return base;
}

std::filesystem::path drive_folder(char letter)
{
    std::string name = "drive_";
    name += static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
    return machine_root() / name;
}

} // namespace

std::optional<std::string> device_name(const char* path)
{
    if (!path)
        return std::nullopt;
    const std::string_view p(path);
    if (p.size() > 4 && is_sep(p[0]) && is_sep(p[1]) && p[2] == '.' && is_sep(p[3]))
        return std::string(p.substr(4));
    return std::nullopt;
}

std::filesystem::path map_path(const char* path)
{
    if (!path || !*path || device_name(path))
        return {};
    std::string_view p(path);
    // "\\?\C:\..." is the long-path form of "C:\...".
    if (p.size() > 4 && p[0] == '\\' && p[1] == '\\' && p[2] == '?' && p[3] == '\\')
        p.remove_prefix(4);
    if (p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':')
        return resolve_below(drive_folder(p[0]), components(p.substr(2)));
    if (p.size() >= 2 && p[0] == '\\' && p[1] == '\\')
        return {}; // a network share; there are none
    if (p[0] == '\\')
        return resolve_below(drive_folder('c'), components(p.substr(1)));
    if (p.find('\\') == std::string_view::npos)
        return std::filesystem::path(p);
    std::string converted(p);
    for (auto& c : converted) {
        if (c == '\\')
            c = '/';
    }
    return std::filesystem::path(converted);
}

} // namespace kolm::platform
