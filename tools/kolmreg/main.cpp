// kolmreg: the registry from the command line, in the manner of reg.exe.
//
//   kolmreg query  KEY [/v NAME | /ve] [/s]
//   kolmreg add    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]
//   kolmreg delete KEY [/v NAME | /ve | /va] [/f]
//   kolmreg import FILE.reg
//   kolmreg export KEY FILE.reg [/y]
//
// Overwriting a value (add) and deleting ask "(Yes/No)?" unless /f, and
// export asks before replacing a file unless /y. Without a terminal on
// standard input the answer is No: scripts must say /f or /y.
// Exit 0 on success, 1 on failure with the reason on standard error, 2
// for an unknown option (an argument beginning with "--").
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "commands.h"
#include "kolm/program_help.h"
#include "kolmids.h"

using namespace kolm::kolmreg;

namespace {

const char k_usage[] =
    "Usage:\n"
    "  kolmreg query  KEY [/v NAME | /ve] [/s]\n"
    "  kolmreg add    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]\n"
    "  kolmreg delete KEY [/v NAME | /ve | /va] [/f]\n"
    "  kolmreg import FILE.reg\n"
    "  kolmreg export KEY FILE.reg [/y]\n"
    "\n"
    "  KEY   HKLM\\path, HKEY_LOCAL_MACHINE\\path, HKDD\\path or HKEY_DYN_DATA\\path\n"
    "  TYPE  REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_BINARY or REG_NONE\n"
    "  DATA  REG_DWORD in decimal or 0x hex; REG_BINARY and REG_NONE as hex digits;\n"
    "        REG_MULTI_SZ items separated by \\0\n"
    "  /f, /y  do not ask (without a terminal the answer is No)\n";

const kolm::ProgramHelp k_help = {
    "kolmreg",
    "kolmreg query|add|delete|import|export ... (kolmreg /? for each)\n"
    "       kolmreg --help | --version",
    "The registry of a machine root from the command line, with the syntax of\n"
    "Windows' reg.exe, and REGEDIT4 .reg files imported and exported byte for\n"
    "byte.\n"
    "\n"
    "Environment:\n"
    "  KOLM_ROOT       the machine root (default ~/.local/share/tarvizone)\n"
    "  KOLM_SYSFS_TTY  where the host's serial ports are listed, for the device\n"
    "                  tree under HKEY_DYN_DATA (default /sys/class/tty)\n"
    "\n"
    "Files:\n"
    "  $KOLM_ROOT/registry.db  the registry (HKEY_LOCAL_MACHINE, HKEY_DYN_DATA)\n"
    "\n"
    "Exit status: 0 on success, 1 on failure with the reason on standard error,\n"
    "2 for an unknown option.\n",
    KOLM_PRODUCT_ON_LINUX,
};

int invalid_syntax()
{
    std::fprintf(stderr, "ERROR: Invalid syntax.\nType \"kolmreg /?\" for usage.\n");
    return 1;
}

bool is(const char* arg, const char* option)
{
    return (arg[0] == '/' || arg[0] == '-') && ::strcasecmp(arg + 1, option) == 0;
}

// An argument that names an option. Anything else, an absolute file name
// such as /tmp/x.reg included, is positional.
bool is_option(const char* arg)
{
    for (const char* name : {"v", "ve", "va", "s", "t", "d", "f", "y"}) {
        if (is(arg, name))
            return true;
    }
    return false;
}

// Options common to the verbs; each verb says which it accepts.
struct Options {
    std::vector<std::string> positional;
    ValueChoice value;
    bool value_given = false;
    bool recursive = false, force = false, yes = false;
    std::optional<std::string> type, data;
};

enum Allowed : unsigned { kV = 1, kVE = 2, kVA = 4, kS = 8, kT = 16, kD = 32, kF = 64, kY = 128 };

// False on a syntax error; an argument beginning with "--" where an option
// or a positional argument was due is left in *unknown.
bool parse_options(int argc, char** argv, unsigned allowed, Options& o, const char** unknown)
{
    auto set_value = [&](ValueChoice::Kind kind, const char* name) {
        if (o.value_given)
            return false;
        o.value_given = true;
        o.value.kind = kind;
        o.value.name = name ? name : "";
        return true;
    };
    for (int i = 2; i < argc; ++i) {
        const char* a = argv[i];
        const bool has_next = i + 1 < argc;
        if (std::strncmp(a, "--", 2) == 0) {
            *unknown = a;
            return false;
        } else if (!is_option(a)) {
            o.positional.emplace_back(a);
        } else if (is(a, "v") && (allowed & kV) && has_next) {
            if (!set_value(ValueChoice::Kind::Named, argv[++i]))
                return false;
        } else if (is(a, "ve") && (allowed & kVE)) {
            if (!set_value(ValueChoice::Kind::Default, nullptr))
                return false;
        } else if (is(a, "va") && (allowed & kVA)) {
            if (!set_value(ValueChoice::Kind::All, nullptr))
                return false;
        } else if (is(a, "s") && (allowed & kS) && !o.recursive) {
            o.recursive = true;
        } else if (is(a, "t") && (allowed & kT) && has_next && !o.type) {
            o.type = argv[++i];
        } else if (is(a, "d") && (allowed & kD) && has_next && !o.data) {
            o.data = argv[++i];
        } else if (is(a, "f") && (allowed & kF) && !o.force) {
            o.force = true;
        } else if (is(a, "y") && (allowed & kY) && !o.yes) {
            o.yes = true;
        } else {
            return false;
        }
    }
    return true;
}

std::optional<KeyName> key_argument(const std::string& text)
{
    auto key = parse_key_name(text);
    if (!key)
        std::fprintf(stderr, "ERROR: Invalid key name \"%s\" (HKLM or HKEY_DYN_DATA).\n", text.c_str());
    return key;
}

} // namespace

