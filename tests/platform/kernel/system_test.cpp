// The system directory, built-in modules, ring-0 handles, the environment,
// the current directory, module file names and debug output.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "kernel/sync.h"
#include "test_support.h"
#include "win32.h"

namespace {

using kolm::platform::event_from_ring0;
using kolm::platform::handle_object;

class SystemTest : public kolm::test::RootedTest {};

TEST_F(SystemTest, SystemDirectoryReturnRules)
{
    const char* dir = "C:\\WINDOWS\\SYSTEM";
    struct Row {
        UINT size;
        UINT result;
        bool filled;
    } rows[] = {{0, 18, false}, {1, 18, false}, {17, 18, false}, {18, 17, true}, {MAX_PATH, 17, true}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.size);
        char buf[MAX_PATH + 1];
        std::memset(buf, 0xbd, sizeof buf);
        EXPECT_EQ(GetSystemDirectoryA(r.size ? buf : nullptr, r.size), r.result);
        if (r.filled) {
            EXPECT_STREQ(buf, dir);
        } else {
            EXPECT_EQ(static_cast<unsigned char>(buf[0]), 0xbd) << "a too-small buffer is left alone";
        }
    }
}

TEST_F(SystemTest, LoadLibraryNames)
{
    HMODULE kernel = LoadLibraryA("kernel32.dll");
    ASSERT_NE(kernel, nullptr);
    EXPECT_LE(reinterpret_cast<uintptr_t>(kernel), 0xFFFFFFFFu);
    struct Row {
        const char* name;
        bool found;
    } rows[] = {
        {"KERNEL32.DLL", true},
        {"Kernel32", true},
        {"C:\\WINDOWS\\SYSTEM\\kernel32.dll", true},
        {"c:\\windows\\system\\KERNEL32.Dll", true},
        {"D:\\elsewhere\\kernel32.dll", true},
        {"user33.dll", false},
        {"xkernel32.dll", false},
        {"kernel32.dll.bak", false},
        {"C:\\WINDOWS\\SYSTEM\\", false},
        {"", false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        SetLastError(0xdeadbeef);
        HMODULE m = LoadLibraryA(r.name);
        if (r.found) {
            EXPECT_EQ(m, kernel);
        } else {
            EXPECT_EQ(m, nullptr);
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
        }
    }
}

TEST_F(SystemTest, GetProcAddressRows)
{
    HMODULE kernel = LoadLibraryA("kernel32.dll");
    struct Row {
        const char* what;
        HMODULE module;
        LPCSTR proc;
        DWORD error; // 0: found
    } rows[] = {
        {"OpenVxDHandle", kernel, "OpenVxDHandle", 0},
        {"names are case-sensitive", kernel, "openvxdhandle", ERROR_PROC_NOT_FOUND},
        {"unknown procedure", kernel, "CreateEventA2", ERROR_PROC_NOT_FOUND},
        {"ordinal", kernel, reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(1)), ERROR_PROC_NOT_FOUND},
        {"unknown module", DwordToHandle<HMODULE>(0x1000), "OpenVxDHandle", ERROR_MOD_NOT_FOUND},
        {"null module", nullptr, "OpenVxDHandle", ERROR_MOD_NOT_FOUND},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        SetLastError(0xdeadbeef);
        FARPROC p = GetProcAddress(r.module, r.proc);
        if (r.error == 0) {
            EXPECT_EQ(reinterpret_cast<void (*)()>(p), reinterpret_cast<void (*)()>(&OpenVxDHandle));
        } else {
            EXPECT_EQ(p, nullptr);
            EXPECT_EQ(GetLastError(), r.error);
        }
    }
    EXPECT_TRUE(FreeLibrary(kernel));
    EXPECT_NE(GetProcAddress(kernel, "OpenVxDHandle"), nullptr) << "kernel32 stays loaded";
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(FreeLibrary(DwordToHandle<HMODULE>(0x1000)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

typedef DWORD (*OpenVxDHandleFn)(HANDLE);

// The runtime's way there: system directory + "\kernel32.dll", then the
// procedure by name, called through the pointer.
TEST_F(SystemTest, OpenVxDHandleThroughTheSystemDirectory)
{
    char path[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryA(path, sizeof path), 0u);
    std::strcat(path, "\\kernel32.dll");
    HMODULE kernel = LoadLibraryA(path);
    ASSERT_NE(kernel, nullptr);
    auto open = reinterpret_cast<OpenVxDHandleFn>(reinterpret_cast<void (*)()>(GetProcAddress(kernel, "OpenVxDHandle")));
    ASSERT_NE(open, nullptr);

    HANDLE a = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE b = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    const DWORD ra = open(a), rb = open(b);
    EXPECT_NE(ra, 0u);
    EXPECT_NE(rb, 0u);
    EXPECT_NE(ra, rb);
    EXPECT_EQ(open(a), ra) << "the same event keeps its ring-0 handle";
    EXPECT_NE(ra, HandleToDword(a));
    EXPECT_EQ(event_from_ring0(ra), handle_object<kolm::platform::Event>(a));

    HANDLE thread = CreateThread(nullptr, 0, [](LPVOID) -> DWORD { return 0; }, nullptr, 0, nullptr);
    for (HANDLE not_event : {thread, static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
        SetLastError(0xdeadbeef);
        EXPECT_EQ(open(not_event), 0u);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    EXPECT_EQ(event_from_ring0(0), nullptr);
    EXPECT_EQ(event_from_ring0(HandleToDword(a)), nullptr) << "a Win32 handle is not a ring-0 handle";
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    kolm::platform::close_ring0(ra);
    kolm::platform::close_ring0(rb);
    EXPECT_EQ(event_from_ring0(ra), nullptr);
    CloseHandle(a);
    CloseHandle(b);
}

// What the port driver does with the runtime's events: signal the runtime
// through the ring-0 handle, and wait for the runtime's signal.
TEST_F(SystemTest, DriverSideOfTheEvents)
{
    HANDLE r3 = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    const DWORD r0 = OpenVxDHandle(r3);
    auto driver_side = event_from_ring0(r0);
    ASSERT_NE(driver_side, nullptr);

    driver_side->set();
    EXPECT_EQ(WaitForSingleObject(r3, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(r3, 0), WAIT_TIMEOUT) << "still auto-reset";

    SetEvent(r3);
    EXPECT_TRUE(kolm::platform::wait_one(driver_side, 0));
    EXPECT_FALSE(kolm::platform::wait_one(driver_side, 0));
    kolm::platform::close_ring0(r0);
    CloseHandle(r3);
}

class EnvironmentTest : public kolm::test::RootedTest {
protected:
    void SetUp() override
    {
        ::setenv("KOLM_TEST_VAR", "hello", 1);
        ::setenv("KOLM_TEST_EMPTY", "", 1);
        ::unsetenv("KOLM_TEST_MISSING");
    }
    void TearDown() override
    {
        ::unsetenv("KOLM_TEST_VAR");
        ::unsetenv("KOLM_TEST_EMPTY");
    }
};

TEST_F(EnvironmentTest, GetEnvironmentVariableRows)
{
    struct Row {
        const char* name;
        DWORD size;
        DWORD result;
        DWORD error;          // GetLastError after the call (sentinel when untouched)
        const char* contents; // null: buffer left alone
    } rows[] = {
        {"KOLM_TEST_VAR", 6, 5, 0, "hello"},
        {"KOLM_TEST_VAR", 100, 5, 0, "hello"},
        {"kolm_test_var", 6, 5, 0, "hello"},
        {"KOLM_TEST_VAR", 5, 6, 0, nullptr},
        {"KOLM_TEST_VAR", 0, 6, 0, nullptr},
        {"KOLM_TEST_EMPTY", 10, 0, 0, ""},
        {"KOLM_TEST_MISSING", 10, 0, ERROR_ENVVAR_NOT_FOUND, nullptr},
        {"KOLM_TEST", 10, 0, ERROR_ENVVAR_NOT_FOUND, nullptr},
        {"", 10, 0, ERROR_ENVVAR_NOT_FOUND, nullptr},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.name << " size " << r.size);
        char buf[128];
        std::memset(buf, 0xbd, sizeof buf);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(GetEnvironmentVariableA(r.name, buf, r.size), r.result);
        EXPECT_EQ(GetLastError(), r.error);
        if (r.contents) {
            EXPECT_STREQ(buf, r.contents);
        } else {
            EXPECT_EQ(static_cast<unsigned char>(buf[0]), 0xbd);
        }
    }
}

TEST_F(EnvironmentTest, WindirIsThereAsOnWindows)
{
    // Unset: C:\WINDOWS, whose folder then exists; set, even to nothing,
    // it is what the environment says.
    ::unsetenv("WINDIR");
    ::unsetenv("windir");
    char buf[64];
    for (const char* name : {"WINDIR", "windir", "WinDir"}) {
        SCOPED_TRACE(name);
        std::memset(buf, 0xbd, sizeof buf);
        EXPECT_EQ(GetEnvironmentVariableA(name, buf, sizeof buf), 10u);
        EXPECT_STREQ(buf, "C:\\WINDOWS");
    }
    EXPECT_TRUE(std::filesystem::is_directory(root.path() / "drive_c" / "WINDOWS"));
    EXPECT_EQ(GetEnvironmentVariableA("WINDIRX", buf, sizeof buf), 0u);
    EXPECT_EQ(GetEnvironmentVariableA("WIN", buf, sizeof buf), 0u);
    ::setenv("windir", "D:\\W95", 1);
    EXPECT_EQ(GetEnvironmentVariableA("WINDIR", buf, sizeof buf), 6u);
    EXPECT_STREQ(buf, "D:\\W95");
    ::setenv("windir", "", 1);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetEnvironmentVariableA("WINDIR", buf, sizeof buf), 0u);
    EXPECT_EQ(GetLastError(), 0u);
    ::unsetenv("windir");
}

TEST_F(EnvironmentTest, CurrentDirectoryReturnRules)
{
    char expected[4096];
    ASSERT_NE(::getcwd(expected, sizeof expected), nullptr);
    const DWORD len = static_cast<DWORD>(std::strlen(expected));
    char buf[4096];
    std::memset(buf, 0xbd, sizeof buf);
    EXPECT_EQ(GetCurrentDirectoryA(0, nullptr), len + 1);
    EXPECT_EQ(GetCurrentDirectoryA(len, buf), len + 1);
    EXPECT_EQ(static_cast<unsigned char>(buf[0]), 0xbd);
    EXPECT_EQ(GetCurrentDirectoryA(len + 1, buf), len);
    EXPECT_STREQ(buf, expected);
}

TEST_F(EnvironmentTest, ModuleFileName)
{
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 4);
    self[n] = '\0';
    char buf[4096];
    EXPECT_EQ(GetModuleFileNameA(nullptr, buf, sizeof buf), static_cast<DWORD>(n));
    EXPECT_STREQ(buf, self);

    std::memset(buf, 0xbd, sizeof buf);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetModuleFileNameA(nullptr, buf, 5), 5u) << "a cut name returns the buffer size";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::string(buf), std::string(self, 4));
    EXPECT_EQ(static_cast<unsigned char>(buf[5]), 0xbd);

    EXPECT_GT(GetModuleFileNameA(LoadLibraryA("kernel32.dll"), buf, sizeof buf), 0u);
    EXPECT_STREQ(buf, "C:\\WINDOWS\\SYSTEM\\KERNEL32.DLL");
}

// Standard error, redirected to a file for the length of one call.
std::string stderr_of(const std::function<void()>& call)
{
    std::fflush(stderr);
    FILE* capture = std::tmpfile();
    const int saved = ::dup(2);
    ::dup2(fileno(capture), 2);
    call();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    std::string text;
    std::rewind(capture);
    char buf[256];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, capture)) > 0)
        text.append(buf, n);
    std::fclose(capture);
    return text;
}

TEST_F(EnvironmentTest, OutputDebugStringOnlyWithKolmDebug)
{
    struct Row {
        const char* value; // null: unset
        bool shown;
    } rows[] = {{nullptr, false}, {"", false}, {"0", false}, {"1", true}, {"yes", true}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.value ? r.value : "(unset)");
        if (r.value)
            ::setenv("KOLM_DEBUG", r.value, 1);
        else
            ::unsetenv("KOLM_DEBUG");
        EXPECT_EQ(stderr_of([] { OutputDebugStringA("Initted wsock\n"); }), r.shown ? "Initted wsock\n" : "");
    }
    ::unsetenv("KOLM_DEBUG");
}

} // namespace
