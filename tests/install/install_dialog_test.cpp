// The installer's dialogs driven from outside with kolmwin, as a user
// would: headless, each dialog found by its caption once the screen log
// shows it.
#include <memory>

#include "child_process.h"
#include "dialog/screen_log_reader.h"
#include "install_test_util.h"

namespace kolm::test {
namespace {

using platform::ScreenLine;

class InstallDialogs : public InstallTest {
protected:
    void SetUp() override
    {
        InstallTest::SetUp();
        ::unsetenv("DISPLAY");
        installer = std::make_unique<ChildProcess>(bin_path("install").string(), std::vector<std::string>{});
        ASSERT_TRUE(installer->started());
    }

    // The handle of the dialog with this caption once it is shown.
    std::string dialog(const std::string& caption)
    {
        if (!log.wait_for([&](const ScreenLine& l) { return l.kind == "dialog-shown" && l.caption == caption; }))
            return "";
        auto found = kolmwin("find '#32770' '" + caption + "'");
        if (found.status != 0)
            return "";
        found.out.pop_back();
        return found.out;
    }

    CommandResult kolmwin(const std::string& args)
    {
        return run_command(bin_path("kolmwin").string() + " " + args + " 2>/dev/null");
    }

    std::optional<ScreenLine> help_line(const char* topic)
    {
        return log.wait_for([&](const ScreenLine& l) { return l.kind == "help" && l.text == topic; });
    }

    bool nothing_installed()
    {
        return !std::filesystem::exists(root.path() / "drive_c/WINDOWS/kolmvx.iss") && !hklm_exists(uninstKeyName);
    }

    std::unique_ptr<ChildProcess> installer;
    platform::ScreenLogReader log;
};

TEST_F(InstallDialogs, AutomaticWithTheDefaultPath)
{
    const std::string method = dialog("Installation Method");
    ASSERT_FALSE(method.empty());
    const auto controls = kolmwin("controls " + method).out;
    EXPECT_NE(controls.find("10 BUTTON enabled visible checked=1 \"Automatic Installation\""), std::string::npos)
        << controls;
    EXPECT_NE(controls.find("11 BUTTON enabled visible checked=0 \"Manual Installation\""), std::string::npos);
    ASSERT_EQ(kolmwin("click " + method + " 1").status, 0);

    const std::string path = dialog("Destination Path");
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(kolmwin("gettext " + path + " 10").out, std::string(defaultAppPath) + "\n");
    ASSERT_EQ(kolmwin("click " + path + " 1").status, 0);

    auto done = log.wait_for([](const ScreenLine& l) { return l.kind == "messagebox"; });
    ASSERT_TRUE(done);
    EXPECT_EQ(done->caption + ": " + done->text, std::string("Info: ") + successText);
    auto help = help_line("context 1037");
    ASSERT_TRUE(help);
    EXPECT_NE(help->field("page").value_or("").find("install.html#done"), std::string::npos);
    EXPECT_EQ(installer->wait_exit(), 0);

    EXPECT_NE(slurp(root.path() / "drive_c/WINDOWS/kolmvx.iss")
                  .find("szPath=C:\\Program Files\\Tarvizone\\Redirector\\\r\n"),
              std::string::npos);
    EXPECT_EQ(hklm_string(uninstKeyName, "UninstallString"), "C:\\Program Files\\Tarvizone\\Redirector\\remove.exe");
    EXPECT_EQ(hklm_string("Enum\\Root\\Ports\\0001", "PORTNAME"), "COM3");
    // The setup program put the product in place.
    EXPECT_TRUE(wait_until([&] { return slurp(root.path() / "drive_c/WINDOWS/kolmvx.log").find("ResultCode=0")
                                        != std::string::npos; }));
    EXPECT_TRUE(std::filesystem::exists(root.path() / "drive_c/Program Files/Tarvizone/Redirector/kolm32"));
}

TEST_F(InstallDialogs, CancelInTheMethodDialog)
{
    const std::string method = dialog("Installation Method");
    ASSERT_FALSE(method.empty());
    ASSERT_EQ(kolmwin("click " + method + " 2").status, 0);
    EXPECT_EQ(installer->wait_exit(), 0);
    EXPECT_TRUE(nothing_installed());
    EXPECT_TRUE(screen_messages().empty());
}

TEST_F(InstallDialogs, CancelInThePathDialogAndAPathTooLong)
{
    const std::string method = dialog("Installation Method");
    ASSERT_FALSE(method.empty());
    ASSERT_EQ(kolmwin("click " + method + " 1").status, 0);
    const std::string path = dialog("Destination Path");
    ASSERT_FALSE(path.empty());

    // 99 characters and no backslash: refused, and the dialog stays.
    ASSERT_EQ(kolmwin("settext " + path + " 10 'C:\\" + std::string(96, 'd') + "'").status, 0);
    ASSERT_EQ(kolmwin("click " + path + " 1").status, 0);
    auto refused = log.wait_for([](const ScreenLine& l) { return l.kind == "messagebox"; });
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->caption, "Error");
    EXPECT_NE(refused->text.find("too long"), std::string::npos) << refused->text;
    EXPECT_EQ(kolmwin("gettext " + path + " 10").status, 0);

    ASSERT_EQ(kolmwin("click " + path + " 2").status, 0);
    EXPECT_EQ(installer->wait_exit(), 0);
    EXPECT_TRUE(nothing_installed());
}

TEST_F(InstallDialogs, ManualOpensTheHelp)
{
    const std::string method = dialog("Installation Method");
    ASSERT_FALSE(method.empty());
    ASSERT_EQ(kolmwin("click " + method + " 11").status, 0);
    ASSERT_EQ(kolmwin("click " + method + " 1").status, 0);
    auto help = help_line("context 1000");
    ASSERT_TRUE(help);
    EXPECT_EQ(help->caption, "kolmdoc.hlp");
    EXPECT_NE(help->field("page").value_or("").find("install.html#manual"), std::string::npos);
    EXPECT_EQ(installer->wait_exit(), 0);
    EXPECT_TRUE(nothing_installed());
}

} // namespace
} // namespace kolm::test
