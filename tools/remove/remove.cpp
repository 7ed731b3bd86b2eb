// remove: the stand-in for the product's uninstaller, named in the
// uninstall entry the installer writes. It takes out what the installer
// and the setup program put in:
//
// - a running kolm32 is asked to end first (WM_DESTROY, as the installer
//   does), and remove waits until its window is gone;
// - the files and folders of the uninstall log in the installed folder
//   (the folder of the entry's "UninstallString"); a folder that holds
//   something else too stays;
// - each port entry under HKLM\Enum\Root\Ports whose "Mfg" is "Tarvizone",
//   with the class entry its "Driver" names when that one's "PortDriver"
//   is kolmvx.vxd; the configuration key (and SOFTWARE\Tarvizone when
//   nothing else is left in it); the uninstall entry. The registry changes
//   are made together, after the files.
//
// Exit status 0 when done (or when nothing was installed), 1 with the
// reason on standard error when something could not be taken out.
#include "product.h"

#include "kolm/program_help.h"
#include "kolmids.h"
#include "kolm/registry_tree.h"
#include "win32.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <strings.h>
#include <thread>

namespace {

namespace fs = std::filesystem;
using kolm::platform::Hive;
using kolm::platform::RegEdit;
using kolm::platform::RegKeyNode;

const char kPorts[] = "Enum\\Root\\Ports";
const char kClasses[] = "System\\CurrentControlSet\\Services\\Class";
constexpr auto kRuntimeBound = std::chrono::seconds(10);

int fail(const std::string& why)
{
    std::fprintf(stderr, "remove: %s\n", why.c_str());
    return 1;
}

std::string string_value(const RegKeyNode& node, const char* name)
{
    for (const auto& v : node.values) {
        if (strcasecmp(v.name.c_str(), name) == 0 && (v.type == REG_SZ || v.type == REG_EXPAND_SZ)) {
            std::string s(v.data.begin(), v.data.end());
            return s.substr(0, s.find('\0'));
        }
    }
    return {};
}

bool read_key(Hive hive, const std::string& path, RegKeyNode& node)
{
    return kolm::platform::read_registry_tree(hive, path, node) == ERROR_SUCCESS;
}

bool stop_runtime()
{
    HWND runtime = FindWindowA("kolm32", "kolm32");
    if (!runtime)
        return true;
    PostMessageA(runtime, WM_DESTROY, 0, 0);
    const auto give_up = std::chrono::steady_clock::now() + kRuntimeBound;
    while (FindWindowA("kolm32", "kolm32")) {
        if (std::chrono::steady_clock::now() > give_up)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// Removes the logged files, then the logged folders that are empty,
// deepest first. The reason in `why` when a file stays.
bool remove_files(const std::string& uninstall_string, std::string& why)
{
    const size_t cut = uninstall_string.find_last_of("\\/");
    if (cut == std::string::npos)
        return true;
    const std::string folder = uninstall_string.substr(0, cut + 1);
    const fs::path log = kolm::product::local_path(kolm::product::join(folder, kolm::product::k_uninstall_log));
    const auto entries = kolm::product::read_uninstall_log(log);
    if (!entries)
        return true; // nothing recorded there: no files of ours
    std::vector<fs::path> folders;
    for (const auto& e : *entries) {
        const fs::path local = kolm::product::local_path(e.path);
        std::error_code ec;
        if (e.folder) {
            folders.push_back(local);
        } else if (!fs::remove(local, ec) && ec) {
            why = "cannot remove " + local.string() + ": " + ec.message();
            return false;
        }
    }
    std::sort(folders.begin(), folders.end(),
              [](const fs::path& a, const fs::path& b) { return a.string().size() > b.string().size(); });
    for (const auto& f : folders) {
        std::error_code ec;
        if (fs::is_directory(f, ec) && fs::is_empty(f, ec))
            fs::remove(f, ec);
    }
    return true;
}

// The registry edits that take the product out.
std::vector<RegEdit> registry_edits()
{
    std::vector<RegEdit> edits;
    auto remove_key = [&edits](Hive hive, std::string path) {
        edits.push_back(RegEdit{RegEdit::Kind::DeleteKey, hive, std::move(path), "", 0, {}});
    };
    RegKeyNode ports;
    if (read_key(Hive::LocalMachine, kPorts, ports)) {
        for (const auto& port : ports.subkeys) {
            if (string_value(port, "Mfg") != "Tarvizone")
                continue;
            const std::string driver = string_value(port, "Driver");
            RegKeyNode entry;
            if (!driver.empty() && read_key(Hive::LocalMachine, std::string(kClasses) + "\\" + driver, entry)
                && strcasecmp(string_value(entry, "PortDriver").c_str(), "kolmvx.vxd") == 0)
                remove_key(Hive::LocalMachine, std::string(kClasses) + "\\" + driver);
            remove_key(Hive::LocalMachine, std::string(kPorts) + "\\" + port.name);
        }
    }
    RegKeyNode config;
    if (read_key(Hive::LocalMachine, kolm::product::k_config_key, config))
        remove_key(Hive::LocalMachine, kolm::product::k_config_key);
    // The product's own branch goes when nothing but the configuration was
    // in it.
    RegKeyNode vendor;
    if (read_key(Hive::LocalMachine, "SOFTWARE\\Tarvizone", vendor)) {
        bool only_ours = vendor.values.empty() && vendor.subkeys.size() <= 1;
        for (const auto& sub : vendor.subkeys)
            only_ours = only_ours && strcasecmp(sub.name.c_str(), "Redirector") == 0 && sub.values.empty()
                && sub.subkeys.size() <= 1;
        if (only_ours)
            remove_key(Hive::LocalMachine, "SOFTWARE\\Tarvizone");
    }
    RegKeyNode uninstall;
    if (read_key(Hive::LocalMachine, kolm::product::k_uninstall_key, uninstall))
        remove_key(Hive::LocalMachine, kolm::product::k_uninstall_key);
    return edits;
}

} // namespace

const kolm::ProgramHelp k_help = {
    "remove",
    "remove [--help | --version]",
    "The Tarvizone Redirector's uninstaller, named in the uninstall entry the\n"
    "installer writes. It ends a running kolm32, deletes the files and folders\n"
    "the setup program made (a folder that holds files of your own stays), and\n"
    "takes the port, its driver entry, the configuration key and the uninstall\n"
    "entry out of the registry. Other arguments are ignored, as on Windows.\n"
    "\n"
    "Environment:\n"
    "  KOLM_ROOT  the machine root (default ~/.local/share/tarvizone)\n"
    "\n"
    "Files:\n"
    "  $KOLM_ROOT/registry.db  the entries it takes out\n"
    "  uninst.log              in the installed folder: what the setup program made\n"
    "\n"
    "Exit status: 0 when done or nothing was installed, 1 when something could\n"
    "not be taken out, 2 for an unknown option.\n",
    KOLM_PRODUCT_ON_LINUX,
};

int main(int argc, char** argv)
{
    if (const auto answered = kolm::linux_entry_options(argc, argv, k_help))
        return *answered;
    if (!stop_runtime())
        return fail("kolm32 is still running and did not end; close it and run remove again");

    RegKeyNode uninstall;
    std::string why;
    if (read_key(Hive::LocalMachine, kolm::product::k_uninstall_key, uninstall)
        && !remove_files(string_value(uninstall, "UninstallString"), why))
        return fail(why);

    const auto edits = registry_edits();
    if (edits.empty()) {
        std::fputs("remove: the Tarvizone Redirector is not installed on this machine\n", stderr);
        return 0;
    }
    if (const LONG st = kolm::platform::apply_registry_edits(edits); st != ERROR_SUCCESS)
        return fail("cannot change the registry (error " + std::to_string(st) + ")");
    // The configuration manager drops the removed port's device node.
    HKEY tree;
    if (RegOpenKeyExA(HKEY_DYN_DATA, "Config Manager\\Enum", 0, KEY_READ, &tree) == ERROR_SUCCESS)
        RegCloseKey(tree);
    std::fputs("remove: the Tarvizone Redirector was removed\n", stderr);
    return 0;
}
