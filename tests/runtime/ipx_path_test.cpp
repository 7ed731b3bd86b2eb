// The runtime's IPX branch end to end: services found by SAP name or given
// by address, reached over SPX on a private segment, with devsim as the
// far end.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>

#include "data.h"
#include "datawin.h"
#include "devsim_process.h"
#include "iface32.h"
#include "runtime_harness.h"

using namespace kolm::test;

namespace {

class SegmentEnvironment : public ::testing::Environment {
public:
    void SetUp() override { use_private_ipx_segment("0000000A"); }
};
[[maybe_unused]] ::testing::Environment* const g_env = ::testing::AddGlobalTestEnvironment(new SegmentEnvironment);

// "NNNNNNNN:XXXXXXXXXXXX:SSSS" of a name devsim advertises.
std::string advertised(const DevsimProcess& d, const std::string& name)
{
    for (const auto& l : d.lines())
        if (l.rfind("sap " + name + " ", 0) == 0)
            return l.substr(5 + name.size());
    return "";
}

// The stored form of an address "NNNNNNNN:XXXXXXXXXXXX:SSSS".
std::string stored_address(const std::string& a)
{
    std::string out = a.substr(0, 8) + ":";
    for (int i = 0; i < 6; ++i)
        out += a.substr(9 + 2 * i, 2) + (i < 5 ? "-" : ":");
    return out;
}

std::string read_service(int slot)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "<no key>";
    char name[16], buf[128] = {};
    std::snprintf(name, sizeof name, "Service%d", slot);
    DWORD size = sizeof buf, type = 0;
    const LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? std::string(buf) : "<none>";
}

std::string random_bytes(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(rng() & 0xFF);
    return s;
}

RuntimeSetup with_services(std::vector<std::string> services)
{
    RuntimeSetup s;
    s.services = std::move(services);
    return s;
}

TEST(IpxPath, ServiceFoundByNameEchoesAndItsAddressIsStored)
{
    DevsimProcess dev({"--spx", "--sap", "ECHOSRV"});
    ASSERT_TRUE(dev.ready()) << dev.error();
    // Stored in lower case: the connection looks it up in upper case and
    // the name keeps its case. (The save that follows looks the name up as
    // it is stored, finds no server of that exact name, and so stores the
    // node with network 0: found by broadcast again next time.)
    RuntimeHarness rt(with_services({"IPX:00000000:00-00-00-00-00-01:echosrv"}));
    ASSERT_TRUE(rt.start());
    rt.port().raise(CMD_PREP);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_CONNECTED, 1, std::chrono::seconds(40)));
    EXPECT_EQ(read_service(0), "IPX:00000000:" + stored_address(advertised(dev, "ECHOSRV")).substr(9) + "echosrv");

    const std::string payload = random_bytes(1 << 20, 5);
    rt.port().write(payload);
    ASSERT_TRUE(rt.port().wait_for_received(payload.size(), std::chrono::seconds(90)));
    EXPECT_TRUE(rt.port().received() == payload) << "echo differs";
    rt.port().raise(CMD_DISC);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_DISC_DONE));
    EXPECT_TRUE(rt.wait_screen("Successfully redirected COM3 to service echosrv"));
}

TEST(IpxPath, ExplicitAddressNeedsNoQuery)
{
    // devsim answers no SAP query at all: only the address can reach it.
    DevsimProcess dev({"--spx", "--sap-silent", "--sap", "QUIET,5000"});
    ASSERT_TRUE(dev.ready()) << dev.error();
    const std::string where = advertised(dev, "QUIET"); // NNNNNNNN:XXXXXXXXXXXX:5000
    const std::string stored = "IPX:00000000:00-00-00-00-00-01:" + where;
    RuntimeHarness rt(with_services({stored}));
    ASSERT_TRUE(rt.start());
    rt.port().raise(CMD_PREP);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_CONNECTED, 1, std::chrono::seconds(40)));
    rt.port().write("by address");
    ASSERT_TRUE(rt.port().wait_for_received(10));
    EXPECT_EQ(rt.port().received(), "by address");
    EXPECT_EQ(read_service(0), stored) << "nothing was looked up, nothing saved";
}

TEST(IpxPath, StoredAddressFollowsAMoveAndOnlyThen)
{
    // The address on record is that of a station that does not offer the
    // service; the service itself answers from another node.
    DevsimProcess old_station({"--sap", "OTHER"});
    DevsimProcess dev({"--spx", "--sap", "MOVER"});
    ASSERT_TRUE(old_station.ready() && dev.ready());
    const std::string before = "IPX:" + stored_address(advertised(old_station, "OTHER")) + "MOVER";
    // A slot the loader leaves empty: any save would write it back as "".
    RuntimeHarness rt(with_services({before, "", "", "Bogus"}));
    ASSERT_TRUE(rt.start());
    rt.port().raise(CMD_PREP);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_CONNECTED, 1, std::chrono::seconds(60)));
    const std::string moved = "IPX:" + stored_address(advertised(dev, "MOVER")) + "MOVER";
    EXPECT_EQ(read_service(0), moved);
    EXPECT_EQ(read_service(3), "") << "the move was saved";

    rt.port().raise(CMD_DISC);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_DISC_DONE));
    rt.set_service(3, "Bogus");
    // Found where the record says: nothing is written.
    rt.port().raise(CMD_PREP);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_CONNECTED, 2, std::chrono::seconds(60)));
    EXPECT_EQ(read_service(0), moved);
    EXPECT_EQ(read_service(3), "Bogus") << "no save when the service did not move";
}

TEST(IpxPath, FarEndClosing)
{
    DevsimProcess dev({"--spx", "--spx-mode", "close:3000", "--sap", "CLOSER"});
    ASSERT_TRUE(dev.ready()) << dev.error();
    RuntimeHarness rt(with_services({"IPX:00000000:00-00-00-00-00-01:CLOSER"}));
    ASSERT_TRUE(rt.start());
    rt.port().raise(CMD_PREP);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_CONNECTED, 1, std::chrono::seconds(40)));
    rt.port().write(random_bytes(10000, 6));
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_NET_CLOSED, 1, std::chrono::seconds(40)));
    EXPECT_TRUE(rt.wait_screen("CLOSER closed the connection on COM3"));
    rt.port().raise(CMD_DISC);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_DISC_DONE));
    int closes = 0;
    for (int s : rt.port().subfunctions())
        closes += s == SUBF_NET_CLOSED;
    EXPECT_EQ(closes, 1);
}

} // namespace
