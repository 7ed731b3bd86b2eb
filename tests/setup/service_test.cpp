// The setup utility's bookkeeping without its dialogs: list forms, the
// service name made from what was typed, the status text, the addresses
// remembered by name, and the cache of polled names.
#include "kolmset32.h"
#include "test_support.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

using namespace kolm::test;

namespace {

service_desc desc(signed char protocol, const char* name, unsigned char tag = 0)
{
    service_desc d;
    memset(&d, 0, sizeof d);
    d.protocol = protocol;
    strcpy(d.name, name);
    d.addr.sa_family = AF_IPX;
    memset(d.addr.sa_nodenum, tag, sizeof d.addr.sa_nodenum);
    d.addr.sa_netnum[3] = static_cast<char>(tag);
    return d;
}

TEST(SetupListForm, EntriesReadAndWritten)
{
    const std::string name47(47, 'n');
    struct Row {
        signed char protocol;
        std::string name;
        std::string line;
    } rows[] = {
        { PROTO_IP, "server7:3", "[IP ]server7:3" },
        { PROTO_IPX, "PRINTSRV", "[IPX]PRINTSRV" },
        { PROTO_IPX, name47, "[IPX]" + name47 },
        { PROTO_NONE, "plain", "plain" },
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.line);
        char line[LIST_ENTRY_LEN + 8];
        memset(line, 0xbd, sizeof line);
        const service_desc d = desc(r.protocol, r.name.c_str());
        desc_to_string(line, &d);
        EXPECT_EQ(line, r.line);
        for (size_t i = r.line.size() + 1; i < sizeof line; ++i)
            ASSERT_EQ(static_cast<unsigned char>(line[i]), 0xbd) << "written past the entry at " << i;
    }

    struct Back {
        const char* line;
        signed char protocol;
        const char* name;
    } back[] = {
        { "[IP ]server7:3", PROTO_IP, "server7:3" },
        { "[IPX]PRINTSRV", PROTO_IPX, "PRINTSRV" },
        { "PRINTSRV", PROTO_NONE, "" },
        { "[ip ]x", PROTO_NONE, "" },
        { "", PROTO_NONE, "" },
    };
    for (const auto& b : back) {
        SCOPED_TRACE(b.line);
        service_desc d = desc(PROTO_IP, "before", 0x5A);
        string_to_desc(b.line, &d);
        EXPECT_EQ(d.protocol, b.protocol);
        EXPECT_STREQ(d.name, b.name);
        EXPECT_EQ(static_cast<unsigned char>(d.addr.sa_nodenum[0]), 0x5A) << "the address is never touched";
    }
}

TEST(SetupListForm, TypedHostAndNumberMakeANameThatFits)
{
    struct Row {
        std::string host;
        unsigned number;
        int result;
        std::string name;
    } rows[] = {
        { "myhost", 7, 0, "myhost:7" },
        { std::string(45, 'a'), 1, 0, std::string(45, 'a') + ":1" },   // 47: fits
        { std::string(45, 'a'), 10, 1, "" },                            // 48
        { std::string(46, 'a'), 1, 1, "" },
        { "h", 4294967295u, 0, "h:4294967295" },
        { std::string(79, 'x'), 0, 1, "" },
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.host.size());
        char name[SERVICE_NAME_LEN + 8];
        memset(name, 0xbd, sizeof name);
        EXPECT_EQ(make_ip_service_name(r.host.c_str(), r.number, name), r.result);
        EXPECT_EQ(name, r.name);
        for (size_t i = SERVICE_NAME_LEN; i < sizeof name; ++i)
            ASSERT_EQ(static_cast<unsigned char>(name[i]), 0xbd) << "written past the name at " << i;
    }
}

class SetupData : public RootedTest {
protected:
    void SetUp() override
    {
        memset(ports, 0, sizeof ports);
        memset(savePort, 0, sizeof savePort);
    }
    void TearDown() override { memset(ports, 0, sizeof ports); }
};

TEST_F(SetupData, StatusTextOfEveryStatusWord)
{
    ports[0].serv[1] = desc(PROTO_IP, "server7:3");
    ports[0].serv[2] = desc(PROTO_IPX, "PORTSRV");
    struct Row {
        DWORD status;
        const char* text;
    } rows[] = {
        { 0, "Unknown" },
        { 1, "Not Loaded" },
        { 2, "Idle" },
        { 0x0103, "Connected to server7:3 over IP" },
        { 0x0203, "Connected to PORTSRV over IPX" },
        { 0x0003, "Connected to  over IPX" },
        { 0x0403, "Unknown" }, // no fifth service
        { 0xFF03, "Unknown" },
        { 4, "Unknown" },
        { 0xFF, "Unknown" },
        { 0xFFFF0102, "Idle" }, // only the low two bytes count
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.status);
        char text[STATUS_TEXT_LEN];
        status_text(r.status, text);
        EXPECT_STREQ(text, r.text);
    }
}

