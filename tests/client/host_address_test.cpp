#include "net/protocol/host_address.h"

#include <gtest/gtest.h>

namespace halvorin {
namespace {

TEST(HostAddress, NamesAddressesAndPorts) {
    auto plain = ParseHostAddress("storage-01", 6000);
    EXPECT_EQ(plain->host, "storage-01");
    EXPECT_EQ(plain->port, 6000);
    auto with_port = ParseHostAddress("192.0.2.7:6001", 6000);
    EXPECT_EQ(with_port->host, "192.0.2.7");
    EXPECT_EQ(with_port->port, 6001);
    auto v6 = ParseHostAddress("[2001:db8::5]:7000", 6000);
    EXPECT_EQ(v6->host, "2001:db8::5");
    EXPECT_EQ(v6->port, 7000);
    auto bare_v6 = ParseHostAddress("2001:db8::5", 6000);
    EXPECT_EQ(bare_v6->host, "2001:db8::5");
    EXPECT_EQ(bare_v6->port, 6000);
    EXPECT_EQ(ParseHostAddress("[::1]", 6000)->port, 6000);
}

TEST(HostAddress, MalformedEntriesAreRefused) {
    for (const char* bad :
         {"", "host:", "host:0", "host:65536", "host:12ab", ":6000", "[::1", "[]:1", "[::1]x"}) {
        EXPECT_FALSE(ParseHostAddress(bad, 6000)) << bad;
    }
}

}  // namespace
}  // namespace halvorin
