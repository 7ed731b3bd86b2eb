// The stream between a program and kolmui, and how a program picks its
// renderer when no desktop is there.
#include "kolm/desktop_wire.h"
#include "dialog/screen_log_reader.h"
#include "test_support.h"

#include <gtest/gtest.h>

using namespace kolm::test;
namespace wire = kolm::platform::wire;

namespace {

TEST(DesktopWire, FieldsComeBackWhole)
{
    const wire::Record rows[] = {
        { "ctl", "123", "EDIT", "line one\r\nline two" },
        { "win", "1", "a\ttab", "back\\slash", "\\n is not a newline" },
        { "item", "0", "@first", "" },
        { "" },
        { "msgbox", "7", "", "", "1,2" },
    };
    for (const auto& row : rows) {
        const std::string line = wire::encode(row);
        ASSERT_EQ('\n', line.back());
        EXPECT_EQ(std::string::npos, line.substr(0, line.size() - 1).find('\n')) << line;
        EXPECT_EQ(row, wire::decode(std::string_view(line).substr(0, line.size() - 1))) << line;
    }
}

TEST(DesktopWire, LinesSplitAcrossReadsAndOverlongLines)
{
    wire::LineBuffer buffer(16);
    const std::string bytes = wire::encode({ "press", "5", "1", "2" }) + wire::encode({ "close", "5" });
    for (char c : bytes)
        buffer.feed(&c, 1);
    EXPECT_EQ("press\t5\t1\t2", buffer.next().value_or("?"));
    EXPECT_EQ("close\t5", buffer.next().value_or("?"));
    EXPECT_FALSE(buffer.next());

    buffer.feed("0123456789abcdefXYZ", 19); // no newline past the limit
    EXPECT_FALSE(buffer.next());
    EXPECT_TRUE(buffer.overflowed());
    buffer.feed("\nready\n", 7);
    EXPECT_FALSE(buffer.next()) << "a stream that overflowed once is not trusted again";
}

TEST(DesktopWire, NumbersAreWholeFieldsOnly)
{
    const std::pair<const char*, std::optional<long long>> rows[] = {
        { "42", 42 }, { "-1", -1 }, { "4294967295", 4294967295LL }, { "", std::nullopt },
        { "12x", std::nullopt }, { " 1", std::nullopt }, { "0x10", std::nullopt },
    };
    for (const auto& [text, value] : rows)
        EXPECT_EQ(value, wire::number(text)) << "field '" << text << "'";
}

class DesktopChoice : public RootedTest { };

// Asked for a desktop where no display opens: one line says so, and the
// box is answered the headless way (its default button, in the screen log).
TEST_F(DesktopChoice, ExplicitDesktopWithoutDisplayFallsBackWithOneLine)
{
    const std::string peer = bin_path("desktop_test_peer").string();
    const std::pair<const char*, int> rows[] = {
        { "KOLM_UI=desktop DISPLAY=", 1 },
        { "KOLM_UI=desktop DISPLAY=:999", 1 }, // no such server
        { "DISPLAY=:999", 0 },                 // not asked for: quietly headless
        { "KOLM_UI=headless DISPLAY=:999", 0 },
    };
    for (const auto& [env, notes] : rows) {
        auto r = run_command(std::string("env -u KOLM_UI ") + env + " " + peer + " box 2>&1");
        EXPECT_EQ(0, r.status) << env;
        EXPECT_NE(std::string::npos, r.out.find("answer 6")) << env << ": " << r.out;
        size_t count = 0;
        for (size_t at = r.out.find("no desktop"); at != std::string::npos; at = r.out.find("no desktop", at + 1))
            ++count;
        EXPECT_EQ(static_cast<size_t>(notes), count) << env << ": " << r.out;
    }
    size_t boxes = 0;
    for (const auto& line : kolm::platform::read_screen_log())
        boxes += line.kind == "messagebox" && line.field("answer") == "IDYES";
    EXPECT_EQ(std::size(rows), boxes);
}

} // namespace
