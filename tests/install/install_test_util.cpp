#include "install_test_util.h"

#include <fstream>
#include <sstream>

#include "dialog/screen_log_reader.h"

namespace kolm::test {

void InstallTest::SetUp()
{
    ::setenv("KOLM_UI", "headless", 1);
    ::unsetenv("KOLM_MSGBOX_ANSWERS");
    ::unsetenv("WINDIR");
    std::memset(&scriptData, 0, sizeof scriptData);
    curPort = 0;
    gotError = 0;
    doAuto = 1;
}

std::string InstallTest::file(const std::string& name, const std::string& text) const
{
    const auto p = root.path() / name;
    std::ofstream(p, std::ios::binary) << text;
    return p.string();
}

bool InstallTest::import_reg(const std::string& text) const
{
    const std::string reg = file("machine.reg", text);
    return run_command(bin_path("kolmreg").string() + " import " + reg + " 2>&1").status == 0;
}

std::vector<std::string> screen_messages()
{
    std::vector<std::string> out;
    for (const auto& line : platform::read_screen_log()) {
        if (line.kind == "messagebox")
            out.push_back(line.caption + ": " + line.text);
        else if (line.kind == "help")
            out.push_back("help " + line.caption + " " + line.text);
    }
    return out;
}

std::string slurp(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<BYTE> hklm_bytes(const std::string& key, const char* name)
{
    HKEY k;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
        return {};
    BYTE buf[512];
    DWORD size = sizeof buf;
    const LONG st = RegQueryValueExA(k, name, nullptr, nullptr, buf, &size);
    RegCloseKey(k);
    if (st != ERROR_SUCCESS)
        return {};
    return std::vector<BYTE>(buf, buf + size);
}

std::string hklm_string(const std::string& key, const char* name)
{
    const auto data = hklm_bytes(key, name);
    if (data.empty())
        return "<none>";
    // Every string the installer writes counts its NUL.
    if (data.back() != 0)
        return "<no NUL>";
    return std::string(data.begin(), data.end() - 1);
}

bool hklm_exists(const std::string& key)
{
    HKEY k;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
        return false;
    RegCloseKey(k);
    return true;
}

} // namespace kolm::test
