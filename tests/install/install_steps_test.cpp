// The installer's steps in-process: the install script, the path rule, the
// response file, the message boxes, subkey numbering, the binary values
// and the wait for a running kolm32.
#include <chrono>

#include "install_test_util.h"

namespace kolm::test {
namespace {

class InstallSteps : public InstallTest {};

TEST_F(InstallSteps, ScriptLines)
{
    struct Row {
        const char* script;
        const char* path;
        const char* sv[4]; // service text of each slot in the response file
    };
    const Row rows[] = {
        {"path=C:\\X\nsv1=ip:myhost:23\nsv2=ipx:myservice\n", "C:\\X\\",
         {"IP:myhost:23", "IPX:00000000:00-00-00-00-00-01:MYSERVICE", "<empty>", "<empty>"}},
        {"PATH=C:\\X\r\nSV1=IP:host:2001\r\n", "C:\\X\\", {"IP:host:2001", "<empty>", "<empty>", "<empty>"}},
        // No port: IP, and the name stays as it was.
        {"sv1=ip:host\n", "", {"IP:", "<empty>", "<empty>", "<empty>"}},
        {"sv3=ip:a:1\nsv3=ip:b\n", "", {"<empty>", "<empty>", "IP:a:1", "<empty>"}},
        // Ignored: sv5, "sv=", lines without "=" or ":", other protocols.
        {"sv5=ip:a:1\nsv=ip:a:1\nsv1 ip:a:1\nsv2=ipx\nsv3=tcp:a:1\npath D:\\\nfoo=bar\n", "",
         {"<empty>", "<empty>", "<empty>", "<empty>"}},
        {"sv4=IpX:Mixed:Case\npath=\n", "\\", {"<empty>", "<empty>", "<empty>", "IPX:00000000:00-00-00-00-00-01:MIXED:CASE"}},
        {"path=C:\\A\\\npath=D:\\B\n", "D:\\B\\", {"<empty>", "<empty>", "<empty>", "<empty>"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.script);
        SetUp();
        ASSERT_EQ(parseScript(nullptr, file("inst.txt", row.script).c_str()), 0);
        EXPECT_STREQ(scriptData.path, row.path);
        const svInfo* slots[] = {&scriptData.sv1, &scriptData.sv2, &scriptData.sv3, &scriptData.sv4};
        for (int i = 0; i < 4; ++i) {
            char text[160];
            serviceText(slots[i], text, sizeof text);
            EXPECT_STREQ(text, row.sv[i]) << "slot " << i + 1;
        }
    }
    EXPECT_EQ(parseScript(nullptr, (root.path() / "missing.txt").c_str()), -1);
}

TEST_F(InstallSteps, LongScriptLinesAreReadInPieces)
{
    // 99 characters a read: the rest of the line is a line of its own.
    const std::string long_path = "path=C:\\" + std::string(150, 'p');
    const std::string script = long_path + "\nxxxxx" + std::string(94, 'y') + "sv1=ip:tail:1\n";
    ASSERT_EQ(parseScript(nullptr, file("inst.txt", script).c_str()), 0);
    EXPECT_EQ(std::string(scriptData.path), long_path.substr(5, 94) + "\\");
    EXPECT_EQ(scriptData.sv1.protocol, 1);
    EXPECT_STREQ(scriptData.sv1.name, "tail:1");
}

TEST_F(InstallSteps, CheckPathKeepsRoomForTheBackslash)
{
    struct Row {
        std::string in;
        std::string out;
    };
    const Row rows[] = {
        {"", "\\"},
        {"C:\\X", "C:\\X\\"},
        {"C:\\X\\", "C:\\X\\"},
        {std::string(98, 'a'), std::string(98, 'a') + "\\"},
        {std::string(99, 'a'), std::string(98, 'a') + "\\"},
        {std::string(98, 'a') + "\\", std::string(98, 'a') + "\\"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.in);
        char path[100 + 1];
        std::memset(path, 0xbd, sizeof path);
        std::memcpy(path, row.in.c_str(), row.in.size() + 1);
        checkPath(path);
        EXPECT_EQ(std::string(path), row.out);
        EXPECT_EQ(static_cast<unsigned char>(path[100]), 0xbd);
    }
}

TEST_F(InstallSteps, ResponseFileByteForByte)
{
    ASSERT_EQ(parseScript(nullptr, file("inst.txt", "path=C:\\Apps\\R\nsv2=ipx:printsrv\nsv1=ip:host:1\n").c_str()), 0);
    ASSERT_EQ(doISS(nullptr), 0);
    const std::string expected = "[InstallShield Silent]\r\nVersion=v2.10.000\r\nFile=Response File\r\n"
                                 "[Application]\r\nName=Tarvizone Redirector\r\nVersion=1.0\r\nCompany=Tarvizone\r\n"
                                 "[DlgOrder]\r\nDlg0=Welcome-0\r\nDlg1=AskDestPath-0\r\nDlg2=AskText-0\r\n"
                                 "Dlg3=AskText-1\r\nDlg4=AskText-2\r\nDlg5=AskText-3\r\nCount=6\r\n"
                                 "[Welcome-0]\r\nResult=1\r\n[AskDestPath-0]\r\nszPath=C:\\Apps\\R\\\r\nResult=1\r\n"
                                 "[AskText-0]\r\nszText=IP:host:1\r\nResult=1\r\n"
                                 "[AskText-1]\r\nszText=IPX:00000000:00-00-00-00-00-01:PRINTSRV\r\nResult=1\r\n"
                                 "[AskText-2]\r\nszText=<empty>\r\nResult=1\r\n"
                                 "[AskText-3]\r\nszText=<empty>\r\nResult=1\r\n";
    EXPECT_EQ(slurp(root.path() / "drive_c/WINDOWS/kolmvx.iss"), expected);
    EXPECT_STREQ(scriptData.setupCmd, "second.exe -S -F1C:\\WINDOWS\\kolmvx.iss -F2C:\\WINDOWS\\kolmvx.log");
    EXPECT_TRUE(screen_messages().empty());
}

TEST_F(InstallSteps, ResponseFileFailures)
{
    struct Row {
        const char* windir; // null: unset
        const char* message;
    };
    const std::string too_long = "C:\\" + std::string(76, 'w');
    const Row rows[] = {
        {"", "Error: Couldn't get windir"},
        {too_long.c_str(), "Error: Couldn't get windir"},
        {"C:\\NOWHERE", "Error: Can't open C:\\NOWHERE\\kolmvx.iss for writing"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.windir);
        TempRoot fresh;
        SetUp();
        ::setenv("WINDIR", row.windir, 1);
        EXPECT_EQ(doISS(nullptr), -1);
        EXPECT_EQ(screen_messages(), std::vector<std::string>{row.message});
        EXPECT_EQ(gotError, 1);
        EXPECT_STREQ(scriptData.setupCmd, "");
    }
    // The longest WINDIR taken fills the command line to its last place.
    const std::string longest = "C:\\" + std::string(75, 'w');
    std::filesystem::create_directories(root.path() / "drive_c" / std::string(75, 'w'));
    ::setenv("WINDIR", longest.c_str(), 1);
    ASSERT_EQ(doISS(nullptr), 0);
    EXPECT_EQ(std::strlen(scriptData.setupCmd), sizeof scriptData.setupCmd - 1);
    EXPECT_TRUE(std::filesystem::exists(root.path() / "drive_c" / std::string(75, 'w') / "kolmvx.iss"));
}

TEST_F(InstallSteps, MessageBoxesCutTheirTextAt199)
{
    const std::string huge(500, 'x');
    ::setenv("KOLM_MSGBOX_ANSWERS", "IDOK,IDOK,IDOK,IDCANCEL", 1);
    ErrMsg(nullptr, "Couldn't read Driver for %s: %d", huge.c_str(), 2);
    InfoMsg(nullptr, "%s%s", huge.c_str(), huge.c_str());
    EXPECT_EQ(QueryMsg(nullptr, "%s", huge.c_str()), 1);
    EXPECT_EQ(QueryMsg(nullptr, "Update?"), 2);
    const auto shown = screen_messages();
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[0], "Error: Couldn't read Driver for " + std::string(199 - 25, 'x'));
    EXPECT_EQ(shown[1], "Info: " + std::string(199, 'x'));
    EXPECT_EQ(shown[2], "Info: " + std::string(199, 'x'));
    EXPECT_EQ(shown[3], "Info: Update?");
    EXPECT_EQ(gotError, 1);
}

TEST_F(InstallSteps, SubkeyNumbering)
{
    struct Row {
        std::vector<std::string> subkeys;
        const char* next;
        LONG status;
    };
    const Row rows[] = {
        {{}, "0001", ERROR_SUCCESS},
        {{"0000", "0001", "0002"}, "0003", ERROR_SUCCESS},
        {{"0010"}, "0011", ERROR_SUCCESS},
        {{"abc", "x12"}, "0001", ERROR_SUCCESS},
        {{"0007xyz", "0003"}, "0008", ERROR_SUCCESS},
        {{"9999"}, "10000", ERROR_SUCCESS},
        {{"999999998"}, "999999999", ERROR_SUCCESS},
        // Past nine digits: refused rather than written.
        {{"999999999"}, "1000000000", ERROR_INVALID_PARAMETER},
        {{"2147483647"}, "2147483648", ERROR_INVALID_PARAMETER},
        // Numbers beyond 32 bits, and names too long to read, do not count.
        {{"2147483648", "0004"}, "0005", ERROR_SUCCESS},
        {{"00000000000000000000000001", "0002"}, "0003", ERROR_SUCCESS},
    };
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(n);
        const std::string parent = "Numbering\\" + std::to_string(n++);
        HKEY key;
        ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, parent.c_str(), &key), ERROR_SUCCESS);
        for (const auto& sub : row.subkeys) {
            HKEY s;
            ASSERT_EQ(RegCreateKeyA(key, sub.c_str(), &s), ERROR_SUCCESS);
            RegCloseKey(s);
        }
        char name[16];
        std::memset(name, 0xbd, sizeof name);
        EXPECT_EQ(nextSubkey(key, name, sizeof name), row.status);
        EXPECT_STREQ(name, row.next);
        RegCloseKey(key);
    }
}

