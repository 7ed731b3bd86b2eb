// The redirected port's configuration in the registry: finding the port,
// loading and saving the four service values.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "datawin.h"
#include "devsim_process.h"
#include "test_support.h"

using namespace kolm::test;

namespace {

void set_sz(const char* path, const char* name, const std::string& value)
{
    HKEY key;
    DWORD disp;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disp),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>(value.size() + 1)),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

void make_key(const char* path)
{
    HKEY key;
    DWORD disp;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disp),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

// The stored value and its size in bytes; size -1 when absent.
std::pair<std::string, long> read_sz(const char* path, const char* name)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {"", -1};
    char buf[256] = {};
    DWORD size = sizeof buf, type = 0;
    const LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        return {"", -1};
    return {buf, static_cast<long>(size)};
}

void port_key(const char* sub, const char* mfg, const char* name)
{
    const std::string path = std::string("Enum\\Root\\Ports\\") + sub;
    set_sz(path.c_str(), "Mfg", mfg);
    set_sz(path.c_str(), "PORTNAME", name);
}

class Config : public RootedTest {
protected:
    void SetUp() override { std::memset(ports, 0x5A, sizeof ports); }
};

TEST_F(Config, LoadsTheServiceValues)
{
    port_key("0001", "Tarvizone", "COM5");
    set_sz(keyPath, "Service0", "IP:server7:3");
    set_sz(keyPath, "Service1", "");
    set_sz(keyPath, "Service2", "IPX:00000012:00-00-1B-22-3C-4D:PRINTSRV");
    EXPECT_EQ(load_data_win(0), 0);
    EXPECT_STREQ(portName, "COM5");
    EXPECT_EQ(ports[0].redirect, 1);
    EXPECT_EQ(ports[0].state, 0);
    EXPECT_EQ(ports[0].curServ, 0);
    EXPECT_EQ(ports[0].socket, 0u);
    EXPECT_EQ(ports[1].state, 0) << "every record is cleared";
    EXPECT_EQ(ports[1].serv[0].name[0], '\0') << "every record is cleared";
    EXPECT_EQ(ports[0].serv[0].protocol, PROTO_IP);
    EXPECT_STREQ(ports[0].serv[0].name, "server7:3");
    EXPECT_EQ(ports[0].serv[1].name[0], '\0');
    EXPECT_EQ(ports[0].serv[2].protocol, PROTO_IPX);
    EXPECT_STREQ(ports[0].serv[2].name, "PRINTSRV");
    EXPECT_EQ(ports[0].serv[2].addr.sa_netnum[3], 0x12);
    EXPECT_EQ(ports[0].serv[3].name[0], '\0');
    for (int p = 1; p < MAX_PORTS; ++p)
        EXPECT_EQ(ports[p].redirect, 0) << "the other records stay cleared";

    // Saving writes all four, the empty slots as empty strings.
    ports[0].serv[2].protocol = 0; // keep the save free of any SAP lookup
    ports[0].serv[2].name[0] = '\0';
    EXPECT_EQ(save_data_win(), 0);
    EXPECT_EQ(read_sz(keyPath, "Service0"), std::make_pair(std::string("IP:server7:3"), 13L));
    for (const char* v : {"Service1", "Service2", "Service3"})
        EXPECT_EQ(read_sz(keyPath, v), std::make_pair(std::string(""), 1L)) << v;
}

TEST_F(Config, MissingKeyLeavesEverythingEmptyButThePortName)
{
    port_key("0001", "Tarvizone", "COM4");
    EXPECT_EQ(load_data_win(-1), ERROR_FILE_NOT_FOUND);
    EXPECT_STREQ(portName, "COM4");
    for (int i = 0; i < MAX_SERVICES; ++i)
        EXPECT_EQ(ports[0].serv[i].name[0], '\0');
    EXPECT_EQ(ports[0].redirect, 0);
    EXPECT_EQ(save_data_win(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(read_sz(keyPath, "Service0").second, -1) << "nothing written";
}

TEST_F(Config, FindsTheFirstPortWithTheExactMark)
{
    struct Row {
        std::vector<std::tuple<const char*, const char*, const char*>> keys;
        const char* expect;
    } rows[] = {
        {{{"0001", "Tarvizone", "COM3"}, {"0002", "Tarvizone", "COM4"}}, "COM3"},
        {{{"0001", "tarvizone", "COM3"}, {"0002", "Tarvizone", "COM6"}}, "COM6"},
        {{{"0001", "Other", "COM1"}}, ""},
        {{{"0001", "Tarvizone", "COM12345"}}, ""}, // does not fit 7 characters
        {{{"0001", "Tarvizone", "COM1234"}}, "COM1234"},
        {{{"0001", "TarvizoneX", "COM3"}}, ""},
        {{}, ""},
    };
    int n = 0;
    for (const auto& r : rows) {
        TempRoot fresh;
        make_key(keyPath);
        for (const auto& [sub, mfg, name] : r.keys)
            port_key(sub, mfg, name);
        std::strcpy(portName, "junk");
        load_data_win(0);
        EXPECT_STREQ(portName, r.expect) << "row " << n;
        ++n;
    }
}

TEST_F(Config, OverlongAndMalformedValuesLeaveTheirSlotEmpty)
{
    make_key(keyPath);
    set_sz(keyPath, "Service0", "IP:" + std::string(77, 'h')); // 80 characters
    set_sz(keyPath, "Service1", "IPX:0000");
    set_sz(keyPath, "Service2", "Bogus");
    set_sz(keyPath, "Service3", "IP:" + std::string(47, 'k'));
    EXPECT_EQ(load_data_win(0), 0);
    EXPECT_EQ(ports[0].serv[0].name[0], '\0');
    EXPECT_EQ(ports[0].serv[1].name[0], '\0');
    EXPECT_EQ(ports[0].serv[2].name[0], '\0');
    EXPECT_EQ(std::strlen(ports[0].serv[3].name), 47u);
}

TEST_F(Config, SaveLooksIpxServicesUp)
{
    // The segment is the test process's private one (see sap_test.cpp).
    WSADATA wd;
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &wd), 0);
    // The service answers from a node with bytes of 0x80 and above.
    DevsimProcess dev({"--sap", "PRINTSRV,4040", "--sap-node", "80FF9A0001FE"});
    ASSERT_TRUE(dev.ready()) << dev.error();
    make_key(keyPath);
    set_sz(keyPath, "Service1", "IPX:00000000:00-00-00-00-00-01:PRINTSRV");
    ASSERT_EQ(load_data_win(0), 0);
    EXPECT_EQ(save_data_win(), 0);
    EXPECT_EQ(read_sz(keyPath, "Service1").first, "IPX:0000000A:80-FF-9A-00-01-FE:PRINTSRV");
    ASSERT_EQ(load_data_win(0), 0);
    const unsigned char want[6] = {0x80, 0xFF, 0x9A, 0x00, 0x01, 0xFE};
    EXPECT_EQ(std::memcmp(ports[0].serv[1].addr.sa_nodenum, want, 6), 0);
    WSACleanup();
}

} // namespace
