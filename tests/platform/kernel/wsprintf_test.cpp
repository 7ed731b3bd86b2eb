// wsprintfA: Windows argument sizes, flags and the 1024-character limit.
#include <climits>
#include <cstring>
#include <functional>
#include <string>

#include "kernel/wsprintf.h"
#include "test_support.h"
#include "win32.h"

namespace {

struct Row {
    int line;
    const char* format;
    const char* expected;
    std::function<int(char*)> call;
};

#define ROW(expected, fmt, ...) \
    Row { __LINE__, fmt, expected, [](char* out) { return wsprintfA(out, fmt, ##__VA_ARGS__); } }

const uint16_t kWide[] = {'w', 'i', 'd', 'e', 0x263A, 0};

TEST(Wsprintf, Conversions)
{
    const Row rows[] = {
        ROW("42", "%d", 42),
        ROW("-42", "%i", -42),
        ROW("-2147483648", "%d", INT_MIN),
        ROW("4294967295", "%u", 0xFFFFFFFFu),
        ROW("4294967295", "%u", -1),
        ROW("abcdef", "%x", 0xABCDEFu),
        ROW("ABCDEF", "%X", 0xABCDEFu),
        ROW("0xff 0XFF", "%#x %#X", 255, 255),
        // 'l' is 32 bits: a DWORD of all ones is -1, not 4294967295.
        ROW("-1", "%ld", static_cast<DWORD>(0xFFFFFFFF)),
        ROW("deadbeef", "%08lx", static_cast<DWORD>(0xDEADBEEF)),
        ROW("00001234", "%08lx", static_cast<DWORD>(0x1234)),
        ROW("CreateFile failed with 00000002", "CreateFile failed with %08lx", static_cast<DWORD>(2)),
        ROW("1 2 x", "%lu %lx %s", static_cast<DWORD>(1), static_cast<DWORD>(2), "x"),
        // 'h' is 16 bits.
        ROW("9029", "%hd", 0x12345),
        ROW("-1", "%hd", 0xFFFF),
        ROW("4464", "%hu", 70000),
        ROW("5678", "%hx", 0x12345678),
        ROW("Rejecting message 0abc", "Rejecting message %04x", static_cast<unsigned short>(0xABC)),
        // Width, precision and flags.
        // Text bytes of 0x80 and above are copied as they are (a char is
        // signed here).
        ROW("caf\xE9 \xFF\x80", "%s %s", "caf\xE9", "\xFF\x80"),
        ROW("0000001A", "%08.8X", 0x1A),
        ROW("05", "%02.2X", 5),
        ROW("AB", "%02.2X", 0xAB),
        ROW("00000001:00-00-00-00-00-01:", "%08.8X:%02.2X-%02.2X-%02.2X-%02.2X-%02.2X-%02.2X:", 1, 0, 0, 0, 0, 0, 1),
        ROW("0007", "%04.4d", 7),
        ROW("-0007", "%04.4d", -7),
        ROW("   42", "%5d", 42),
        ROW("42   |", "%-5d|", 42),
        ROW("-0042", "%05d", -42),
        ROW("005", "%.3d", 5),
        ROW("5       |", "%-08d|", 5),
        ROW("0", "%d", 0),
        // Characters and strings.
        ROW("A", "%c", 'A'),
        ROW("  A|A  |", "%3c|%-3c|", 'A', 'A'),
        ROW("abc", "%s", "abc"),
        ROW("  abc|abc  |", "%5s|%-5s|", "abc", "abc"),
        ROW("ab", "%.2s", "abc"),
        ROW("(null)", "%s", static_cast<const char*>(nullptr)),
        ROW("(nu", "%.3s", static_cast<const char*>(nullptr)),
        ROW("wide?", "%ls", kWide),
        ROW("wide?", "%S", kWide),
        ROW("narrow", "%hs", "narrow"),
        // Everything else.
        ROW("100% sure", "100%% sure"),
        ROW("y", "%y"),
        ROW("abc", "abc%"),
        ROW("", ""),
        ROW(sizeof(void*) == 8 ? "0000000000001234" : "00001234", "%p", reinterpret_cast<void*>(0x1234)),
        ROW("Service3", "Service%d", 3),
        ROW("kolm32: setting event 1c\n", "kolm32: setting event %x\n", 0x1Cu),
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "row at line " << r.line << ": \"" << r.format << "\"");
        char out[1100];
        std::memset(out, 0xbd, sizeof out);
        const int n = r.call(out);
        EXPECT_STREQ(out, r.expected);
        EXPECT_EQ(n, static_cast<int>(std::strlen(r.expected)));
        EXPECT_EQ(static_cast<unsigned char>(out[std::strlen(r.expected) + 1]), 0xbd);
    }
}

TEST(Wsprintf, NulCharacterIsStoredAndCounted)
{
    char out[16];
    EXPECT_EQ(wsprintfA(out, "a%cb", 0), 3);
    EXPECT_EQ(std::memcmp(out, "a\0b", 4), 0);
}

// The output never passes 1024 characters and its NUL, whatever made it long.
TEST(Wsprintf, CutAt1024)
{
    const std::string long_text(2000, 'x');
    const std::string prefix(1020, 'p');
    struct LongRow {
        const char* what;
        std::function<int(char*)> call;
        char last; // the 1024th character
    } rows[] = {
        {"long string", [&](char* o) { return wsprintfA(o, "%s", long_text.c_str()); }, 'x'},
        {"digits across the end", [&](char* o) { return wsprintfA(o, "%s%08d", prefix.c_str(), 12345678); }, '4'},
        {"wide field", [](char* o) { return wsprintfA(o, "%2000d", 1); }, ' '},
        {"left field", [](char* o) { return wsprintfA(o, "%-2000d|", 1); }, ' '},
        {"zero padding", [](char* o) { return wsprintfA(o, "%02000d", 1); }, '0'},
        {"precision", [](char* o) { return wsprintfA(o, "%.3000d", 9); }, '0'},
        {"literal text", [&](char* o) { return wsprintfA(o, long_text.c_str()); }, 'x'},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        char out[1025 + 64];
        std::memset(out, 0xbd, sizeof out);
        EXPECT_EQ(r.call(out), 1024);
        EXPECT_EQ(out[1023], r.last);
        EXPECT_EQ(out[1024], '\0');
        for (size_t i = 1025; i < sizeof out; ++i)
            ASSERT_EQ(static_cast<unsigned char>(out[i]), 0xbd) << "overrun at " << i;
    }
}

int format_into(char* out, size_t cap, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    const auto n = kolm::platform::format_win32(out, cap, fmt, args);
    va_end(args);
    return static_cast<int>(n);
}

TEST(Wsprintf, SmallBuffersInsideTheLayer)
{
    struct SmallRow {
        size_t cap;
        const char* expected;
    } rows[] = {{1, ""}, {2, "-"}, {5, "-123"}, {8, "-1234 a"}, {64, "-1234 abc"}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.cap);
        char out[80];
        std::memset(out, 0xbd, sizeof out);
        EXPECT_EQ(format_into(out, r.cap, "%d %s", -1234, "abc"), static_cast<int>(std::strlen(r.expected)));
        EXPECT_STREQ(out, r.expected);
        EXPECT_EQ(static_cast<unsigned char>(out[r.cap]), 0xbd);
    }
}

} // namespace
