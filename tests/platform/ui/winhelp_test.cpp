// WinHelpA: which page each topic of the programs' help files opens, the
// screen-log line that says so, and the desktop opener.
#include "dialog/screen_log_reader.h"
#include "test_support.h"

#include "win32.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace kolm::test;

namespace {

// Sets or clears an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { m_old ? ::setenv(m_name, m_old->c_str(), 1) : ::unsetenv(m_name); }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// Help files as programs hand them over with their resources.
void register_test_help_files()
{
    static const HELPTOPIC_DATA setup_topics[] = {
        { HELP_KEY, "Contents", 0, "index.html" },
        { HELP_KEY, "Service Selection Dialog", 0, "services.html#service-selection" },
    };
    RegisterHelpFile("kolmset32.hlp", "index.html", setup_topics, 2);
    static const HELPTOPIC_DATA install_topics[] = {
        { HELP_CONTEXT, nullptr, 1000, "install.html#manual" },
        { HELP_CONTEXT, nullptr, 1037, "install.html#done" },
    };
    RegisterHelpFile("C:\\WINDOWS\\kolmdoc.hlp", "index.html", install_topics, 2);
}

class WinHelp : public RootedTest {
protected:
    void SetUp() override { register_test_help_files(); }

    // No desktop unless a test gives one.
    ScopedEnv display { "DISPLAY", nullptr };
    ScopedEnv wayland { "WAYLAND_DISPLAY", nullptr };
    ScopedEnv opener { "KOLM_HELP_OPENER", nullptr };
    ScopedEnv dir { "KOLM_HELP_DIR", nullptr };

    std::optional<kolm::platform::ScreenLine> last_help_line()
    {
        std::optional<kolm::platform::ScreenLine> found;
        for (auto& l : kolm::platform::read_screen_log())
            if (l.kind == "help")
                found = l;
        return found;
    }
};

TEST_F(WinHelp, EachTopicOpensItsPageAndIsLogged)
{
    struct Row {
        const char* file;
        UINT command;
        const char* key; // HELP_KEY data
        DWORD context;   // HELP_CONTEXT data
        BOOL result;
        const char* topic;
        const char* page; // the end of the page URL; nullptr: "-"
    };
    const Row rows[] = {
        { "kolmset32.hlp", HELP_KEY, "Contents", 0, TRUE, "Contents", "/index.html" },
        { "KOLMSET32.HLP", HELP_KEY, "Service Selection Dialog", 0, TRUE, "Service Selection Dialog",
          "/services.html#service-selection" },
        { "C:\\WINDOWS\\kolmset32.hlp", HELP_KEY, "service selection dialog", 0, TRUE, "service selection dialog",
          "/services.html#service-selection" },
        { "kolmset32.hlp", HELP_CONTENTS, nullptr, 0, TRUE, "Contents", "/index.html" },
        { "kolmset32.hlp", HELP_KEY, "No Such Topic", 0, TRUE, "No Such Topic", "/index.html" },
        { "kolmdoc.hlp", HELP_CONTEXT, nullptr, 1000, TRUE, "context 1000", "/install.html#manual" },
        { "kolmdoc.hlp", HELP_CONTEXT, nullptr, 1037, TRUE, "context 1037", "/install.html#done" },
        { "kolmdoc.hlp", HELP_CONTEXT, nullptr, 4242, TRUE, "context 4242", "/index.html" },
        { "other.hlp", HELP_KEY, "Contents", 0, FALSE, "Contents", nullptr },
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.file) + " " + r.topic);
        SetLastError(0xdeadbeef);
        const ULONG_PTR data = r.command == HELP_KEY ? reinterpret_cast<ULONG_PTR>(r.key) : r.context;
        EXPECT_EQ(WinHelpA(nullptr, r.file, r.command, data), r.result);
        if (!r.result) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        }
        auto line = last_help_line();
        ASSERT_TRUE(line);
        EXPECT_EQ(line->caption, std::string(r.file).substr(std::string(r.file).find_last_of('\\') + 1));
        EXPECT_EQ(line->text, r.topic);
        EXPECT_EQ(line->field("opened"), "no") << "no desktop";
        const std::string page = line->field("page").value_or("");
        if (!r.page) {
            EXPECT_EQ(page, "-");
            continue;
        }
        ASSERT_GT(page.size(), std::string(r.page).size());
        EXPECT_EQ(page.rfind("file:///", 0), 0u) << page;
        EXPECT_EQ(page.substr(page.size() - std::string(r.page).size()), r.page) << page;
        // The page is there to be opened.
        const std::string path = page.substr(7, page.find('#') == std::string::npos ? std::string::npos
                                                                                    : page.find('#') - 7);
        EXPECT_TRUE(std::filesystem::is_regular_file(path)) << path;
    }

    const size_t lines = kolm::platform::read_screen_log().size();
    EXPECT_TRUE(WinHelpA(nullptr, "kolmset32.hlp", HELP_QUIT, 0));
    EXPECT_FALSE(WinHelpA(nullptr, "kolmset32.hlp", HELP_KEY, 0)) << "a keyword pointer is needed";
    EXPECT_FALSE(WinHelpA(nullptr, nullptr, HELP_CONTENTS, 0));
    EXPECT_EQ(kolm::platform::read_screen_log().size(), lines) << "nothing shown, nothing logged";
}

TEST_F(WinHelp, PagesFromAFolderWithSpacesAreOpenedOnTheDesktop)
{
    // The pages are taken from KOLM_HELP_DIR; a space in its path is
    // encoded so the URL stays one field of the log line.
    const auto pages = root.path() / "help pages";
    std::filesystem::create_directories(pages);
    std::ofstream(pages / "index.html") << "<html></html>";
    std::ofstream(pages / "services.html") << "<html></html>";
    ScopedEnv help_dir { "KOLM_HELP_DIR", pages.c_str() };

    const auto opened = root.path() / "opened";
    const auto script = root.path() / "opener.sh";
    std::ofstream(script) << "#!/bin/sh\nprintf '%s' \"$1\" > '" << opened.string() << ".tmp' && mv '"
                          << opened.string() << ".tmp' '" << opened.string() << "'\n";
    ::chmod(script.c_str(), 0755);
    ScopedEnv use_opener { "KOLM_HELP_OPENER", script.c_str() };

    ASSERT_TRUE(WinHelpA(nullptr, "kolmset32.hlp", HELP_KEY, reinterpret_cast<ULONG_PTR>("Service Selection Dialog")));
    auto line = last_help_line();
    ASSERT_TRUE(line);
    EXPECT_EQ(line->field("opened"), "yes");
    const std::string want = "file://" + (root.path() / "help%20pages").string() + "/services.html#service-selection";
    EXPECT_EQ(line->field("page"), want);
    ASSERT_TRUE(wait_until([&] { return std::filesystem::exists(opened); }));
    std::ifstream in(opened);
    std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(got, want);
}

} // namespace
