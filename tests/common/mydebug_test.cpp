// The trace facility: silent unless KOLM_TRACE is set when the program
// starts, and then wsprintfA formatting on standard error.
#include <fstream>
#include <sstream>
#include <string>

#include "test_support.h"

namespace {

class MydebugTest : public kolm::test::RootedTest {};

TEST_F(MydebugTest, SilentUnlessKolmTraceIsSet)
{
    const std::string traced = "kolm32: event 1c, status -1, ok\n"
                               "Rejecting message 1234\n"
                               "65535: 123456789012345678901234567890123456789012345678901234567890123456789012";
    ASSERT_EQ(traced.size() - traced.rfind('\n') - 1, 79u) << "the word trace is cut to 79 characters";
    struct Row {
        const char* setting; // null: unset
        std::string err;
        std::string out;
    } rows[] = {
        {nullptr, "", "0 62\n"},
        {"", "", "0 62\n"},
        {"0", "", "0 62\n"},
        {"1", traced, "32 62\n"},
    };
    const auto probe = kolm::test::bin_path("mydebug_probe");
    ASSERT_TRUE(std::filesystem::exists(probe));
    const auto err_file = root.path() / "stderr.txt";
    for (const auto& r : rows) {
        SCOPED_TRACE(r.setting ? r.setting : "(unset)");
        std::string cmd = "env -u KOLM_TRACE ";
        if (r.setting)
            cmd += std::string("KOLM_TRACE='") + r.setting + "' ";
        cmd += "'" + probe.string() + "' 2>'" + err_file.string() + "'";
        const auto result = kolm::test::run_command(cmd);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, r.out);
        std::ifstream in(err_file);
        std::stringstream err;
        err << in.rdbuf();
        EXPECT_EQ(err.str(), r.err);
    }
}

} // namespace
