// The kolmreg tool, run as a program against a fresh machine root.
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "child_process.h"
#include "registry_test_util.h"
#include "test_support.h"

namespace kolm::test {
namespace {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

class Kolmreg : public RootedTest {
protected:
    // Runs kolmreg with the arguments (already quoted for the shell),
    // standard input from /dev/null so that nothing can be confirmed.
    ToolRun kolmreg(const std::string& args)
    {
        auto r = run_program("/bin/sh", {"-c", "exec " + bin_path("kolmreg").string() + " " + args});
        return ToolRun{r.status, r.out, r.err};
    }

    static std::string slurp(const std::filesystem::path& p)
    {
        std::ifstream in(p, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    std::string temp_file(const std::string& name, const std::string& text)
    {
        const auto p = root.path() / name;
        std::ofstream(p, std::ios::binary) << text;
        return p.string();
    }

    static std::string fixture(const std::string& name) { return std::string(KOLM_FIXTURE_DIR) + "/" + name; }
};

constexpr const char* k_not_found = "ERROR: The system was unable to find the specified registry key or value.\n";

TEST_F(Kolmreg, QueryPrintsKeyValuesAndSubkeys)
{
    ASSERT_EQ(kolmreg(fixture("registry_hklm.reg").insert(0, "import ")).status, 0);

    ToolRun r = kolmreg(R"(query "HKLM\Software\Tarvizone\Redirector\1.0")");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "\n"
                     "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarvizone\\Redirector\\1.0\n"
                     "    (Default)    REG_SZ    \n"
                     "    A2V    REG_DWORD    0xc0012340\n"
                     "    Empty    REG_SZ    \n"
                     "    Event    REG_DWORD    0x0\n"
                     "    HWND    REG_DWORD    0x12c\n"
                     "    List    REG_MULTI_SZ    IP:server7:3\\0IPX:PRINTSRV\n"
                     "    lower_case    REG_SZ    kept as written\n"
                     "    NoNul    REG_SZ    COM5\n"
                     "    Nothing    REG_NONE    \n"
                     "    Path    REG_EXPAND_SZ    %WINDIR%\\kolm32.exe\n"
                     "    Quoted    REG_SZ    say \"hi\" to C:\\WINDOWS\\\n"
                     "    Service0    REG_SZ    IP:server7:3\n"
                     "    Service1    REG_SZ    \n"
                     "    Service2    REG_SZ    IPX:00000012:00-00-1B-22-3C-4D:PRINTSRV\n"
                     "    Twice    REG_SZ    a\n"
                     "    Wide    REG_QWORD    0x807060504030201\n"
                     "    ZeroBin    REG_BINARY    \n"
                     "    _last    REG_SZ    after Z\n"
                     "\n"
                     "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarvizone\\Redirector\\1.0\\Empty Key\n");

    r = kolmreg(R"(query 'HKLM\enum\root' /s)");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "\n"
                     "HKEY_LOCAL_MACHINE\\Enum\\Root\n"
                     "\n"
                     "HKEY_LOCAL_MACHINE\\Enum\\Root\\Ports\n"
                     "\n"
                     "HKEY_LOCAL_MACHINE\\Enum\\Root\\Ports\\0001\n"
                     "    Class    REG_SZ    Ports\n"
                     "    ConfigFlags    REG_BINARY    04000000\n"
                     "    DeviceDesc    REG_SZ    Com Port Redirector (COM5)\n"
                     "    ForcedConfig    REG_BINARY    "
                     "0000000001000000000000000000000000000000E803EF030000000000000000E803E80300001100"
                     "00000000\n"
                     "    Mfg    REG_SZ    Tarvizone\n"
                     "    PORTNAME    REG_SZ    COM5\n"
                     "\n"
                     "HKEY_LOCAL_MACHINE\\Enum\\Root\\Ports\\0001\\LogConfig\n"
                     "    0    REG_BINARY    "
                     "808182838485868788898A8B8C8D8E8F909192939495969798999A9B9C9D9E9FA0A1A2A3A4A5A6A7"
                     "A8A9AAABACADAEAFB0B1B2B3B4B5B6B7B8B9BABBBCBDBEBFC0C1C2C3C4C5C6C7C8C9CACBCCCDCECF\n"
                     "    1    REG_BINARY    "
                     "00070E151C232A31383F464D545B626970777E858C939AA1A8AFB6BDC4CBD2D9E0E7EEF5FC030A11181F262D\n");
}

TEST_F(Kolmreg, QueryOfOneValue)
{
    ASSERT_EQ(kolmreg("import " + fixture("registry_hklm.reg")).status, 0);
    const std::string key = R"("HKEY_LOCAL_MACHINE\SOFTWARE\Tarvizone\Redirector\1.0")";

    ToolRun r = kolmreg("query " + key + " /v hwnd");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Tarvizone\\Redirector\\1.0\n    HWND    REG_DWORD    0x12c\n");

    r = kolmreg(R"(query 'HKLM\SOFTWARE\Tarvizone' /ve)");
    EXPECT_EQ(r.out, "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Tarvizone\n    (Default)    REG_SZ    Tarvizone default\n");
    r = kolmreg(R"(query 'HKLM\SOFTWARE' /ve)");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "\nHKEY_LOCAL_MACHINE\\SOFTWARE\n    (Default)    REG_SZ    (value not set)\n");

