// REGEDIT4 text: parsing, errors with line numbers, writing and folding.
#include "reg_file.h"
#include "value_text.h"

#include <gtest/gtest.h>

#include "win32/registry.h"

namespace kolm::kolmreg {
namespace {

using platform::RegEdit;

std::vector<BYTE> b(std::string_view s)
{
    return std::vector<BYTE>(s.begin(), s.end());
}

std::vector<ParsedEdit> parse_ok(const std::string& body)
{
    std::vector<ParsedEdit> edits;
    ParseError error;
    EXPECT_TRUE(parse_reg_file("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n" + body, edits, error))
        << "line " << error.line << ": " << error.message;
    return edits;
}

struct ValueRow {
    const char* line;
    RegEdit::Kind kind;
    const char* name;
    DWORD type;
    std::vector<BYTE> data;
};

TEST(RegFileParse, ValueLines)
{
    const ValueRow rows[] = {
        {R"("Name"="text")", RegEdit::Kind::SetValue, "Name", REG_SZ, b(std::string("text", 5))},
        {R"("Q"="say \"hi\" C:\\x\\")", RegEdit::Kind::SetValue, "Q", REG_SZ, b(std::string("say \"hi\" C:\\x\\", 15))},
        {R"("E"="")", RegEdit::Kind::SetValue, "E", REG_SZ, {0}},
        {R"(@="d")", RegEdit::Kind::SetValue, "", REG_SZ, {'d', 0}},
        {R"("a\"b\\c"="x")", RegEdit::Kind::SetValue, "a\"b\\c", REG_SZ, {'x', 0}},
        {R"("D"=dword:0000000a)", RegEdit::Kind::SetValue, "D", REG_DWORD, {10, 0, 0, 0}},
        {R"("D"=dword:FFFFFFFE)", RegEdit::Kind::SetValue, "D", REG_DWORD, {0xfe, 0xff, 0xff, 0xff}},
        {R"("D"=dword:1)", RegEdit::Kind::SetValue, "D", REG_DWORD, {1, 0, 0, 0}},
        {R"("B"=hex:01,02,FF)", RegEdit::Kind::SetValue, "B", REG_BINARY, {1, 2, 0xff}},
        {R"("B"=hex: 01 , 2)", RegEdit::Kind::SetValue, "B", REG_BINARY, {1, 2}},
        {R"("B"=hex:)", RegEdit::Kind::SetValue, "B", REG_BINARY, {}},
        {R"("X"=hex(2):25,00)", RegEdit::Kind::SetValue, "X", REG_EXPAND_SZ, {0x25, 0}},
        {R"("M"=hex(7):61,00,00)", RegEdit::Kind::SetValue, "M", REG_MULTI_SZ, {'a', 0, 0}},
        {R"("N"=hex(0):)", RegEdit::Kind::SetValue, "N", REG_NONE, {}},
        {R"("S"=hex(1):61,62)", RegEdit::Kind::SetValue, "S", REG_SZ, {'a', 'b'}},
        {R"("Q"=hex(b):01,02,03,04,05,06,07,08)", RegEdit::Kind::SetValue, "Q", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"\"F\"=hex:01,\\\n    02,\\\n  03", RegEdit::Kind::SetValue, "F", REG_BINARY, {1, 2, 3}},
        {R"("Gone"=-)", RegEdit::Kind::DeleteValue, "Gone", 0, {}},
        {R"(@=-)", RegEdit::Kind::DeleteValue, "", 0, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        auto edits = parse_ok(std::string(row.line) + "\n");
        ASSERT_EQ(edits.size(), 2u);
        const auto& e = edits[1].edit;
        EXPECT_EQ(e.kind, row.kind);
        EXPECT_EQ(e.hive, platform::Hive::LocalMachine);
        EXPECT_EQ(e.path, "K");
        EXPECT_EQ(e.name, row.name);
        if (row.kind == RegEdit::Kind::SetValue) {
            EXPECT_EQ(e.type, row.type);
            EXPECT_EQ(e.data, row.data);
        }
        EXPECT_EQ(edits[1].line, 4u);
    }
}

