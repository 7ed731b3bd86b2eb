#include "value_text.h"

#include <cctype>
#include <cstdio>
#include <strings.h>

#include "win32/registry.h"

namespace kolm::kolmreg {

namespace {

bool iequals(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

struct TypeNameRow {
    DWORD type;
    const char* name;
};

constexpr TypeNameRow k_type_names[] = {
    {REG_NONE, "REG_NONE"},
    {REG_SZ, "REG_SZ"},
    {REG_EXPAND_SZ, "REG_EXPAND_SZ"},
    {REG_BINARY, "REG_BINARY"},
    {REG_DWORD, "REG_DWORD"},
    {REG_DWORD_BIG_ENDIAN, "REG_DWORD_BIG_ENDIAN"},
    {REG_LINK, "REG_LINK"},
    {REG_MULTI_SZ, "REG_MULTI_SZ"},
    {REG_RESOURCE_LIST, "REG_RESOURCE_LIST"},
    {REG_FULL_RESOURCE_DESCRIPTOR, "REG_FULL_RESOURCE_DESCRIPTOR"},
    {REG_RESOURCE_REQUIREMENTS_LIST, "REG_RESOURCE_REQUIREMENTS_LIST"},
    {REG_QWORD, "REG_QWORD"},
};

// The types /t accepts.
constexpr DWORD k_settable[] = {REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_BINARY, REG_NONE};

std::string upper_hex(const std::vector<BYTE>& data)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(data.size() * 2);
    for (BYTE b : data) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<DWORD> parse_dword(std::string_view text)
{
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty())
        return std::nullopt;
    uint64_t v = 0;
    for (char c : text) {
        const int d = hex_digit(c);
        if (d < 0 || static_cast<unsigned>(d) >= base)
            return std::nullopt;
        v = v * base + static_cast<unsigned>(d);
        if (v > 0xFFFFFFFFull)
            return std::nullopt;
    }
    return static_cast<DWORD>(v);
}

} // namespace

std::optional<KeyName> parse_key_name(std::string_view text)
{
    const size_t slash = text.find('\\');
    const std::string_view root = text.substr(0, slash);
    KeyName key;
    if (iequals(root, "HKLM") || iequals(root, "HKEY_LOCAL_MACHINE"))
        key.hive = platform::Hive::LocalMachine;
    else if (iequals(root, "HKDD") || iequals(root, "HKEY_DYN_DATA"))
        key.hive = platform::Hive::DynData;
    else
        return std::nullopt;
    if (slash != std::string_view::npos)
        key.path = text.substr(slash + 1);
    return key;
}

std::string full_key_name(platform::Hive hive, std::string_view path)
{
    std::string out(platform::hive_name(hive));
    if (!path.empty()) {
        out += '\\';
        out += path;
    }
    return out;
}

std::string type_name(DWORD type)
{
    for (const auto& row : k_type_names) {
        if (row.type == type)
            return row.name;
    }
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", static_cast<unsigned>(type));
    return buf;
}

std::optional<DWORD> type_from_name(std::string_view name)
{
    for (DWORD type : k_settable) {
        if (iequals(name, type_name(type)))
            return type;
    }
    return std::nullopt;
}

std::string display_data(DWORD type, const std::vector<BYTE>& data)
{
    const std::string text(data.begin(), data.end());
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        return text.substr(0, text.find('\0'));
    case REG_MULTI_SZ: {
        // The list ends at the first empty item (its double NUL).
        std::string out;
        size_t pos = 0;
        while (pos < text.size()) {
            size_t end = text.find('\0', pos);
            if (end == std::string::npos)
                end = text.size();
            if (end == pos)
                break;
            if (pos > 0)
                out += "\\0";
            out += text.substr(pos, end - pos);
            pos = end + 1;
        }
        return out;
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
        if (data.size() == 4) {
            const DWORD v = type == REG_DWORD
                                ? data[0] | data[1] << 8 | data[2] << 16 | static_cast<DWORD>(data[3]) << 24
                                : data[3] | data[2] << 8 | data[1] << 16 | static_cast<DWORD>(data[0]) << 24;
            char buf[16];
            std::snprintf(buf, sizeof buf, "0x%x", static_cast<unsigned>(v));
            return buf;
        }
        break;
    case REG_QWORD:
        if (data.size() == 8) {
            uint64_t v = 0;
            for (int i = 7; i >= 0; --i)
                v = v << 8 | data[static_cast<size_t>(i)];
            char buf[24];
            std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
            return buf;
        }
        break;
    default:
        break;
    }
    return upper_hex(data);
}

std::optional<std::vector<BYTE>> data_from_text(DWORD type, std::string_view text)
{
    std::vector<BYTE> out;
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        out.assign(text.begin(), text.end());
        out.push_back(0);
        return out;
    case REG_MULTI_SZ: {
        size_t pos = 0;
        while (pos < text.size()) {
            size_t end = text.find("\\0", pos);
            if (end == std::string_view::npos)
                end = text.size();
            // An empty item would end the list early when read back.
            if (end == pos)
                return std::nullopt;
            out.insert(out.end(), text.begin() + static_cast<std::ptrdiff_t>(pos),
                       text.begin() + static_cast<std::ptrdiff_t>(end));
            out.push_back(0);
            pos = end == text.size() ? end : end + 2;
            if (pos == text.size() && end != text.size())
                return std::nullopt; // a trailing separator
        }
        out.push_back(0);
        return out;
    }
    case REG_DWORD: {
        if (text.empty())
            text = "0";
        auto v = parse_dword(text);
        if (!v)
            return std::nullopt;
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<BYTE>(*v >> (8 * i)));
        return out;
    }
    default: {
        if (text.size() % 2 != 0)
            return std::nullopt;
        for (size_t i = 0; i < text.size(); i += 2) {
            const int hi = hex_digit(text[i]), lo = hex_digit(text[i + 1]);
            if (hi < 0 || lo < 0)
                return std::nullopt;
            out.push_back(static_cast<BYTE>(hi << 4 | lo));
        }
        return out;
    }
    }
}

} // namespace kolm::kolmreg