    r = kolmreg(R"(query 'HKLM' /v PORTNAME /s)");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "\nHKEY_LOCAL_MACHINE\\Enum\\Root\\Ports\\0001\n    PORTNAME    REG_SZ    COM5\n"
                     "\nEnd of search: 1 match(es) found.\n");

    for (const std::string& args : {"query " + key + " /v Missing", std::string(R"(query 'HKLM\Missing')"),
                                   std::string(R"(query 'HKLM' /v Missing /s)")}) {
        SCOPED_TRACE(args);
        r = kolmreg(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, k_not_found);
    }
}

TEST_F(Kolmreg, AddWritesEachTypeAndAsksBeforeOverwriting)
{
    struct Row {
        const char* args;
        DWORD type;
        std::vector<BYTE> data;
    };
    const Row rows[] = {
        {"/v S /d COM5", REG_SZ, bytes(std::string("COM5", 5))},
        {"/v S2 /t REG_SZ", REG_SZ, {0}},
        {"/v X /t REG_EXPAND_SZ /d %WINDIR%", REG_EXPAND_SZ, bytes(std::string("%WINDIR%", 9))},
        {R"(/v M /t REG_MULTI_SZ /d "a\0b")", REG_MULTI_SZ, {'a', 0, 'b', 0, 0}},
        {"/v D /t REG_DWORD /d 300", REG_DWORD, {0x2c, 1, 0, 0}},
        {"/v H /t reg_dword /d 0xC0012340", REG_DWORD, {0x40, 0x23, 0x01, 0xc0}},
        {"/v B /t REG_BINARY /d 0400ff", REG_BINARY, {4, 0, 0xff}},
        {"/v N /t REG_NONE", REG_NONE, {}},
        {"/ve /d dflt", REG_SZ, bytes(std::string("dflt", 5))},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args);
        ToolRun r = kolmreg(std::string(R"(add 'HKLM\SOFTWARE\T' )") + row.args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "The operation completed successfully.\n");
        Key k;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\T", 0, KEY_READ, k.out()), ERROR_SUCCESS);
        const std::string args = row.args;
        const std::string name = args.rfind("/ve", 0) == 0 ? "" : args.substr(3, args.find(' ', 3) - 3);
        DWORD type = 0;
        std::vector<BYTE> got;
        ASSERT_EQ(read_value(k, name.c_str(), type, got), ERROR_SUCCESS);
        EXPECT_EQ(type, row.type);
        EXPECT_EQ(got, row.data);
    }

    // Without /f and without a terminal: not overwritten, exit 1.
    ToolRun r = kolmreg(R"(add 'HKLM\SOFTWARE\T' /v D /t REG_DWORD /d 7)");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("(Yes/No)"), std::string::npos);
    Key k;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\T", 0, KEY_READ, k.out()), ERROR_SUCCESS);
    DWORD type = 0;
    std::vector<BYTE> got;
    ASSERT_EQ(read_value(k, "D", type, got), ERROR_SUCCESS);
    EXPECT_EQ(got, (std::vector<BYTE>{0x2c, 1, 0, 0}));
    r = kolmreg(R"(add 'HKLM\SOFTWARE\T' /v D /t REG_DWORD /d 7 /f)");
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(read_value(k, "D", type, got), ERROR_SUCCESS);
    EXPECT_EQ(got, (std::vector<BYTE>{7, 0, 0, 0}));

    // A key alone.
    EXPECT_EQ(kolmreg(R"(add "HKDD\Config Manager\Enum\C1")").status, 0);
    Key dyn;
    EXPECT_EQ(RegOpenKeyExA(HKEY_DYN_DATA, "Config Manager\\Enum\\C1", 0, KEY_READ, dyn.out()), ERROR_SUCCESS);
}