int main(int argc, char** argv)
{
    if (const auto answered = kolm::answer_help_or_version(argc, argv, k_help))
        return *answered;
    if (argc < 2)
        return invalid_syntax();
    const char* verb = argv[1];
    if (is(verb, "?") || ::strcasecmp(verb, "help") == 0) {
        std::fputs(k_usage, stdout);
        return 0;
    }
    if (std::strncmp(verb, "--", 2) == 0)
        return kolm::unknown_option(k_help, verb);

    Options o;
    const char* unknown = nullptr;
    auto refuse = [&unknown] { return unknown ? kolm::unknown_option(k_help, unknown) : invalid_syntax(); };
    if (::strcasecmp(verb, "query") == 0) {
        if (!parse_options(argc, argv, kV | kVE | kS, o, &unknown) || o.positional.size() != 1)
            return refuse();
        auto key = key_argument(o.positional[0]);
        return key ? run_query({*key, o.value, o.recursive}) : 1;
    }
    if (::strcasecmp(verb, "add") == 0) {
        if (!parse_options(argc, argv, kV | kVE | kT | kD | kF, o, &unknown) || o.positional.size() != 1)
            return refuse();
        auto key = key_argument(o.positional[0]);
        return key ? run_add({*key, o.value, o.type, o.data, o.force}) : 1;
    }
    if (::strcasecmp(verb, "delete") == 0) {
        if (!parse_options(argc, argv, kV | kVE | kVA | kF, o, &unknown) || o.positional.size() != 1)
            return refuse();
        auto key = key_argument(o.positional[0]);
        return key ? run_delete({*key, o.value, o.force}) : 1;
    }
    if (::strcasecmp(verb, "import") == 0) {
        if (!parse_options(argc, argv, 0, o, &unknown) || o.positional.size() != 1)
            return refuse();
        return run_import(o.positional[0]);
    }
    if (::strcasecmp(verb, "export") == 0) {
        if (!parse_options(argc, argv, kY, o, &unknown) || o.positional.size() != 2)
            return refuse();
        auto key = key_argument(o.positional[0]);
        return key ? run_export(*key, o.positional[1], o.yes) : 1;
    }
    return invalid_syntax();
}
