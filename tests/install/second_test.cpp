// The setup program's stand-in: how it reads a response file, and what a
// response file it cannot use leaves behind (a log with the reason, and
// nothing else).
#include "install_test_util.h"
#include "response_file.h"

namespace kolm::test {
namespace {

using namespace kolm::second;

// A response file as the installer writes it, with the given answers.
std::string response(const std::string& path, const std::string& sv0 = "IP:h:1")
{
    std::string text = "[InstallShield Silent]\r\nVersion=v2.10.000\r\nFile=Response File\r\n[Application]\r\n"
                       "Name=Tarvizone Redirector\r\nVersion=1.0\r\nCompany=Tarvizone\r\n[DlgOrder]\r\n"
                       "Dlg0=Welcome-0\r\nDlg1=AskDestPath-0\r\nDlg2=AskText-0\r\nDlg3=AskText-1\r\n"
                       "Dlg4=AskText-2\r\nDlg5=AskText-3\r\nCount=6\r\n[Welcome-0]\r\nResult=1\r\n"
                       "[AskDestPath-0]\r\nszPath="
        + path + "\r\nResult=1\r\n[AskText-0]\r\nszText=" + sv0 + "\r\nResult=1\r\n";
    for (int i = 1; i < 4; ++i)
        text += "[AskText-" + std::to_string(i) + "]\r\nszText=<empty>\r\nResult=1\r\n";
    return text;
}

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

TEST(SecondResponse, Rows)
{
    struct Row {
        const char* what;
        std::string text;
        int code;
    };
    const std::string good = response("C:\\P\\");
    const Row rows[] = {
        {"as written", good, k_success},
        {"LF line ends and other cases", replaced(replaced(good, "\r\n", "\n"), "[AskText-0]", "[asktext-0]"),
         k_success},
        {"no path", response(""), k_data_not_found},
        {"a dialog missing", replaced(good, "[AskText-2]", "[Other]"), k_data_not_found},
        {"a dialog not answered with Next", replaced(good, "[Welcome-0]\r\nResult=1", "[Welcome-0]\r\nResult=2"),
         k_data_not_found},
        {"dialogs in another order", replaced(good, "Dlg2=AskText-0", "Dlg2=AskText-1"), k_dialogs_out_of_order},
        {"another count", replaced(good, "Count=6", "Count=5"), k_dialogs_out_of_order},
        {"not a response file", "hello\r\n", k_data_not_found},
        {"empty", "", k_data_not_found},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const auto parsed = parse_response(row.text);
        if (row.code == k_success) {
            ASSERT_TRUE(std::holds_alternative<Answers>(parsed));
        } else {
            ASSERT_TRUE(std::holds_alternative<ResultCode>(parsed));
            EXPECT_EQ(std::get<ResultCode>(parsed), row.code);
        }
    }
    // Answers are verbatim; "<empty>" is the empty string.
    const auto answers = std::get<Answers>(parse_response(response("C:\\Program Files\\X\\", "IP:a b:1 ")));
    EXPECT_EQ(answers.dest_path, "C:\\Program Files\\X\\");
    EXPECT_EQ(answers.services[0], "IP:a b:1 ");
    EXPECT_EQ(answers.services[1], "");
}

class SecondProgram : public InstallTest {
protected:
    int second(const std::string& args)
    {
        return run_command(bin_path("second").string() + " " + args + " 2>/dev/null").status;
    }
    std::string log() { return slurp(root.path() / "drive_c/WINDOWS/kolmvx.log"); }
};

TEST_F(SecondProgram, AResponseFileItCannotUseChangesNothing)
{
    std::filesystem::create_directories(root.path() / "drive_c/WINDOWS");
    const std::string args = "-S '-F1C:\\WINDOWS\\kolmvx.iss' '-F2C:\\WINDOWS\\kolmvx.log'";
    EXPECT_EQ(second(args), 1);
    EXPECT_NE(log().find("[ResponseResult]\r\nResultCode=-5\r\n"), std::string::npos) << log();

    file("drive_c/WINDOWS/kolmvx.iss", response(""));
    EXPECT_EQ(second(args), 1);
    EXPECT_NE(log().find("ResultCode=-3\r\n"), std::string::npos) << log();
    EXPECT_FALSE(hklm_exists("SOFTWARE\\Tarvizone"));
    EXPECT_FALSE(std::filesystem::exists(root.path() / "drive_c/P"));

    EXPECT_EQ(second("'-F1C:\\WINDOWS\\kolmvx.iss' '-F2C:\\WINDOWS\\kolmvx.log'"), 2) << "silent mode only";
}

TEST_F(SecondProgram, InstallsIntoTheDestinationAndRemoveTakesItOut)
{
    file("answers.iss", response("C:\\P\\Q\\", "IP:far:7"));
    const std::string log_path = (root.path() / "setup.log").string();
    ASSERT_EQ(second("-s -f1" + (root.path() / "answers.iss").string() + " -f2" + log_path), 0);
    EXPECT_NE(slurp(log_path).find("ResultCode=0\r\n"), std::string::npos);
    for (const char* f : {"kolm32", "remove", "help/index.html", "help/install.html", "uninst.log"})
        EXPECT_TRUE(std::filesystem::exists(root.path() / "drive_c/P/Q" / f)) << f;
    EXPECT_EQ(hklm_string("SOFTWARE\\Tarvizone\\Redirector\\1.0", "Service0"), "IP:far:7");
    EXPECT_EQ(hklm_string("SOFTWARE\\Tarvizone\\Redirector\\1.0", "Service3"), "");

    // A file of the user's own stays, and so does its folder.
    file("drive_c/P/mine.txt", "mine");
    HKEY k;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, uninstKeyName, &k), ERROR_SUCCESS);
    const char uninstall[] = "C:\\P\\Q\\remove.exe";
    RegSetValueExA(k, "UninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(uninstall), sizeof uninstall);
    RegCloseKey(k);
    EXPECT_EQ(run_command((root.path() / "drive_c/P/Q/remove").string() + " 2>/dev/null").status, 0);
    EXPECT_FALSE(std::filesystem::exists(root.path() / "drive_c/P/Q"));
    EXPECT_TRUE(std::filesystem::exists(root.path() / "drive_c/P/mine.txt"));
    EXPECT_FALSE(std::filesystem::exists(root.path() / "setup.log"));
    EXPECT_FALSE(hklm_exists("SOFTWARE\\Tarvizone"));
    EXPECT_FALSE(hklm_exists(uninstKeyName));
}

} // namespace
} // namespace kolm::test