TEST_F(Kolmreg, BadArgumentsFailWithAReason)
{
    struct Row {
        const char* args;
        const char* says;
    };
    const Row rows[] = {
        {"", "Invalid syntax"},
        {"frobnicate HKLM", "Invalid syntax"},
        {R"(query 'HKLM\A' /v)", "Invalid syntax"},
        {R"(query 'HKLM\A' /v x /ve)", "Invalid syntax"},
        {R"(query 'HKLM\A' /va)", "Invalid syntax"},
        {R"(query 'HKCU\Software')", "Invalid key name"},
        {R"(add 'HKLM\A' /v D /t REG_DWORD /d 12x)", "not valid for REG_DWORD"},
        {R"(add 'HKLM\A' /v D /t REG_DWORD /d 4294967296)", "not valid for REG_DWORD"},
        {R"(add 'HKLM\A' /v B /t REG_BINARY /d 123)", "not valid for REG_BINARY"},
        {R"(add 'HKLM\A' /v Q /t REG_QWORD /d 1)", "Invalid type"},
        {R"(delete 'HKLM\Missing' /f)", "unable to find"},
        {R"(delete 'HKLM' /f)", "root key"},
        {R"(export 'HKLM\Missing' out.reg)", "unable to find"},
        {"import /nonexistent/file.reg", "Unable to read"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args);
        ToolRun r = kolmreg(row.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(row.says), std::string::npos) << r.err;
        EXPECT_EQ(r.err.rfind("ERROR: ", 0), 0u) << r.err;
    }
    // Nothing of the failed adds was written.
    Key k;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "A", 0, KEY_READ, k.out()), ERROR_FILE_NOT_FOUND);
}

TEST_F(Kolmreg, DeleteAsksAndRemovesKeysAndValues)
{
    ASSERT_EQ(kolmreg("import " + fixture("registry_hklm.reg")).status, 0);
    const std::string key = R"("HKLM\SOFTWARE\Tarvizone\Redirector\1.0")";

    // Unconfirmed: nothing happens.
    for (const char* opts : {"", " /v HWND", " /ve", " /va"}) {
        SCOPED_TRACE(opts);
        ToolRun r = kolmreg("delete " + key + opts);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("(Yes/No)"), std::string::npos);
    }
    Key k;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tarvizone\\Redirector\\1.0", 0, KEY_READ, k.out()),
              ERROR_SUCCESS);
    EXPECT_EQ(value_names(k).size(), 18u);

    EXPECT_EQ(kolmreg("delete " + key + " /v hwnd /f").status, 0);
    EXPECT_EQ(kolmreg("delete " + key + " /ve /f").status, 0);
    EXPECT_EQ(value_names(k).size(), 16u);
    EXPECT_EQ(RegQueryValueExA(k, "HWND", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    ToolRun r = kolmreg("delete " + key + " /v hwnd /f");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, k_not_found);

    EXPECT_EQ(kolmreg("delete " + key + " /va /f").status, 0);
    EXPECT_TRUE(value_names(k).empty());
    EXPECT_EQ(subkey_names(k), std::vector<std::string>{"Empty Key"});

    EXPECT_EQ(kolmreg(R"(delete 'HKLM\SOFTWARE\Tarvizone' /f)").status, 0);
    EXPECT_EQ(RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_KEY_DELETED);
    Key sw;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, sw.out()), ERROR_SUCCESS);
    EXPECT_TRUE(subkey_names(sw).empty());
}