TEST_F(InstallSteps, FindFree)
{
    struct Row {
        std::vector<std::pair<const char*, WORD>> ports;
        const char* chosen; // null: none
    };
    const Row rows[] = {
        {{}, "COM3"},
        {{{"COM1", 0x3F8}, {"COM2", 0x2F8}}, "COM3"},
        {{{"COM3", 0x100}, {"COM7", 0x2E8}}, "COM5"}, // COM3 by name, COM4 by address
        {{{"COMX", 0x3E9}}, "COM3"},                  // only start addresses count
        {{{"COM3", 0}, {"COM4", 0}, {"COM5", 0}, {"X", 0x110}, {"Y", 0x118}, {"COM8", 0}, {"Z", 0x128}}, nullptr},
    };
    for (const auto& row : rows) {
        curPort = 0;
        for (const auto& [name, start] : row.ports) {
            portInfo& p = Ports[curPort++];
            std::snprintf(p.name, sizeof p.name, "%s", name);
            p.ioStart = start;
        }
        const resInfo* res = findFree();
        if (row.chosen)
            EXPECT_STREQ(res ? res->name : "none", row.chosen);
        else
            EXPECT_EQ(res, nullptr);
    }
}

TEST_F(InstallSteps, DeviceEntryBytes)
{
    ASSERT_TRUE(import_reg("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Enum\\Root]\n\n"
                           "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Ports]\n"));
    char slot[16];
    ASSERT_EQ(doDriver(nullptr, slot), 0);
    EXPECT_STREQ(slot, "0001");
    ASSERT_EQ(doPort(nullptr, slot, &Resources[1]), 0); // COM4 at 0x2E8
    const std::string entry = "Enum\\Root\\Ports\\0001";
    const std::vector<BYTE> forced = {0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00,
                                      0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0xE8, 0x02,
                                      0xEF, 0x02, 0x00, 0x00, 0x00, 0x00, 0xF0, 0xFF, 0x08, 0x00, 0xE8,
                                      0x02, 0xE8, 0x02, 0x00, 0x00, 0x2C, 0x18, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(hklm_bytes(entry, "ForcedConfig"), forced);
    EXPECT_EQ(hklm_bytes(entry, "ConfigFlags"), (std::vector<BYTE>{4, 0, 0, 0}));
    const std::vector<BYTE> log0 = {
        0x00, 0x04, 0x00, 0x00, 0x00, 0x30, 0x00, 0x00, 0x44, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
        0x04, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x08, 0x00,
        0xF8, 0x03, 0xFF, 0x03, 0x00, 0x00, 0x00, 0x03, 0xFF, 0xFF, 0x08, 0x00, 0xF8, 0x02, 0xFF, 0x02,
        0x00, 0x00, 0x00, 0x03, 0xFF, 0xFF, 0x08, 0x00, 0xE8, 0x03, 0xEF, 0x03, 0x03, 0x00, 0x00, 0x03,
        0xFF, 0xFF, 0x08, 0x00, 0xE8, 0x02, 0xEF, 0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00};
    const std::vector<BYTE> log1 = {0x00, 0x04, 0x00, 0x00, 0x00, 0x30, 0x00, 0x00, 0x20, 0x00, 0x00,
                                    0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x0C, 0x00, 0x00, 0x00,
                                    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF8, 0xFF, 0x08, 0x00, 0x00,
                                    0x01, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(hklm_bytes(entry + "\\LogConfig", "0"), log0);
    EXPECT_EQ(hklm_bytes(entry + "\\LogConfig", "1"), log1);
    struct Row {
        std::string key;
        const char* name;
        const char* text;
    };
    const std::string cls = "System\\CurrentControlSet\\Services\\Class\\Ports\\0001";
    const Row rows[] = {
        {entry, "Class", "Ports"},
        {entry, "HardwareID", "Ports"},
        {entry, "Mfg", "Tarvizone"},
        {entry, "Driver", "Ports\\0001"},
        {entry, "DeviceDesc", "Com Port Redirector (COM4)"},
        {entry, "FRIENDLYNAME", "Com Port Redirector (COM4)"},
        {entry, "PORTNAME", "COM4"},
        {cls, "DevLoader", "*vcomm"},
        {cls, "DriverDesc", "Com Port Redirector"},
        {cls, "InfPath", "KOLMVX.INF"},
        {cls, "InfSection", "Redirector"},
        {cls, "PortDriver", "kolmvx.vxd"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(hklm_string(row.key, row.name), row.text) << row.key << " " << row.name;
    EXPECT_EQ(hklm_bytes(cls, "PortSubClass"), std::vector<BYTE>{1});
    EXPECT_TRUE(screen_messages().empty());
}

TEST_F(InstallSteps, RegistrationWithoutTheDeviceBranches)
{
    // An entry already there under the next number is reported but not
    // written, and the step still answers 0.
    ASSERT_TRUE(import_reg("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Enum\\Root\\Ports\\0001]\n\"Mfg\"=\"x\"\n"));
    char slot[16];
    EXPECT_NE(doDriver(nullptr, slot), 0);
    EXPECT_EQ(screen_messages(),
              std::vector<std::string>{"Error: Couldn't open System\\CurrentControlSet\\Services\\Class\\Ports"});
    EXPECT_EQ(doPort(nullptr, "0001", &Resources[0]), 0);
    EXPECT_TRUE(hklm_exists("Enum\\Root\\Ports\\0002\\LogConfig"));
    EXPECT_EQ(hklm_string("Enum\\Root\\Ports\\0001", "Mfg"), "x");

    TempRoot fresh;
    SetUp();
    ASSERT_TRUE(import_reg("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Enum]\n"));
    EXPECT_EQ(doPort(nullptr, "0001", &Resources[0]), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(screen_messages(), std::vector<std::string>{"Error: Couldn't open Enum\\Root"});
}

int g_destroyed = 0;

LRESULT CALLBACK RecordingProc(HWND h, UINT m, WPARAM w, LPARAM l)
{
    if (m == WM_DESTROY)
        ++g_destroyed;
    return DefWindowProcA(h, m, w, l);
}

TEST_F(InstallSteps, Kolm32IsStoppedWithAWaitOnlyWhenItRuns)
{
    using clock = std::chrono::steady_clock;
    auto start = clock::now();
    EXPECT_EQ(stopKolm32(), 0);
    EXPECT_LT(clock::now() - start, std::chrono::milliseconds(1000));

    WNDCLASSA wc = {};
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = "kolm32";
    ASSERT_NE(RegisterClassA(&wc), 0);
    HWND runtime = CreateWindowA("kolm32", "kolm32", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                 nullptr);
    ASSERT_NE(runtime, nullptr);
    start = clock::now();
    EXPECT_EQ(stopKolm32(), 1);
    EXPECT_GE(clock::now() - start, std::chrono::milliseconds(2000));
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
    EXPECT_EQ(g_destroyed, 1);
    DestroyWindow(runtime);
}

} // namespace
} // namespace kolm::test
