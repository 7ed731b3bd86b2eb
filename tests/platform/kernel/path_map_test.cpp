// Where program paths land in the machine root.
#include <filesystem>

#include "kolm/path_map.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using kolm::platform::device_name;
using kolm::platform::map_path;

class PathMapTest : public kolm::test::RootedTest {};

TEST_F(PathMapTest, Rows)
{
    const fs::path r = root.path();
    struct Row {
        const char* input;
        fs::path expected; // empty: not a file
    } rows[] = {
        {"C:\\WINDOWS\\kolmvx.iss", r / "drive_c/WINDOWS/kolmvx.iss"},
        {"c:/x", r / "drive_c/x"},
        {"D:\\data\\f.txt", r / "drive_d/data/f.txt"},
        {"C:\\", r / "drive_c"},
        {"C:", r / "drive_c"},
        {"C:foo", r / "drive_c/foo"},
        {"C:\\a\\.\\b\\\\c", r / "drive_c/a/b/c"},
        {"C:\\a\\..\\..\\..\\etc\\passwd", r / "drive_c/etc/passwd"},
        {"\\WINDOWS\\x", r / "drive_c/WINDOWS/x"},
        {"\\\\?\\C:\\x", r / "drive_c/x"},
        {"/tmp/plain", "/tmp/plain"},
        {"relative/file", "relative/file"},
        {"sub\\file.txt", "sub/file.txt"},
        {"\\\\.\\KOLMVX.VXD", {}},
        {"\\\\server\\share\\x", {}},
        {"", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.input);
        EXPECT_EQ(map_path(row.input), row.expected);
    }
    EXPECT_EQ(map_path(nullptr), fs::path());
}

TEST_F(PathMapTest, WindowsNamesIgnoreCaseAgainstWhatExists)
{
    fs::create_directories(root.path() / "drive_c/WINDOWS/System");
    fs::create_directories(root.path() / "drive_c/Twin");
    fs::create_directories(root.path() / "drive_c/TWIN");
    struct Row {
        const char* input;
        const char* expected; // below the root
    } rows[] = {
        {"c:\\windows\\new.txt", "drive_c/WINDOWS/new.txt"},
        {"C:\\Windows\\SYSTEM\\x", "drive_c/WINDOWS/System/x"},
        {"C:\\twin\\x", "drive_c/twin/x"}, // two candidates: taken as written
        {"C:\\TWIN\\x", "drive_c/TWIN/x"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.input);
        EXPECT_EQ(map_path(row.input), root.path() / row.expected);
    }
}

TEST_F(PathMapTest, DeviceNames)
{
    struct Row {
        const char* input;
        const char* name; // null: not a device path
    } rows[] = {
        {"\\\\.\\KOLMVX.VXD", "KOLMVX.VXD"},
        {"//./com1", "com1"},
        {"\\\\.\\", nullptr},
        {"C:\\x", nullptr},
        {"\\\\server\\x", nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.input);
        const auto name = device_name(row.input);
        EXPECT_EQ(name.has_value(), row.name != nullptr);
        if (name && row.name) {
            EXPECT_EQ(*name, row.name);
        }
    }
}

} // namespace
