// second: the stand-in for the product's setup program, in its silent mode
// only, as the installer starts it:
//
//   second -S -F1<response file> -F2<log file>
//
// It reads the answers of the response file (the destination folder and
// the four service texts), copies the product's programs from its own
// folder and the help pages into the destination (folders made as
// needed), sets Service0 to Service3 of the configuration key from the
// answers, records what it made in the destination's uninstall log for the
// uninstaller, and writes the log file with its [ResponseResult]. A
// response file that is missing or does not answer every dialog changes
// nothing and gives a negative ResultCode. Paths are Windows paths of the
// machine or Linux paths. Exit status 0 when the installation was made.
#include "product.h"
#include "response_file.h"

#include "kolm/program_help.h"
#include "kolmids.h"
#include "kolm/registry_tree.h"
#include "win32/registry.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>

namespace {

namespace fs = std::filesystem;
using kolm::product::LogEntry;
using namespace kolm::second;

struct Options {
    std::string response;
    std::string log;
};

const kolm::ProgramHelp k_help = {
    "second",
    "second -S -F1<response file> -F2<log file>\n"
    "       second --help | --version",
    "The Tarvizone Redirector's setup program, in its silent mode, as the\n"
    "installer starts it: reads the destination folder and the services from\n"
    "the response file, copies kolm32, kolmset32, remove, kolmui and the help\n"
    "pages from its own folder into the destination (recording what it made in\n"
    "the destination's uninst.log), stores the service list and writes its\n"
    "result to the log file. Paths are Windows paths of the machine root or\n"
    "Linux paths.\n"
    "\n"
    "Environment:\n"
    "  KOLM_ROOT  the machine root (default ~/.local/share/tarvizone)\n"
    "\n"
    "Files:\n"
    "  $KOLM_ROOT/registry.db  the service list\n"
    "  help/ beside second     the help pages it copies\n"
    "\n"
    "Exit status: 0 when the installation was made, 1 when not (the log file's\n"
    "ResultCode says why), 2 for a mistake on the command line.\n",
    KOLM_PRODUCT_ON_LINUX,
};

bool parse_options(int argc, char** argv, Options& o)
{
    bool silent = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string head = arg.substr(0, 3);
        for (char& c : head)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (head == "-S")
            silent = true;
        else if (head == "-F1")
            o.response = arg.substr(3);
        else if (head == "-F2")
            o.log = arg.substr(3);
        else
            return false;
    }
    return silent && !o.response.empty() && !o.log.empty();
}

// A file copied under a temporary name and renamed into place, so a
// program that is running from the old copy keeps running.
bool install_file(const fs::path& from, const fs::path& to)
{
    std::error_code ec;
    const fs::path temp = to.string() + ".new";
    fs::copy_file(from, temp, fs::copy_options::overwrite_existing, ec);
    if (!ec)
        fs::rename(temp, to, ec);
    if (ec) {
        fs::remove(temp, ec);
        return false;
    }
    return true;
}

fs::path help_source()
{
    const fs::path beside = kolm::product::own_folder() / kolm::product::k_help_folder;
    std::error_code ec;
    if (fs::is_directory(beside, ec))
        return beside;
    return KOLM_HELP_SOURCE_DIR;
}

// A file to copy: from here, to the Windows path in the destination.
struct Copy {
    fs::path from;
    std::string to;
};

// Everything to copy, or the code that says what is missing.
ResultCode plan_copies(const std::string& dest, std::vector<Copy>& copies)
{
    std::error_code ec;
    for (const auto& program : kolm::product::product_programs()) {
        const fs::path from = kolm::product::own_folder() / program.name;
        if (fs::is_regular_file(from, ec))
            copies.push_back(Copy{from, kolm::product::join(dest, program.name)});
        else if (program.required) {
            std::fprintf(stderr, "second: %s is missing\n", from.c_str());
            return k_cannot_access_file;
        }
    }
    const std::string help = kolm::product::join(dest, kolm::product::k_help_folder);
    for (auto it = fs::directory_iterator(help_source(), ec); !ec && it != fs::directory_iterator(); it.increment(ec))
        if (it->is_regular_file(ec))
            copies.push_back(Copy{it->path(), kolm::product::join(help, it->path().filename().string())});
    if (ec) {
        std::fprintf(stderr, "second: no help pages at %s\n", help_source().c_str());
        return k_cannot_access_file;
    }
    return k_success;
}

