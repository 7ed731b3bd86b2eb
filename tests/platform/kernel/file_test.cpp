// CreateFileA on files: dispositions, mapped paths, delete on close.
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "kernel/win32_error.h"
#include "test_support.h"
#include "win32.h"

namespace {

namespace fs = std::filesystem;

class FileTest : public kolm::test::RootedTest {
protected:
    void SetUp() override { fs::create_directories(root.path() / "drive_c/WINDOWS"); }
    fs::path on_disk(const char* below) { return root.path() / below; }
    static std::string contents(const fs::path& p)
    {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static void put(const fs::path& p, const char* text) { std::ofstream(p, std::ios::binary) << text; }
};

TEST_F(FileTest, Dispositions)
{
    struct Row {
        const char* what;
        bool exists_before;
        DWORD disposition;
        DWORD access;
        bool opens;
        DWORD error;
        const char* after; // the file's contents after the call; null: no file
    } rows[] = {
        {"create new", false, CREATE_NEW, GENERIC_WRITE, true, ERROR_SUCCESS, ""},
        {"create new, exists", true, CREATE_NEW, GENERIC_WRITE, false, ERROR_FILE_EXISTS, "old"},
        {"create always", false, CREATE_ALWAYS, GENERIC_WRITE, true, ERROR_SUCCESS, ""},
        {"create always, exists", true, CREATE_ALWAYS, GENERIC_WRITE, true, ERROR_ALREADY_EXISTS, ""},
        {"open existing", true, OPEN_EXISTING, GENERIC_READ, true, ERROR_SUCCESS, "old"},
        {"open existing, missing", false, OPEN_EXISTING, GENERIC_READ, false, ERROR_FILE_NOT_FOUND, nullptr},
        {"open always", false, OPEN_ALWAYS, GENERIC_READ, true, ERROR_SUCCESS, ""},
        {"open always, exists", true, OPEN_ALWAYS, GENERIC_READ, true, ERROR_ALREADY_EXISTS, "old"},
        {"truncate existing", true, TRUNCATE_EXISTING, GENERIC_WRITE, true, ERROR_SUCCESS, ""},
        {"truncate, missing", false, TRUNCATE_EXISTING, GENERIC_WRITE, false, ERROR_FILE_NOT_FOUND, nullptr},
        {"truncate without write", true, TRUNCATE_EXISTING, GENERIC_READ, false, ERROR_INVALID_PARAMETER, "old"},
        {"no such disposition", true, 9, GENERIC_READ, false, ERROR_INVALID_PARAMETER, "old"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        const fs::path file = on_disk("drive_c/WINDOWS/kolmvx.iss");
        fs::remove(file);
        if (r.exists_before)
            put(file, "old");
        SetLastError(0xdeadbeef);
        HANDLE h = CreateFileA("C:\\WINDOWS\\kolmvx.iss", r.access, 0, nullptr, r.disposition, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, r.opens);
        EXPECT_EQ(GetLastError(), r.error);
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
        EXPECT_EQ(fs::exists(file), r.after != nullptr);
        if (r.after) {
            EXPECT_EQ(contents(file), r.after);
        }
    }
}

TEST_F(FileTest, WriteReadAndDelete)
{
    HANDLE h = CreateFileA("c:\\windows\\Log.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(h, "line\r\n", 6, &n, nullptr));
    EXPECT_EQ(n, 6u);
    CloseHandle(h);
    EXPECT_EQ(contents(on_disk("drive_c/WINDOWS/Log.txt")), "line\r\n");

    h = CreateFileA("C:\\WINDOWS\\LOG.TXT", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << "found without regard to case";
    char buf[16] = {};
    ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
    EXPECT_EQ(n, 6u);
    EXPECT_STREQ(buf, "line\r\n");
    ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
    EXPECT_EQ(n, 0u) << "end of file";
    CloseHandle(h);

    EXPECT_TRUE(DeleteFileA("C:\\WINDOWS\\log.txt"));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\log.txt"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeleteFileA("C:\\WINDOWS"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(FileTest, Failures)
{
    struct Row {
        const char* path;
        DWORD error;
    } rows[] = {
        {"C:\\NOWHERE\\x.txt", ERROR_PATH_NOT_FOUND},
        {"C:\\WINDOWS", ERROR_ACCESS_DENIED},
        {"\\\\server\\share\\x", ERROR_PATH_NOT_FOUND},
        {"", ERROR_PATH_NOT_FOUND},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.path);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(CreateFileA(r.path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), r.error);
    }
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    DWORD n = 5;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(WriteFile(event, "x", 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(n, 0u);
    CloseHandle(event);
}

TEST_F(FileTest, DeleteOnClose)
{
    HANDLE h = CreateFileA("C:\\WINDOWS\\temp.tmp", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE,
                           nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(fs::exists(on_disk("drive_c/WINDOWS/temp.tmp")));
    CloseHandle(h);
    EXPECT_FALSE(fs::exists(on_disk("drive_c/WINDOWS/temp.tmp")));
}

TEST(Win32Error, FromErrno)
{
    struct Row {
        int e;
        DWORD code;
    } rows[] = {
        {0, ERROR_SUCCESS},         {ENOENT, ERROR_FILE_NOT_FOUND},      {ENOTDIR, ERROR_PATH_NOT_FOUND},
        {EACCES, ERROR_ACCESS_DENIED}, {EPERM, ERROR_ACCESS_DENIED},     {EROFS, ERROR_ACCESS_DENIED},
        {EEXIST, ERROR_FILE_EXISTS},  {EMFILE, ERROR_TOO_MANY_OPEN_FILES}, {EBADF, ERROR_INVALID_HANDLE},
        {ENOMEM, ERROR_NOT_ENOUGH_MEMORY}, {ENOSPC, ERROR_DISK_FULL},    {EINVAL, ERROR_INVALID_PARAMETER},
        {ENAMETOOLONG, ERROR_INVALID_NAME}, {ENOEXEC, ERROR_BAD_FORMAT}, {EPIPE, ERROR_BROKEN_PIPE},
        {EBUSY, ERROR_SHARING_VIOLATION}, {ENOTEMPTY, ERROR_DIR_NOT_EMPTY}, {ENOSYS, ERROR_NOT_SUPPORTED},
        {EIO, ERROR_GEN_FAILURE},     {ENODEV, ERROR_DEVICE_NOT_CONNECTED}, {EHOSTDOWN, ERROR_GEN_FAILURE},
    };
    for (const auto& r : rows)
        EXPECT_EQ(kolm::platform::win32_error_from_errno(r.e), r.code) << "errno " << r.e;
}

} // namespace
