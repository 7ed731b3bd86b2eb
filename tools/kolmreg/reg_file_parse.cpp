// Reading REGEDIT4 text into registry edits.
#include "reg_file.h"

#include <optional>
#include <strings.h>

#include "kolm/key_path.h"
#include "win32/registry.h"

namespace kolm::kolmreg {

using platform::Hive;
using platform::RegEdit;

namespace {

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trim_right(std::string_view s)
{
    while (!s.empty() && is_blank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string_view trim_left(std::string_view s)
{
    while (!s.empty() && is_blank(s.front()))
        s.remove_prefix(1);
    return s;
}

bool starts_with_nocase(std::string_view s, std::string_view prefix)
{
    return s.size() >= prefix.size() && ::strncasecmp(s.data(), prefix.data(), prefix.size()) == 0;
}

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// --- parsing ---------------------------------------------------------------

struct Line {
    size_t number = 0;
    std::string text;
};

// Physical lines joined into logical ones: a line ending in "\" goes on
// with the next, whose leading blanks are dropped.
bool logical_lines(std::string_view text, std::vector<Line>& lines, ParseError& error)
{
    size_t number = 0, pos = 0;
    Line pending;
    bool continuing = false;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        line = trim_right(line);

        if (continuing) {
            line = trim_left(line);
        } else {
            pending = Line{number, {}};
        }
        const bool comment = !continuing && !trim_left(line).empty() && trim_left(line).front() == ';';
        continuing = !comment && !line.empty() && line.back() == '\\';
        if (continuing)
            line.remove_suffix(1);
        pending.text += line;
        if (!continuing)
            lines.push_back(std::move(pending));
    }
    if (continuing) {
        error = {pending.number, "the line is continued past the end of the file"};
        return false;
    }
    return true;
}

// A quoted name or string from s[pos] == '"'; pos ends after the closing quote.
std::optional<std::string> parse_quoted(std::string_view s, size_t& pos, std::string& why)
{
    std::string out;
    for (++pos; pos < s.size(); ++pos) {
        const char c = s[pos];
        if (c == '"') {
            ++pos;
            return out;
        }
        if (c == '\\') {
            if (pos + 1 >= s.size() || (s[pos + 1] != '\\' && s[pos + 1] != '"')) {
                why = "a backslash in a quoted text must be written \\\\ (or \\\" for a quote)";
                return std::nullopt;
            }
            ++pos;
        }
        out += s[pos];
    }
    why = "the closing quote is missing";
    return std::nullopt;
}

std::optional<std::vector<BYTE>> parse_hex_list(std::string_view s, std::string& why)
{
    std::vector<BYTE> out;
    s = trim_left(s);
    if (s.empty())
        return out;
    size_t pos = 0;
    for (;;) {
        size_t end = s.find(',', pos);
        const std::string_view item = trim_left(trim_right(s.substr(pos, end == std::string_view::npos
                                                                             ? std::string_view::npos
                                                                             : end - pos)));
        if (item.empty() || item.size() > 2 || hex_value(item[0]) < 0
            || (item.size() == 2 && hex_value(item[1]) < 0)) {
            why = "bad byte \"" + std::string(item) + "\" in a hex list (two hex digits between commas)";
            return std::nullopt;
        }
        int v = hex_value(item[0]);
        if (item.size() == 2)
            v = v * 16 + hex_value(item[1]);
        out.push_back(static_cast<BYTE>(v));
        if (end == std::string_view::npos)
            return out;
        pos = end + 1;
    }
}

// The data after '=': sets kind, type and bytes of `edit`.
bool parse_data(std::string_view s, RegEdit& edit, std::string& why)
{
    s = trim_left(s);
    if (s == "-") {
        edit.kind = RegEdit::Kind::DeleteValue;
        return true;
    }
    edit.kind = RegEdit::Kind::SetValue;
    if (!s.empty() && s.front() == '"') {
        size_t pos = 0;
        auto text = parse_quoted(s, pos, why);
        if (!text)
            return false;
        if (!trim_left(s.substr(pos)).empty()) {
            why = "text after the closing quote";
            return false;
        }
        edit.type = REG_SZ;
        edit.data.assign(text->begin(), text->end());
        edit.data.push_back(0);
        return true;
    }
    if (starts_with_nocase(s, "dword:")) {
        const std::string_view digits = s.substr(6);
        if (digits.empty() || digits.size() > 8) {
            why = "a dword needs 1 to 8 hex digits";
            return false;
        }
        DWORD v = 0;
        for (char c : digits) {
            if (hex_value(c) < 0) {
                why = "a dword needs 1 to 8 hex digits";
                return false;
            }
            v = v << 4 | static_cast<DWORD>(hex_value(c));
        }
        edit.type = REG_DWORD;
        edit.data = {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8), static_cast<BYTE>(v >> 16),
                     static_cast<BYTE>(v >> 24)};
        return true;
    }
    if (starts_with_nocase(s, "hex:")) {
        edit.type = REG_BINARY;
        s.remove_prefix(4);
    } else if (starts_with_nocase(s, "hex(")) {
        const size_t close = s.find("):");
        const std::string_view number = s.substr(4, close == std::string_view::npos ? 0 : close - 4);
        if (close == std::string_view::npos || number.empty() || number.size() > 8) {
            why = "hex(N): needs the type N in hex";
            return false;
        }
        DWORD type = 0;
        for (char c : number) {
            if (hex_value(c) < 0) {
                why = "hex(N): needs the type N in hex";
                return false;
            }
            type = type << 4 | static_cast<DWORD>(hex_value(c));
        }
        edit.type = type;
        s.remove_prefix(close + 2);
    } else {
        why = "unrecognised value data (expected \"text\", dword:, hex:, hex(N): or -)";
        return false;
    }
    auto bytes = parse_hex_list(s, why);
    if (!bytes)
        return false;
    edit.data = std::move(*bytes);
    return true;
}

enum class Section { None, Key, Deleted };

bool parse_section(std::string_view s, RegEdit& edit, std::string& why)
{
    if (s.back() != ']') {
        why = "a key line must end with ]";
        return false;
    }
    std::string_view inner = s.substr(1, s.size() - 2);
    edit.kind = RegEdit::Kind::CreateKey;
    if (!inner.empty() && inner.front() == '-') {
        edit.kind = RegEdit::Kind::DeleteKey;
        inner.remove_prefix(1);
    }
    const size_t slash = inner.find('\\');
    const std::string_view root = inner.substr(0, slash);
    if (root.size() == 18 && starts_with_nocase(root, "HKEY_LOCAL_MACHINE"))
        edit.hive = Hive::LocalMachine;
    else if (root.size() == 13 && starts_with_nocase(root, "HKEY_DYN_DATA"))
        edit.hive = Hive::DynData;
    else {
        why = "unknown root key \"" + std::string(root) + "\" (HKEY_LOCAL_MACHINE or HKEY_DYN_DATA)";
        return false;
    }
    edit.path = slash == std::string_view::npos ? std::string() : std::string(inner.substr(slash + 1));
    if (name_has_line_break(edit.path)) {
        why = "a key name cannot hold a carriage return or line feed";
        return false;
    }
    std::vector<std::string> components;
    if (platform::split_key_path(edit.path, components) != ERROR_SUCCESS) {
        why = "a key name is longer than 255 characters, or the path is too deep";
        return false;
    }
    if (edit.kind == RegEdit::Kind::DeleteKey && components.empty()) {
        why = "a root key cannot be deleted";
        return false;
    }
    return true;
}

} // namespace

bool parse_reg_file(std::string_view text, std::vector<ParsedEdit>& edits, ParseError& error)
{
    std::vector<Line> lines;
    if (!logical_lines(text, lines, error))
        return false;
    if (lines.empty() || lines.front().text != "REGEDIT4") {
        error = {1, "the first line must be REGEDIT4"};
        return false;
    }

    Section section = Section::None;
    RegEdit current;
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string_view s = trim_left(lines[i].text);
        const size_t number = lines[i].number;
        std::string why;
        if (s.empty() || s.front() == ';')
            continue;
        if (s.front() == '[') {
            RegEdit edit;
            if (!parse_section(s, edit, why)) {
                error = {number, why};
                return false;
            }
            section = edit.kind == RegEdit::Kind::DeleteKey ? Section::Deleted : Section::Key;
            current = edit;
            edits.push_back({std::move(edit), number});
            continue;
        }
        if (s.front() != '"' && s.front() != '@') {
            error = {number, "unrecognised line (expected [KEY], \"name\"=data or @=data)"};
            return false;
        }
        if (section != Section::Key) {
            error = {number, section == Section::None ? "a value line before the first [KEY] line"
                                                      : "a value line in the section of a deleted key"};
            return false;
        }
        RegEdit edit;
        edit.hive = current.hive;
        edit.path = current.path;
        size_t pos = 1;
        if (s.front() == '"') {
            pos = 0;
            auto name = parse_quoted(s, pos, why);
            if (!name) {
                error = {number, why};
                return false;
            }
            if (name_has_line_break(*name)) {
                error = {number, "a value name cannot hold a carriage return or line feed"};
                return false;
            }
            edit.name = std::move(*name);
        }
        const std::string_view rest = trim_left(s.substr(pos));
        if (rest.empty() || rest.front() != '=') {
            error = {number, "= expected after the value name"};
            return false;
        }
        if (!parse_data(rest.substr(1), edit, why)) {
            error = {number, why};
            return false;
        }
        edits.push_back({std::move(edit), number});
    }
    return true;
}

} // namespace kolm::kolmreg