// Makes the destination folder and its help folder, recording each folder
// that was not there.
bool make_folders(const std::string& dest, std::vector<LogEntry>& made)
{
    std::vector<std::string> folders;
    for (size_t i = 1; i <= dest.size(); ++i)
        if (i == dest.size() || dest[i] == '\\' || dest[i] == '/')
            if (dest[i - 1] != '\\' && dest[i - 1] != '/' && dest[i - 1] != ':')
                folders.push_back(dest.substr(0, i));
    folders.push_back(kolm::product::join(dest, kolm::product::k_help_folder));
    for (const auto& folder : folders) {
        const fs::path local = kolm::product::local_path(folder);
        std::error_code ec;
        if (fs::is_directory(local, ec))
            continue;
        // The drive's own folder is made unrecorded when a new machine has
        // none yet.
        fs::create_directories(local.parent_path(), ec);
        if (!fs::create_directory(local, ec) || ec) {
            std::fprintf(stderr, "second: cannot make %s: %s\n", local.c_str(), ec.message().c_str());
            return false;
        }
        made.push_back(LogEntry{true, folder});
    }
    return true;
}

LONG set_services(const Answers& answers)
{
    std::vector<kolm::platform::RegEdit> edits;
    for (size_t i = 0; i < answers.services.size(); ++i) {
        const std::string& text = answers.services[i];
        std::vector<BYTE> data(text.begin(), text.end());
        data.push_back(0);
        edits.push_back(kolm::platform::RegEdit{kolm::platform::RegEdit::Kind::SetValue,
                                                kolm::platform::Hive::LocalMachine, kolm::product::k_config_key,
                                                "Service" + std::to_string(i), REG_SZ, std::move(data)});
    }
    return kolm::platform::apply_registry_edits(edits);
}

ResultCode install(const Options& o, const Answers& answers)
{
    std::vector<Copy> copies;
    if (const ResultCode code = plan_copies(answers.dest_path, copies); code != k_success)
        return code;
    // A second run into the same folder (an update) keeps what the first
    // one recorded.
    const std::string log = kolm::product::join(answers.dest_path, kolm::product::k_uninstall_log);
    std::vector<LogEntry> made =
        kolm::product::read_uninstall_log(kolm::product::local_path(log)).value_or(std::vector<LogEntry>{});
    auto record = [&made](LogEntry entry) {
        for (const auto& e : made)
            if (e.folder == entry.folder && e.path == entry.path)
                return;
        made.push_back(std::move(entry));
    };
    std::vector<LogEntry> folders;
    if (!make_folders(answers.dest_path, folders))
        return k_cannot_create_folder;
    for (auto& f : folders)
        record(std::move(f));
    for (const auto& copy : copies) {
        if (!install_file(copy.from, kolm::product::local_path(copy.to))) {
            std::fprintf(stderr, "second: cannot copy %s to %s\n", copy.from.c_str(), copy.to.c_str());
            return k_cannot_access_file;
        }
        record(LogEntry{false, copy.to});
    }
    record(LogEntry{false, o.response});
    record(LogEntry{false, o.log});
    record(LogEntry{false, log});
    if (!kolm::product::write_uninstall_log(kolm::product::local_path(log), made))
        return k_cannot_access_file;
    if (const LONG st = set_services(answers); st != ERROR_SUCCESS) {
        std::fprintf(stderr, "second: cannot write %s: registry error %ld\n", kolm::product::k_config_key,
                     static_cast<long>(st));
        return k_general_error;
    }
    return k_success;
}

ResultCode run(const Options& o)
{
    std::ifstream in(kolm::product::local_path(o.response), std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "second: cannot read the response file %s\n", o.response.c_str());
        return k_no_response_file;
    }
    std::stringstream text;
    text << in.rdbuf();
    const auto parsed = parse_response(text.str());
    if (const auto* code = std::get_if<ResultCode>(&parsed)) {
        std::fprintf(stderr, "second: the response file %s does not answer every dialog (%d)\n", o.response.c_str(),
                     static_cast<int>(*code));
        return *code;
    }
    return install(o, std::get<Answers>(parsed));
}

} // namespace

int main(int argc, char** argv)
{
    if (const auto answered = kolm::linux_entry_options(argc, argv, k_help))
        return *answered;
    Options o;
    if (!parse_options(argc, argv, o)) {
        kolm::print_usage(k_help);
        return 2;
    }
    const ResultCode code = run(o);
    std::ofstream log(kolm::product::local_path(o.log), std::ios::binary | std::ios::trunc);
    log << log_text(code);
    log.close();
    if (!log) {
        std::fprintf(stderr, "second: cannot write the log file %s\n", o.log.c_str());
        return 1;
    }
    return code == k_success ? 0 : 1;
}
