#include "commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "reg_file.h"
#include "win32/registry.h"

namespace kolm::kolmreg {

using platform::Hive;
using platform::RegEdit;
using platform::RegKeyNode;

namespace {

constexpr const char* k_not_found = "The system was unable to find the specified registry key or value.";
constexpr size_t k_max_import_size = 64 * 1024 * 1024;

std::string status_text(LONG status)
{
    switch (status) {
    case ERROR_FILE_NOT_FOUND:
        return k_not_found;
    case ERROR_ACCESS_DENIED:
        return "Access is denied.";
    case ERROR_INVALID_PARAMETER:
        return "The parameter is incorrect (a name or value too long, or a path too deep).";
    case ERROR_BUSY:
        return "The registry is held by another process; try again.";
    case ERROR_REGISTRY_CORRUPT:
        return "The registry database is damaged.";
    case ERROR_REGISTRY_IO_FAILED:
        return "The registry database could not be read or written.";
    case ERROR_DISK_FULL:
        return "There is not enough space on the disk.";
    default:
        return "Registry error " + std::to_string(status) + ".";
    }
}

int fail(const std::string& message)
{
    std::fprintf(stderr, "ERROR: %s\n", message.c_str());
    return 1;
}

int succeed()
{
    std::printf("The operation completed successfully.\n");
    return 0;
}

HKEY hive_key(Hive hive)
{
    return hive == Hive::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_DYN_DATA;
}

std::string value_label(const std::string& name)
{
    return name.empty() ? "(Default)" : name;
}

void print_value(std::string& out, const platform::RegValue& v)
{
    out += "    " + value_label(v.name) + "    " + type_name(v.type) + "    " + display_data(v.type, v.data) + "\n";
}

std::string join(const std::string& path, const std::string& name)
{
    return path.empty() ? name : path + '\\' + name;
}

void print_tree(std::string& out, Hive hive, const std::string& path, const RegKeyNode& node)
{
    out += "\n" + full_key_name(hive, path) + "\n";
    for (const auto& v : node.values)
        print_value(out, v);
    for (const auto& sub : node.subkeys)
        print_tree(out, hive, join(path, sub.name), sub);
}

const platform::RegValue* find_value(const RegKeyNode& node, const std::string& name)
{
    for (const auto& v : node.values) {
        if (v.name.size() == name.size() && ::strncasecmp(v.name.c_str(), name.c_str(), name.size()) == 0)
            return &v;
    }
    return nullptr;
}

size_t print_matches(std::string& out, Hive hive, const std::string& path, const RegKeyNode& node,
                     const std::string& name)
{
    size_t found = 0;
    if (const auto* v = find_value(node, name)) {
        out += "\n" + full_key_name(hive, path) + "\n";
        print_value(out, *v);
        found = 1;
    }
    for (const auto& sub : node.subkeys)
        found += print_matches(out, hive, join(path, sub.name), sub, name);
    return found;
}

bool write_file_replacing(const std::string& file, const std::string& text, std::string& why)
{
    // Written beside the target and renamed over it, so a failed export
    // never leaves a half-written file behind.
    std::string tmp = file + ".XXXXXX";
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            why = std::strerror(errno);
            ::close(fd);
            ::unlink(tmp.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    ::fchmod(fd, 0644);
    if (::fsync(fd) != 0 || ::close(fd) != 0 || ::rename(tmp.c_str(), file.c_str()) != 0) {
        why = std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

bool read_whole_file(const std::string& file, std::string& text, std::string& why)
{
    FILE* f = std::fopen(file.c_str(), "rb");
    if (!f) {
        why = std::strerror(errno);
        return false;
    }
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        text.append(buf, n);
        if (text.size() > k_max_import_size) {
            std::fclose(f);
            why = "the file is larger than 64 MiB";
            return false;
        }
    }
    const bool ok = !std::ferror(f);
    std::fclose(f);
    if (!ok)
        why = "read error";
    return ok;
}

int cancelled()
{
    std::printf("The operation was cancelled by the user.\n");
    return 1;
}

} // namespace

bool confirm(const std::string& question)
{
    if (!::isatty(STDIN_FILENO)) {
        std::fprintf(stderr, "%s (Yes/No)? No: standard input is not a terminal; confirm with /f (/y for export).\n",
                     question.c_str());
        return false;
    }
    std::printf("%s (Yes/No)? ", question.c_str());
    std::fflush(stdout);
    char answer[64];
    if (!std::fgets(answer, sizeof answer, stdin))
        return false;
    return ::strncasecmp(answer, "y", 1) == 0;
}

int run_query(const QueryArgs& args)
{
    RegKeyNode node;
    std::string path;
    if (const LONG st = platform::read_registry_tree(args.key.hive, args.key.path, node, &path);
        st != ERROR_SUCCESS)
        return fail(status_text(st));

    std::string out;
    if (args.value.kind == ValueChoice::Kind::Key) {
        if (args.recursive) {
            print_tree(out, args.key.hive, path, node);
        } else {
            out += "\n" + full_key_name(args.key.hive, path) + "\n";
            for (const auto& v : node.values)
                print_value(out, v);
            if (!node.subkeys.empty())
                out += "\n";
            for (const auto& sub : node.subkeys)
                out += full_key_name(args.key.hive, join(path, sub.name)) + "\n";
        }
    } else {
        const std::string name = args.value.kind == ValueChoice::Kind::Named ? args.value.name : "";
        if (args.recursive) {
            const size_t found = print_matches(out, args.key.hive, path, node, name);
            if (found == 0)
                return fail(k_not_found);
            out += "\nEnd of search: " + std::to_string(found) + " match(es) found.\n";
        } else if (const auto* v = find_value(node, name)) {
            out += "\n" + full_key_name(args.key.hive, path) + "\n";
            print_value(out, *v);
        } else if (name.empty()) {
            out += "\n" + full_key_name(args.key.hive, path) + "\n    (Default)    REG_SZ    (value not set)\n";
        } else {
            return fail(k_not_found);
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

int run_add(const AddArgs& args)
{
    // Names that export could not write back are refused up front.
    if (name_has_line_break(args.key.path))
        return fail("A key name cannot hold a carriage return or line feed.");
    if (args.value.kind == ValueChoice::Kind::Named && name_has_line_break(args.value.name))
        return fail("A value name cannot hold a carriage return or line feed.");
    RegEdit edit;
    edit.hive = args.key.hive;
    edit.path = args.key.path;
    if (args.value.kind == ValueChoice::Kind::Key && !args.type && !args.data) {
        edit.kind = RegEdit::Kind::CreateKey;
        if (const LONG st = platform::apply_registry_edits({&edit, 1}); st != ERROR_SUCCESS)
            return fail(status_text(st));
        return succeed();
    }

    edit.kind = RegEdit::Kind::SetValue;
    edit.name = args.value.kind == ValueChoice::Kind::Named ? args.value.name : "";
    edit.type = REG_SZ;
    if (args.type) {
        auto type = type_from_name(*args.type);
        if (!type)
            return fail("Invalid type \"" + *args.type +
                        "\" (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_BINARY or REG_NONE).");
        edit.type = *type;
    }
    auto data = data_from_text(edit.type, args.data.value_or(""));
    if (!data)
        return fail("The data \"" + args.data.value_or("") + "\" is not valid for " + type_name(edit.type) + ".");
    edit.data = std::move(*data);

    if (!args.force) {
        HKEY key = nullptr;
        bool exists = false;
        if (RegOpenKeyExA(hive_key(edit.hive), edit.path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
            exists = RegQueryValueExA(key, edit.name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
            RegCloseKey(key);
        }
        if (exists && !confirm("Value " + value_label(edit.name) + " exists, overwrite"))
            return cancelled();
    }
    if (const LONG st = platform::apply_registry_edits({&edit, 1}); st != ERROR_SUCCESS)
        return fail(status_text(st));
    return succeed();
}

int run_delete(const DeleteArgs& args)
{
    const std::string full = full_key_name(args.key.hive, args.key.path);
    HKEY key = nullptr;
    if (const LONG st = RegOpenKeyExA(hive_key(args.key.hive), args.key.path.c_str(), 0, KEY_ALL_ACCESS, &key);
        st != ERROR_SUCCESS)
        return fail(status_text(st));

    LONG st = ERROR_SUCCESS;
    switch (args.value.kind) {
    case ValueChoice::Kind::Key:
        if (key == hive_key(args.key.hive))
            return fail("A root key cannot be deleted.");
        if (!args.force && !confirm("Permanently delete the registry key " + full)) {
            RegCloseKey(key);
            return cancelled();
        }
        st = RegDeleteKeyA(key, "");
        break;
    case ValueChoice::Kind::Named:
    case ValueChoice::Kind::Default: {
        const std::string name = args.value.kind == ValueChoice::Kind::Named ? args.value.name : "";
        st = RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (st == ERROR_SUCCESS && !args.force && !confirm("Delete the registry value " + value_label(name))) {
            RegCloseKey(key);
            return cancelled();
        }
        if (st == ERROR_SUCCESS)
            st = RegDeleteValueA(key, name.c_str());
        break;
    }
    case ValueChoice::Kind::All: {
        if (!args.force && !confirm("Delete all values under the registry key " + full)) {
            RegCloseKey(key);
            return cancelled();
        }
        RegEdit edit;
        edit.kind = RegEdit::Kind::DeleteAllValues;
        edit.hive = args.key.hive;
        edit.path = args.key.path;
        st = platform::apply_registry_edits({&edit, 1});
        break;
    }
    }
    RegCloseKey(key);
    if (st != ERROR_SUCCESS)
        return fail(status_text(st));
    return succeed();
}

int run_import(const std::string& file)
{
    std::string text, why;
    if (!read_whole_file(file, text, why))
        return fail("Unable to read " + file + ": " + why);
    std::vector<ParsedEdit> parsed;
    ParseError error;
    if (!parse_reg_file(text, parsed, error))
        return fail(file + ": line " + std::to_string(error.line) + ": " + error.message +
                    "; nothing was imported.");

    std::vector<RegEdit> edits;
    edits.reserve(parsed.size());
    for (const auto& p : parsed)
        edits.push_back(p.edit);
    size_t failed = 0;
    if (const LONG st = platform::apply_registry_edits(edits, &failed); st != ERROR_SUCCESS) {
        const std::string where = failed < parsed.size() ? ": line " + std::to_string(parsed[failed].line) : "";
        return fail(file + where + ": " + status_text(st) + " Nothing was imported.");
    }
    return succeed();
}

int run_export(const KeyName& key, const std::string& file, bool force)
{
    RegKeyNode node;
    std::string path;
    if (const LONG st = platform::read_registry_tree(key.hive, key.path, node, &path); st != ERROR_SUCCESS)
        return fail(status_text(st));
    std::string text, why;
    if (!format_reg_file(key.hive, path, node, text, why))
        return fail("Cannot export: " + why + ".");

    struct stat sb;
    if (!force && ::stat(file.c_str(), &sb) == 0 && !confirm("File " + file + " already exists. Overwrite"))
        return cancelled();
    if (!write_file_replacing(file, text, why))
        return fail("Unable to write " + file + ": " + why);
    return succeed();
}

} // namespace kolm::kolmreg