TEST_F(Kolmreg, ImportThenExportGivesTheSameFileByteForByte)
{
    struct Row {
        const char* fixture;
        const char* key;
    };
    for (const Row row : {Row{"registry_hklm.reg", "HKLM"}, Row{"registry_dyn.reg", "HKEY_DYN_DATA"}}) {
        SCOPED_TRACE(row.fixture);
        const std::string original = slurp(fixture(row.fixture));
        ASSERT_FALSE(original.empty());
        ASSERT_EQ(kolmreg("import " + fixture(row.fixture)).status, 0);
        const auto out = root.path() / (std::string("out-") + row.fixture);
        ToolRun r = kolmreg(std::string("export ") + row.key + " " + out.string());
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(slurp(out), original);
    }

    // The same file with CRLF line ends imports to the same registry.
    std::string crlf;
    for (char c : slurp(fixture("registry_hklm.reg")))
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    TempRoot fresh;
    ASSERT_EQ(kolmreg("import " + temp_file("crlf.reg", crlf)).status, 0);
    const auto out = fresh.path() / "out.reg";
    ASSERT_EQ(kolmreg("export HKEY_LOCAL_MACHINE " + out.string()).status, 0);
    EXPECT_EQ(slurp(out), slurp(fixture("registry_hklm.reg")));
}

TEST_F(Kolmreg, ExportOfASubkeyAndOverwriteNeedsY)
{
    ASSERT_EQ(kolmreg("import " + fixture("registry_dyn.reg")).status, 0);
    const std::string file = temp_file("node.reg", "keep me");
    ToolRun r = kolmreg(R"(export "HKDD\Config Manager\Enum\C29A5A40" )" + file);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(slurp(file), "keep me");

    r = kolmreg(R"(export "HKDD\config manager\enum\c29a5a40" )" + file + " /y");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(file), "REGEDIT4\n\n"
                           "[HKEY_DYN_DATA\\Config Manager\\Enum\\C29A5A40]\n"
                           "\"HardWareKey\"=\"Root\\\\Ports\\\\0001\"\n"
                           "\"Problem\"=hex:00,00,00,00\n\n");
}

TEST_F(Kolmreg, ImportAppliesDeletions)
{
    ASSERT_EQ(kolmreg("import " + fixture("registry_hklm.reg")).status, 0);
    const std::string edits = "REGEDIT4\n\n"
                              "[-HKEY_LOCAL_MACHINE\\Enum\\Root\\Ports\\0001]\n\n"
                              "[-HKEY_LOCAL_MACHINE\\Enum\\Never\\Was]\n\n"
                              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarvizone\\Redirector\\1.0]\n"
                              "\"HWND\"=-\n"
                              "\"NoSuchValue\"=-\n"
                              "@=-\n"
                              "\"Service0\"=\"IP:other:4\"\n";
    ToolRun r = kolmreg("import " + temp_file("edits.reg", edits));
    ASSERT_EQ(r.status, 0) << r.err;

    Key ports;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\Root\\Ports", 0, KEY_READ, ports.out()), ERROR_SUCCESS);
    EXPECT_TRUE(subkey_names(ports).empty());
    Key cfg;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tarvizone\\Redirector\\1.0", 0, KEY_READ, cfg.out()),
              ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(cfg, "HWND", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExA(cfg, "", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    DWORD type = 0;
    std::vector<BYTE> got;
    ASSERT_EQ(read_value(cfg, "Service0", type, got), ERROR_SUCCESS);
    EXPECT_EQ(got, bytes(std::string("IP:other:4", 11)));
}

TEST_F(Kolmreg, BadImportNamesTheLineAndWritesNothing)
{
    // The first sections are fine; line 7 is not, and line 10 would fail in
    // the store (a name too long): neither import may leave anything behind.
    const std::string bad_line = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Fresh]\n\"a\"=\"1\"\n\n"
                                 "[HKEY_LOCAL_MACHINE\\Fresh\\More]\n\"b\"=dword:xyz\n";
    ToolRun r = kolmreg("import " + temp_file("bad.reg", bad_line));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("bad.reg: line 7: "), std::string::npos) << r.err;

    const std::string bad_value = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Fresh]\n\"a\"=\"1\"\n\n"
                                  "[HKEY_LOCAL_MACHINE\\Fresh\\More]\n\n\n\n\"" + std::string(16384, 'n') + "\"=\"x\"\n";
    r = kolmreg("import " + temp_file("toolong.reg", bad_value));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("toolong.reg: line 10: "), std::string::npos) << r.err;

    Key k;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Fresh", 0, KEY_READ, k.out()), ERROR_FILE_NOT_FOUND);
}

