#include "product.h"

#include <fstream>

#include "kolm/path_map.h"

namespace kolm::product {

const std::vector<ProductProgram>& product_programs()
{
    static const std::vector<ProductProgram> programs = {
        {"kolm32", true},
        {"kolmset32", true},
        {"remove", true},
        // The desktop renderer: the programs fall back to the screen log
        // without it.
        {"kolmui", false},
    };
    return programs;
}

std::filesystem::path local_path(std::string_view path)
{
    return platform::map_path(std::string(path).c_str());
}

std::filesystem::path own_folder()
{
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : self.parent_path();
}

std::string join(std::string_view folder, std::string_view name)
{
    std::string out(folder);
    if (!out.empty() && out.back() != '\\' && out.back() != '/')
        out += '\\';
    out += name;
    return out;
}

std::optional<std::vector<LogEntry>> read_uninstall_log(const std::filesystem::path& file)
{
    std::ifstream in(file);
    if (!in)
        return std::nullopt;
    std::vector<LogEntry> entries;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("folder ", 0) == 0)
            entries.push_back(LogEntry{true, line.substr(7)});
        else if (line.rfind("file ", 0) == 0)
            entries.push_back(LogEntry{false, line.substr(5)});
    }
    return entries;
}

bool write_uninstall_log(const std::filesystem::path& file, const std::vector<LogEntry>& entries)
{
    std::ofstream out(file, std::ios::trunc);
    for (const auto& e : entries)
        out << (e.folder ? "folder " : "file ") << e.path << "\r\n";
    out.close();
    return static_cast<bool>(out);
}

} // namespace kolm::product