TEST(RegFileParse, SectionsCommentsAndLineEnds)
{
    const std::string lf = "REGEDIT4\n\n; a comment\n[HKEY_LOCAL_MACHINE\\A\\B]\n\"v\"=\"1\"\n\n"
                           "[-HKEY_DYN_DATA\\Config Manager\\Enum\\X]\n[hkey_dyn_data]\n@=\"r\"\n";
    std::string crlf;
    for (char c : lf)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);

    for (const std::string& text : {lf, crlf}) {
        std::vector<ParsedEdit> edits;
        ParseError error;
        ASSERT_TRUE(parse_reg_file(text, edits, error)) << error.line << ": " << error.message;
        ASSERT_EQ(edits.size(), 5u);
        EXPECT_EQ(edits[0].edit.kind, RegEdit::Kind::CreateKey);
        EXPECT_EQ(edits[0].edit.path, "A\\B");
        EXPECT_EQ(edits[0].line, 4u);
        EXPECT_EQ(edits[1].edit.data, b(std::string("1", 2)));
        EXPECT_EQ(edits[2].edit.kind, RegEdit::Kind::DeleteKey);
        EXPECT_EQ(edits[2].edit.hive, platform::Hive::DynData);
        EXPECT_EQ(edits[2].edit.path, "Config Manager\\Enum\\X");
        EXPECT_EQ(edits[3].edit.path, "");
        EXPECT_EQ(edits[4].edit.hive, platform::Hive::DynData);
        EXPECT_EQ(edits[4].line, 9u);
    }
}

struct ErrorRow {
    const char* label;
    const char* text;
    size_t line;
    const char* says;
};