// A name holding a CR or LF could never be exported (each name sits on one
// line): import and add refuse it, and export keeps working.
TEST_F(Kolmreg, NamesWithLineBreaksAreRefused)
{
    const std::string head = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Fresh]\n\"a\"=\"1\"\n\n";
    struct Row {
        const char* name;
        std::string args;
    };
    const Row rows[] = {
        {"import, CR in a key name", "import " + temp_file("k.reg", head + "[HKEY_LOCAL_MACHINE\\Fr\resh]\n")},
        {"import, CR in a value name", "import " + temp_file("v.reg", head + "\"b\rc\"=\"2\"\n")},
        {"add, LF in a value name", R"x(add "HKLM\Fresh" /v "$(printf 'b\nc')" /d 2 /f)x"},
        {"add, CR in a value name", R"x(add "HKLM\Fresh" /v "$(printf 'b\rc')" /d 2 /f)x"},
        {"add, LF in a key name", R"x(add "HKLM\Fresh\\$(printf 'x\ny')" /f)x"},
    };
    for (const Row& row : rows) {
        ToolRun r = kolmreg(row.args);
        EXPECT_EQ(r.status, 1) << row.name;
        EXPECT_NE(r.err.find("carriage return or line feed"), std::string::npos) << row.name << ": " << r.err;
        Key k;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Fresh", 0, KEY_READ, k.out()), ERROR_FILE_NOT_FOUND)
            << row.name << ": something was written";
        ToolRun e = kolmreg("export HKLM " + (root.path() / "out.reg").string() + " /y");
        EXPECT_EQ(e.status, 0) << row.name << ": " << e.err;
    }
}

// The registry is the owner's alone, journal files included; files an
// older root left readable by others are tightened when next opened.
TEST_F(Kolmreg, RegistryFilesAreTheOwnersAlone)
{
    const auto db = root.path() / "registry.db";
    auto mode = [](const std::filesystem::path& p) {
        struct stat st {};
        return ::stat(p.c_str(), &st) == 0 ? st.st_mode & 0777 : 0u;
    };
    // Written from this process, whose connection keeps the WAL files.
    Key k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Private", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, k.out(), nullptr),
              ERROR_SUCCESS);
    for (const char* suffix : {"", "-wal", "-shm"}) {
        const std::filesystem::path p = db.string() + suffix;
        ASSERT_TRUE(std::filesystem::exists(p)) << p;
        EXPECT_EQ(mode(p), 0600u) << p;
    }
    ::chmod(db.c_str(), 0644);
    ASSERT_EQ(kolmreg(R"(query "HKLM\Private")").status, 0);
    EXPECT_EQ(mode(db), 0600u);
}

// Runs kolmreg with a terminal on standard input on which `answer` has
// already been typed; returns the exit status and standard output.
ToolRun run_on_terminal(const std::vector<std::string>& args, const std::string& answer)
{
    ToolRun r;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return r;
    const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave >= 0 && ::write(master, answer.data(), answer.size()) == static_cast<ssize_t>(answer.size())) {
        const RunResult run
            = run_program("kolmreg", args, ChildOptions{.stdin_from = StdinFrom::Fd, .stdin_fd = slave});
        r = ToolRun{run.status, run.out, run.err};
    }
    if (slave >= 0)
        ::close(slave);
    ::close(master);
    return r;
}

TEST_F(Kolmreg, OnATerminalTheAnswerDecides)
{
    ASSERT_EQ(kolmreg("import " + fixture("registry_hklm.reg")).status, 0);
    const std::string key = "HKLM\\SOFTWARE\\Tarvizone\\Redirector\\1.0";
    Key k;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tarvizone\\Redirector\\1.0", 0, KEY_READ, k.out()),
              ERROR_SUCCESS);

    ToolRun r = run_on_terminal({"delete", key, "/v", "HWND"}, "no\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Delete the registry value HWND (Yes/No)? The operation was cancelled by the user.\n");
    EXPECT_EQ(RegQueryValueExA(k, "HWND", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);

    r = run_on_terminal({"add", key, "/v", "HWND", "/t", "REG_DWORD", "/d", "1"}, "Yes\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Value HWND exists, overwrite (Yes/No)? The operation completed successfully.\n");
    DWORD v = 0, size = 4;
    EXPECT_EQ(RegQueryValueExA(k, "HWND", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size), ERROR_SUCCESS);
    EXPECT_EQ(v, 1u);

    r = run_on_terminal({"delete", key, "/v", "HWND"}, "y\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(RegQueryValueExA(k, "HWND", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
}

} // namespace
} // namespace kolm::test