TEST_F(SetupData, AddressesAreGivenBackByNameWhereverTheEntryMoved)
{
    ports[0].serv[0] = desc(PROTO_IPX, "ALPHA", 0xA1);
    ports[0].serv[1] = desc(PROTO_IP, "host:1", 0x11);
    ports[0].serv[2] = desc(PROTO_IPX, "BETA", 0xB2);
    saveServiInfo(0); // after a save: every IPX entry counts as found
    EXPECT_EQ(savePort[0].valid, 1);
    EXPECT_EQ(savePort[1].valid, 0) << "TCP entries are not remembered";
    EXPECT_EQ(savePort[2].valid, 1);

    // The Service Selection dialog rebuilt the list from its text: BETA
    // first, a new IPX entry in slot 2 that keeps whatever the slot held.
    service_desc moved[MAX_SERVICES] = { desc(PROTO_IPX, "BETA", 0xA1), desc(PROTO_IPX, "ALPHA", 0x11),
                                         desc(PROTO_IPX, "GAMMA", 0xB2), desc(PROTO_IP, "BETA", 0x33) };
    memcpy(ports[0].serv, moved, sizeof moved);
    restoreServiInfo();
    EXPECT_EQ(static_cast<unsigned char>(ports[0].serv[0].addr.sa_nodenum[0]), 0xB2) << "BETA has its own address";
    EXPECT_EQ(static_cast<unsigned char>(ports[0].serv[0].addr.sa_netnum[3]), 0xB2);
    EXPECT_EQ(static_cast<unsigned char>(ports[0].serv[1].addr.sa_nodenum[0]), 0xA1) << "ALPHA has its own";
    EXPECT_EQ(static_cast<unsigned char>(ports[0].serv[2].addr.sa_nodenum[0]), 0xB2) << "GAMMA keeps the slot's";
    EXPECT_EQ(static_cast<unsigned char>(ports[0].serv[3].addr.sa_nodenum[0]), 0x33) << "a TCP entry is left alone";

    // Names compare exactly, and empty slots are skipped.
    memcpy(ports[0].serv, moved, sizeof moved);
    strcpy(ports[0].serv[0].name, "beta");
    ports[0].serv[1].name[0] = '\0';
    restoreServiInfo();
    EXPECT_EQ(static_cast<unsigned char>(ports[0].serv[0].addr.sa_nodenum[0]), 0xA1);
    EXPECT_EQ(static_cast<unsigned char>(ports[0].serv[1].addr.sa_nodenum[0]), 0x11);
}

// The cache of polled names, kept in a movable block of 48-byte slots and
// given to the IPX Service dialog's sorted list.
TEST_F(SetupData, PolledNamesAreCachedInSlotsThatBoundEachName)
{
    RegisterKmSetupResources();
    HWND dlg = CreateDialogParamA(nullptr, MAKEINTRESOURCE(IDD_IPX_SERVICE), nullptr,
                                  [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
    ASSERT_TRUE(dlg);
    const std::string long_name(60, 'Z');
    for (const char* name : { "PORTSRV", "ALPHA", long_name.c_str() })
        SendDlgItemMessageA(dlg, IDC_IPX_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    save_service_list(GetDlgItem(dlg, IDC_IPX_LIST));
    ASSERT_EQ(size_service_store, 3);
    ASSERT_EQ(GlobalSize(hservice_store), static_cast<SIZE_T>(3 * SERVICE_NAME_LEN));
    const char* slots = static_cast<const char*>(GlobalLock(hservice_store));
    ASSERT_TRUE(slots);
    EXPECT_STREQ(slots, "ALPHA");
    EXPECT_STREQ(slots + SERVICE_NAME_LEN, "PORTSRV");
    EXPECT_EQ(std::string(slots + 2 * SERVICE_NAME_LEN), std::string(47, 'Z')) << "cut to its slot";
    GlobalUnlock(hservice_store);

    // A second opening shows the cache without polling.
    SendDlgItemMessageA(dlg, IDC_IPX_LIST, LB_RESETCONTENT, 0, 0);
    restore_service_list(dlg, IDC_IPX_LIST);
    EXPECT_EQ(SendDlgItemMessageA(dlg, IDC_IPX_LIST, LB_GETCOUNT, 0, 0), 3);

    // Saving again frees the old block.
    HGLOBAL old = hservice_store;
    save_service_list(GetDlgItem(dlg, IDC_IPX_LIST));
    EXPECT_EQ(GlobalSize(old), 0u) << "the old block is freed";
    EXPECT_NE(GlobalSize(hservice_store), 0u);
    GlobalFree(hservice_store);
    hservice_store = nullptr;
    size_service_store = 0;
    DestroyWindow(dlg);
}

} // namespace
