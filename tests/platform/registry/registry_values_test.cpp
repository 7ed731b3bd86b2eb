// Values: exact types and bytes, sizes, buffers too small, names and case.
#include <cstring>

#include "registry_test_util.h"
#include "test_support.h"

namespace kolm::test {
namespace {

class RegistryValues : public RootedTest {
protected:
    void SetUp() override
    {
        *key_.out() = make_key("SOFTWARE\\Tarvizone\\Values");
        ASSERT_NE(key_.get(), nullptr);
    }
    Key key_;
};

struct TypeRow {
    const char* label;
    DWORD type;
    std::vector<BYTE> data;
};

TEST_F(RegistryValues, EveryTypeKeepsItsExactTypeAndBytes)
{
    const TypeRow rows[] = {
        {"REG_SZ with NUL counted", REG_SZ, {'C', 'O', 'M', '5', 0}},
        {"REG_SZ without NUL", REG_SZ, {'C', 'O', 'M', '5'}},
        {"REG_SZ empty string", REG_SZ, {0}},
        {"REG_SZ zero bytes", REG_SZ, {}},
        {"REG_SZ embedded NUL", REG_SZ, {'a', 0, 'b', 0}},
        {"REG_EXPAND_SZ", REG_EXPAND_SZ, {'%', 'W', '%', 0}},
        {"REG_MULTI_SZ", REG_MULTI_SZ, {'a', 0, 'b', 'c', 0, 0}},
        {"REG_DWORD", REG_DWORD, {0x0a, 0, 0, 0x80}},
        {"REG_DWORD odd size kept", REG_DWORD, {1, 2}},
        {"REG_BINARY all byte values", REG_BINARY, {0, 0x7f, 0x80, 0xff, 0xbd}},
        {"REG_BINARY empty", REG_BINARY, {}},
        {"REG_NONE", REG_NONE, {1, 2, 3}},
        {"REG_QWORD", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"unknown type number", 0x1234, {9}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        ASSERT_EQ(RegSetValueExA(key_, row.label, 0, row.type, row.data.data(),
                                 static_cast<DWORD>(row.data.size())),
                  ERROR_SUCCESS);

        DWORD type = 0xdeadbeef, size = 0xdeadbeef;
        ASSERT_EQ(RegQueryValueExA(key_, row.label, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
        EXPECT_EQ(type, row.type);
        EXPECT_EQ(size, row.data.size());

        std::vector<BYTE> got;
        ASSERT_EQ(read_value(key_, row.label, type, got), ERROR_SUCCESS);
        EXPECT_EQ(got, row.data);

        // A bigger buffer than needed: the size reported is the value's.
        std::vector<BYTE> big(row.data.size() + 16, 0xbd);
        size = static_cast<DWORD>(big.size());
        ASSERT_EQ(RegQueryValueExA(key_, row.label, nullptr, &type, big.data(), &size), ERROR_SUCCESS);
        EXPECT_EQ(size, row.data.size());
        EXPECT_EQ(big[row.data.size()], 0xbd) << "wrote past the value";
    }
}

TEST_F(RegistryValues, TooSmallBufferCopiesNothingAndGivesTheSize)
{
    const std::vector<BYTE> value = bytes(std::string("Tarvizone") + '\0');
    ASSERT_EQ(RegSetValueExA(key_, "Mfg", 0, REG_SZ, value.data(), 10), ERROR_SUCCESS);

    for (DWORD room : {0u, 1u, 9u}) {
        SCOPED_TRACE("buffer of " + std::to_string(room));
        std::vector<BYTE> buf(16, 0xbd);
        DWORD size = room, type = 0;
        EXPECT_EQ(RegQueryValueExA(key_, "Mfg", nullptr, &type, buf.data(), &size), ERROR_MORE_DATA);
        EXPECT_EQ(size, 10u);
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(buf, std::vector<BYTE>(16, 0xbd));
    }

    // The same through enumeration: neither the name nor the data is copied.
    char name[32];
    std::memset(name, 0xbd, sizeof name);
    std::vector<BYTE> buf(16, 0xbd);
    DWORD name_len = sizeof name, size = 9, type = 0;
    EXPECT_EQ(RegEnumValueA(key_, 0, name, &name_len, nullptr, &type, buf.data(), &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(buf, std::vector<BYTE>(16, 0xbd));
    EXPECT_EQ(static_cast<BYTE>(name[0]), 0xbd);

    // A name buffer without room for the NUL.
    name_len = 3;
    size = sizeof buf;
    EXPECT_EQ(RegEnumValueA(key_, 0, name, &name_len, nullptr, &type, buf.data(), &size), ERROR_MORE_DATA);
    EXPECT_EQ(name_len, 3u);
    EXPECT_EQ(static_cast<BYTE>(name[0]), 0xbd);
    name_len = 4;
    EXPECT_EQ(RegEnumValueA(key_, 0, name, &name_len, nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Mfg");
    EXPECT_EQ(name_len, 3u);
}

TEST_F(RegistryValues, NamesIgnoreCaseAndKeepTheirFirstSpelling)
{
    DWORD one = 1, two = 2;
    ASSERT_EQ(RegSetValueExA(key_, "PortName", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key_, "PORTNAME", 0, REG_DWORD, reinterpret_cast<BYTE*>(&two), 4), ERROR_SUCCESS);

    EXPECT_EQ(value_names(key_), std::vector<std::string>{"PortName"});
    for (const char* spelling : {"portname", "PORTNAME", "pOrTnAmE"}) {
        SCOPED_TRACE(spelling);
        DWORD type = 0;
        std::vector<BYTE> got;
        ASSERT_EQ(read_value(key_, spelling, type, got), ERROR_SUCCESS);
        EXPECT_EQ(got, (std::vector<BYTE>{2, 0, 0, 0}));
    }
    EXPECT_EQ(RegDeleteValueA(key_, "portNAME"), ERROR_SUCCESS);
    EXPECT_TRUE(value_names(key_).empty());
}

TEST_F(RegistryValues, DefaultValueIsTheEmptyName)
{
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExA(key_, nullptr, nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);

    const BYTE text[] = "default";
    ASSERT_EQ(RegSetValueExA(key_, nullptr, 0, REG_SZ, text, sizeof text), ERROR_SUCCESS);
    std::vector<BYTE> got;
    ASSERT_EQ(read_value(key_, "", type, got), ERROR_SUCCESS);
    EXPECT_EQ(got, std::vector<BYTE>(text, text + sizeof text));
    EXPECT_EQ(value_names(key_), std::vector<std::string>{""});

    EXPECT_EQ(RegDeleteValueA(key_, ""), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(key_, nullptr, nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryValues, MissingValuesAndBadArguments)
{
    DWORD type = 0, size = 4;
    BYTE buf[4];
    EXPECT_EQ(RegQueryValueExA(key_, "Nope", nullptr, &type, buf, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueA(key_, "Nope"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExA(key_, "Nope", nullptr, &type, buf, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExA(key_, "X", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);

    std::vector<BYTE> huge(1024 * 1024 + 1);
    EXPECT_EQ(RegSetValueExA(key_, "Huge", 0, REG_BINARY, huge.data(), static_cast<DWORD>(huge.size())),
              ERROR_INVALID_PARAMETER);
    huge.pop_back();
    EXPECT_EQ(RegSetValueExA(key_, "Huge", 0, REG_BINARY, huge.data(), static_cast<DWORD>(huge.size())),
              ERROR_SUCCESS);
}

TEST_F(RegistryValues, EnumerationIsAlphabeticalByUpperCaseFoldAndEndsWith259)
{
    const char* created[] = {"b", "A_B", "AB", "a", "_x", "Z", "ab2", "10", "9"};
    for (const char* name : created) {
        ASSERT_EQ(RegSetValueExA(key_, name, 0, REG_NONE, nullptr, 0), ERROR_SUCCESS);
        Key sub(make_key(name, key_));
        ASSERT_NE(sub.get(), nullptr) << name;
    }
    const std::vector<std::string> expected = {"10", "9", "a", "AB", "ab2", "A_B", "b", "Z", "_x"};
    EXPECT_EQ(value_names(key_), expected);
    EXPECT_EQ(subkey_names(key_), expected);

    char name[16];
    DWORD len = sizeof name;
    EXPECT_EQ(RegEnumValueA(key_, 9, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    len = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(key_, 9, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    len = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(key_, 0xFFFFFFFFu, name, &len, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryValues, QueryInfoCountsAndLongestNames)
{
    const BYTE data[40] = {};
    ASSERT_EQ(RegSetValueExA(key_, "Short", 0, REG_BINARY, data, 3), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key_, "LongerName", 0, REG_BINARY, data, 40), ERROR_SUCCESS);
    Key a(make_key("Sub", key_)), b(make_key("Subkey12", key_));

    DWORD subkeys = 0, max_sub = 0, values = 0, max_name = 0, max_data = 0, cls = 99;
    FILETIME ft{};
    ASSERT_EQ(RegQueryInfoKeyA(key_, nullptr, &cls, nullptr, &subkeys, &max_sub, nullptr, &values, &max_name,
                               &max_data, nullptr, &ft),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 2u);
    EXPECT_EQ(max_sub, 8u);
    EXPECT_EQ(values, 2u);
    EXPECT_EQ(max_name, 10u);
    EXPECT_EQ(max_data, 40u);
    EXPECT_EQ(cls, 0u);
    // Written just now: some time after the year 2020 in FILETIME units.
    const uint64_t t = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    EXPECT_GT(t, 132223104000000000ull);
}

} // namespace
} // namespace kolm::test
