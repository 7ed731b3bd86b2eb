// Writing a registry subtree as REGEDIT4 text.
#include "reg_file.h"

#include <cstdio>

#include "value_text.h"
#include "win32/registry.h"

namespace kolm::kolmreg {

using platform::Hive;

namespace {

// A line reaching this many columns, its comma counted, is continued.
constexpr size_t k_fold_column = 77;

std::string quoted(std::string_view s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + '"';
}

bool is_plain_string(const std::vector<BYTE>& data)
{
    if (data.empty() || data.back() != 0)
        return false;
    for (size_t i = 0; i + 1 < data.size(); ++i) {
        if (data[i] == 0 || data[i] == '\r' || data[i] == '\n')
            return false;
    }
    return true;
}

void write_hex(std::string& out, size_t line_len, const std::vector<BYTE>& data)
{
    char digits[3];
    for (size_t i = 0; i < data.size(); ++i) {
        std::snprintf(digits, sizeof digits, "%02x", data[i]);
        out += digits;
        if (i + 1 == data.size())
            break;
        out += ',';
        line_len += 3;
        if (line_len >= k_fold_column) {
            out += "\\\n  ";
            line_len = 2;
        }
    }
}

void write_value(std::string& out, const platform::RegValue& v)
{
    std::string line = v.name.empty() ? "@=" : quoted(v.name) + "=";
    if (v.type == REG_SZ && is_plain_string(v.data)) {
        out += line + quoted(std::string_view(reinterpret_cast<const char*>(v.data.data()), v.data.size() - 1));
    } else if (v.type == REG_DWORD && v.data.size() == 4) {
        char buf[16];
        const DWORD d = v.data[0] | v.data[1] << 8 | v.data[2] << 16 | static_cast<DWORD>(v.data[3]) << 24;
        std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(d));
        out += line + buf;
    } else {
        if (v.type == REG_BINARY) {
            line += "hex:";
        } else {
            char buf[24];
            std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.type));
            line += buf;
        }
        out += line;
        write_hex(out, line.size(), v.data);
    }
    out += '\n';
}

bool write_node(std::string& out, Hive hive, const std::string& path, const platform::RegKeyNode& node,
                std::string& error)
{
    const std::string name = full_key_name(hive, path);
    if (name_has_line_break(name)) {
        error = "the key name \"" + name + "\" holds a line break";
        return false;
    }
    out += '[' + name + "]\n";
    for (const auto& v : node.values) {
        if (name_has_line_break(v.name)) {
            error = "a value name in " + name + " holds a line break";
            return false;
        }
        write_value(out, v);
    }
    out += '\n';
    for (const auto& sub : node.subkeys) {
        const std::string sub_path = path.empty() ? sub.name : path + '\\' + sub.name;
        if (!write_node(out, hive, sub_path, sub, error))
            return false;
    }
    return true;
}

} // namespace

bool format_reg_file(Hive hive, std::string_view path, const platform::RegKeyNode& node, std::string& out,
                     std::string& error)
{
    out = "REGEDIT4\n\n";
    return write_node(out, hive, std::string(path), node, error);
}

bool name_has_line_break(std::string_view name)
{
    return name.find_first_of("\r\n") != std::string_view::npos;
}

} // namespace kolm::kolmreg