TEST(RegFileParse, BadLinesAreReportedWithTheirNumber)
{
    const ErrorRow rows[] = {
        {"no header", "[HKEY_LOCAL_MACHINE\\A]\n", 1, "REGEDIT4"},
        {"other format", "Windows Registry Editor Version 5.00\n", 1, "REGEDIT4"},
        {"empty file", "", 1, "REGEDIT4"},
        {"value before a key", "REGEDIT4\n\n\"v\"=\"x\"\n", 3, "before the first"},
        {"unknown root", "REGEDIT4\n[HKEY_CURRENT_USER\\Software]\n", 2, "unknown root"},
        {"abbreviated root", "REGEDIT4\n[HKLM\\Software]\n", 2, "unknown root"},
        {"no closing bracket", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\n", 2, "]"},
        {"root deletion", "REGEDIT4\n[-HKEY_LOCAL_MACHINE]\n", 2, "root key"},
        {"long key name", nullptr, 2, "255"},
        {"bad escape", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"C:\\WINDOWS\"\n", 3, "backslash"},
        {"no closing quote", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"abc\n", 3, "closing quote"},
        {"text after string", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"a\" x\n", 3, "after the closing"},
        {"no equals", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\" \"a\"\n", 3, "="},
        {"dword too long", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:000000001\n", 3, "dword"},
        {"dword not hex", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:0000000g\n", 3, "dword"},
        {"dword empty", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:\n", 3, "dword"},
        {"hex byte too long", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:012\n", 3, "bad byte"},
        {"hex trailing comma", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:01,\n", 3, "bad byte"},
        {"hex type missing", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex():01\n", 3, "hex(N)"},
        {"unknown data", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=qword:1\n", 3, "unrecognised value"},
        {"stray line", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\nv=1\n", 3, "unrecognised line"},
        {"value in deleted key", "REGEDIT4\n[-HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"1\"\n", 3, "deleted key"},
        {"continued past the end", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:01,\\\n", 3, "past the end"},
        {"number counts folded lines", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=hex:01,\\\r\n  02\r\n\"w\"=bad\r\n",
         5, "unrecognised value"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        std::string text = row.text ? row.text : "REGEDIT4\n[HKEY_LOCAL_MACHINE\\" + std::string(256, 'k') + "]\n";
        std::vector<ParsedEdit> edits;
        ParseError error;
        ASSERT_FALSE(parse_reg_file(text, edits, error));
        EXPECT_EQ(error.line, row.line);
        EXPECT_NE(error.message.find(row.says), std::string::npos) << error.message;
    }
}

std::string format(const platform::RegKeyNode& node, std::string_view path = "K")
{
    std::string out, why;
    EXPECT_TRUE(format_reg_file(platform::Hive::LocalMachine, path, node, out, why)) << why;
    return out;
}

TEST(RegFileWrite, LongHexListsFoldAsRegeditDoes)
{
    platform::RegKeyNode node;
    std::vector<BYTE> data(60);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<BYTE>(i);
    node.values.push_back({"B", REG_BINARY, data});
    const std::string out = format(node);

    // `"B"=hex:` is 8 columns: 23 bytes reach column 77 and fold; each
    // continuation line holds 25 bytes after its two spaces.
    std::string expected = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n\"B\"=hex:";
    for (size_t i = 0; i < 60; ++i) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned>(i));
        expected += buf;
        if (i == 59)
            break;
        expected += ',';
        if (i == 22 || i == 47)
            expected += "\\\n  ";
    }
    expected += "\n\n";
    EXPECT_EQ(out, expected);

    size_t longest = 0, start = 0;
    for (size_t nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1)
        longest = std::max(longest, nl - start);
    EXPECT_LE(longest, 80u);
}

TEST(RegFileWrite, ValueFormsByTypeAndBytes)
{
    struct Row {
        const char* label;
        platform::RegValue value;
        const char* line;
    };
    const Row rows[] = {
        {"plain string", {"S", REG_SZ, b(std::string("a\"b\\c", 6))}, R"("S"="a\"b\\c")"},
        {"empty string", {"S", REG_SZ, {0}}, R"("S"="")"},
        {"string without NUL", {"S", REG_SZ, b("ab")}, R"("S"=hex(1):61,62)"},
        {"string of zero bytes", {"S", REG_SZ, {}}, R"("S"=hex(1):)"},
        {"string with embedded NUL", {"S", REG_SZ, {'a', 0, 'b', 0}}, R"("S"=hex(1):61,00,62,00)"},
        {"string with a line break", {"S", REG_SZ, {'a', '\n', 0}}, R"("S"=hex(1):61,0a,00)"},
        {"default value", {"", REG_SZ, {'d', 0}}, R"(@="d")"},
        {"dword", {"D", REG_DWORD, {0x0a, 0, 0, 0}}, R"("D"=dword:0000000a)"},
        {"dword of 2 bytes", {"D", REG_DWORD, {1, 2}}, R"("D"=hex(4):01,02)"},
        {"binary", {"B", REG_BINARY, {0, 0xff}}, R"("B"=hex:00,ff)"},
        {"expand string", {"X", REG_EXPAND_SZ, {'%', 0}}, R"("X"=hex(2):25,00)"},
        {"none", {"N", REG_NONE, {}}, R"("N"=hex(0):)"},
        {"type 0x1234", {"T", 0x1234, {7}}, R"("T"=hex(1234):07)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        platform::RegKeyNode node;
        node.values.push_back(row.value);
        const std::string out = format(node);
        EXPECT_EQ(out, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n" + std::string(row.line) + "\n\n");

        // And it reads back as the same value.
        std::vector<ParsedEdit> edits;
        ParseError error;
        ASSERT_TRUE(parse_reg_file(out, edits, error)) << error.message;
        ASSERT_EQ(edits.size(), 2u);
        EXPECT_EQ(edits[1].edit.name, row.value.name);
        EXPECT_EQ(edits[1].edit.type, row.value.type);
        EXPECT_EQ(edits[1].edit.data, row.value.data);
    }
}

TEST(RegFileWrite, SubtreeOrderAndNamesThatCannotBeWritten)
{
    platform::RegKeyNode node;
    node.subkeys.push_back({"A", {}, {{"Deep", {}, {}}}});
    node.subkeys.push_back({"b", {{"v", REG_DWORD, {1, 0, 0, 0}}}, {}});
    EXPECT_EQ(format(node, ""), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE]\n\n[HKEY_LOCAL_MACHINE\\A]\n\n"
                                "[HKEY_LOCAL_MACHINE\\A\\Deep]\n\n[HKEY_LOCAL_MACHINE\\b]\n\"v\"=dword:00000001\n\n");

    std::string out, why;
    platform::RegKeyNode bad_value;
    bad_value.values.push_back({"line\nbreak", REG_SZ, {0}});
    EXPECT_FALSE(format_reg_file(platform::Hive::LocalMachine, "K", bad_value, out, why));
    EXPECT_NE(why.find("line break"), std::string::npos);
    platform::RegKeyNode bad_key;
    bad_key.subkeys.push_back({"two\rlines", {}, {}});
    EXPECT_FALSE(format_reg_file(platform::Hive::LocalMachine, "K", bad_key, out, why));
}

TEST(ValueText, DisplayAndDataByType)
{
    EXPECT_EQ(display_data(REG_SZ, {'C', 'O', 'M', 0, 'x'}), "COM");
    EXPECT_EQ(display_data(REG_SZ, {'a', 'b'}), "ab");
    EXPECT_EQ(display_data(REG_MULTI_SZ, {'a', 0, 'b', 'c', 0, 0}), "a\\0bc");
    EXPECT_EQ(display_data(REG_MULTI_SZ, {0}), "");
    EXPECT_EQ(display_data(REG_DWORD, {0x2c, 1, 0, 0}), "0x12c");
    EXPECT_EQ(display_data(REG_DWORD, {1, 2}), "0102");
    EXPECT_EQ(display_data(REG_BINARY, {0xab, 0x01}), "AB01");
    EXPECT_EQ(display_data(REG_NONE, {}), "");
    EXPECT_EQ(type_name(REG_EXPAND_SZ), "REG_EXPAND_SZ");
    EXPECT_EQ(type_name(0x1234), "0x1234");
    EXPECT_EQ(type_from_name("reg_dword"), std::optional<DWORD>(REG_DWORD));
    EXPECT_EQ(type_from_name("REG_QWORD"), std::nullopt);

    struct Row {
        DWORD type;
        const char* text;
        std::optional<std::vector<BYTE>> bytes;
    };
    const Row rows[] = {
        {REG_SZ, "COM5", b(std::string("COM5", 5))},
        {REG_SZ, "", std::vector<BYTE>{0}},
        {REG_EXPAND_SZ, "%W%", b(std::string("%W%", 4))},
        {REG_MULTI_SZ, "a\\0bc", std::vector<BYTE>{'a', 0, 'b', 'c', 0, 0}},
        {REG_MULTI_SZ, "", std::vector<BYTE>{0}},
        {REG_MULTI_SZ, "a\\0\\0b", std::nullopt},
        {REG_MULTI_SZ, "a\\0", std::nullopt},
        {REG_DWORD, "10", std::vector<BYTE>{10, 0, 0, 0}},
        {REG_DWORD, "0x12c", std::vector<BYTE>{0x2c, 1, 0, 0}},
        {REG_DWORD, "4294967295", std::vector<BYTE>{0xff, 0xff, 0xff, 0xff}},
        {REG_DWORD, "4294967296", std::nullopt},
        {REG_DWORD, "-1", std::nullopt},
        {REG_DWORD, "12a", std::nullopt},
        {REG_DWORD, "0x", std::nullopt},
        {REG_BINARY, "01ff", std::vector<BYTE>{1, 0xff}},
        {REG_BINARY, "", std::vector<BYTE>{}},
        {REG_BINARY, "1", std::nullopt},
        {REG_BINARY, "zz", std::nullopt},
        {REG_NONE, "00", std::vector<BYTE>{0}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(type_name(row.type)) + " " + row.text);
        EXPECT_EQ(data_from_text(row.type, row.text), row.bytes);
    }
}

TEST(ValueText, KeyNames)
{
    auto k = parse_key_name("hklm\\SOFTWARE\\Tarvizone");
    ASSERT_TRUE(k);
    EXPECT_EQ(k->hive, platform::Hive::LocalMachine);
    EXPECT_EQ(k->path, "SOFTWARE\\Tarvizone");
    k = parse_key_name("HKEY_DYN_DATA");
    ASSERT_TRUE(k);
    EXPECT_EQ(k->hive, platform::Hive::DynData);
    EXPECT_EQ(k->path, "");
    EXPECT_TRUE(parse_key_name("HKDD\\Config Manager"));
    EXPECT_TRUE(parse_key_name("HKEY_LOCAL_MACHINE\\X"));
    EXPECT_FALSE(parse_key_name("HKCU\\Software"));
    EXPECT_FALSE(parse_key_name("HKLMX\\Software"));
    EXPECT_FALSE(parse_key_name(""));
    EXPECT_EQ(full_key_name(platform::Hive::DynData, "A"), "HKEY_DYN_DATA\\A");
}

} // namespace
} // namespace kolm::kolmreg
