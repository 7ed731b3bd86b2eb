// The device seam behind CreateFileA("\\.\NAME") and DeviceIoControl.
#include <atomic>
#include <cstring>
#include <vector>

#include "kernel/device.h"
#include "test_support.h"
#include "win32.h"

namespace {

using namespace kolm::platform;

struct Journal {
    std::vector<DeviceOpen> opens;
    std::vector<DWORD> codes;
    std::atomic<int> destroyed{0};
};

// Code 1 echoes its input and counts it; code 2 fails; other codes count
// nothing.
class TestDevice final : public DeviceObject {
public:
    explicit TestDevice(Journal& j) : m_journal(j) {}
    ~TestDevice() override { ++m_journal.destroyed; }

    Result<DWORD> ioctl(DWORD code, const void* in, DWORD in_len, void* out, DWORD out_len) override
    {
        m_journal.codes.push_back(code);
        if (code == 2)
            return Win32Error{ERROR_NOT_SUPPORTED};
        if (code != 1)
            return DWORD{0};
        const DWORD n = in_len < out_len ? in_len : out_len;
        std::memcpy(out, in, n);
        return n;
    }

private:
    Journal& m_journal;
};

class DeviceTest : public kolm::test::RootedTest {
protected:
    Journal journal;
    DeviceRegistration registration{"KOLMVX.VXD", [this](const DeviceOpen& request) -> Result<std::shared_ptr<DeviceObject>> {
                                        journal.opens.push_back(request);
                                        return std::shared_ptr<DeviceObject>(std::make_shared<TestDevice>(journal));
                                    }};
};

TEST_F(DeviceTest, OpenByNameWithoutRegardToCase)
{
    ASSERT_TRUE(registration.registered());
    struct Row {
        const char* path;
        DWORD error; // 0: opens
    } rows[] = {
        {"\\\\.\\KOLMVX.VXD", 0},
        {"\\\\.\\kolmvx.vxd", 0},
        {"//./KolmVx.Vxd", 0},
        {"\\\\.\\OTHER.VXD", ERROR_FILE_NOT_FOUND},
        {"\\\\.\\KOLMVX", ERROR_FILE_NOT_FOUND},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.path);
        SetLastError(0xdeadbeef);
        HANDLE h = CreateFileA(r.path, 0, 0, nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (r.error) {
            EXPECT_EQ(h, INVALID_HANDLE_VALUE);
            EXPECT_EQ(GetLastError(), r.error);
        } else {
            ASSERT_NE(h, INVALID_HANDLE_VALUE);
            EXPECT_NE(h, nullptr);
            EXPECT_TRUE(CloseHandle(h));
        }
    }
    ASSERT_EQ(journal.opens.size(), 3u);
    EXPECT_EQ(journal.opens[1].name, "kolmvx.vxd");
    EXPECT_EQ(journal.opens[0].disposition, static_cast<DWORD>(CREATE_NEW));
    EXPECT_EQ(journal.opens[0].flags, static_cast<DWORD>(FILE_FLAG_DELETE_ON_CLOSE));
    EXPECT_EQ(journal.destroyed, 3) << "each device object goes with its last handle";
}

TEST_F(DeviceTest, DeviceIoControlRows)
{
    HANDLE dev = CreateFileA("\\\\.\\KOLMVX.VXD", 0, 0, nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    ASSERT_NE(dev, INVALID_HANDLE_VALUE);
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    char in[10] = "abcdefghi";
    OVERLAPPED overlapped{};
    struct Row {
        const char* what;
        HANDLE h;
        DWORD code;
        DWORD in_len;
        bool null_returned;
        LPOVERLAPPED overlapped;
        BOOL ok;
        DWORD error;
        DWORD returned;
    } rows[] = {
        {"echo", dev, 1, 10, false, nullptr, TRUE, 0xdeadbeef, 4},
        {"device refuses", dev, 2, 10, false, nullptr, FALSE, ERROR_NOT_SUPPORTED, 0},
        {"an event is no device", event, 1, 10, false, nullptr, FALSE, ERROR_INVALID_HANDLE, 0xbdbdbdbd},
        {"bad handle", DwordToHandle<HANDLE>(0x3FFFFF00), 1, 10, false, nullptr, FALSE, ERROR_INVALID_HANDLE, 0xbdbdbdbd},
        {"overlapped", dev, 1, 10, false, &overlapped, FALSE, ERROR_INVALID_PARAMETER, 0xbdbdbdbd},
        {"no returned count", dev, 1, 10, true, nullptr, FALSE, ERROR_INVALID_PARAMETER, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        DWORD out = 0;
        DWORD returned = 0xbdbdbdbd;
        SetLastError(0xdeadbeef);
        EXPECT_EQ(DeviceIoControl(r.h, r.code, in, r.in_len, &out, sizeof out, r.null_returned ? nullptr : &returned,
                                  r.overlapped),
                  r.ok);
        EXPECT_EQ(GetLastError(), r.error);
        if (!r.null_returned) {
            EXPECT_EQ(returned, r.returned);
        }
        if (r.ok) {
            EXPECT_EQ(std::memcmp(&out, "abcd", 4), 0);
        }
    }
    EXPECT_EQ(journal.codes, (std::vector<DWORD>{1, 2})) << "refused calls never reach the device";
    CloseHandle(event);
    CloseHandle(dev);
}

TEST_F(DeviceTest, ProviderComesAndGoes)
{
    HANDLE dev = CreateFileA("\\\\.\\KOLMVX.VXD", 0, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(dev, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(register_device("kolmvx.vxd", [](const DeviceOpen&) -> Result<std::shared_ptr<DeviceObject>> {
        return Win32Error{ERROR_ACCESS_DENIED};
    })) << "a name is taken once";
    ASSERT_TRUE(unregister_device("KOLMVX.VXD"));
    EXPECT_FALSE(unregister_device("KOLMVX.VXD"));

    SetLastError(0xdeadbeef);
    EXPECT_EQ(CreateFileA("\\\\.\\KOLMVX.VXD", 0, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    DWORD out = 0, returned = 0;
    char in[4] = {1, 2, 3, 4};
    EXPECT_TRUE(DeviceIoControl(dev, 1, in, 4, &out, 4, &returned, nullptr)) << "an open handle outlives its provider";
    EXPECT_EQ(returned, 4u);
    CloseHandle(dev);

    DeviceRegistration refusing("REFUSE", [](const DeviceOpen&) -> Result<std::shared_ptr<DeviceObject>> {
        return Win32Error{ERROR_ACCESS_DENIED};
    });
    SetLastError(0xdeadbeef);
    EXPECT_EQ(CreateFileA("\\\\.\\REFUSE", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

} // namespace
