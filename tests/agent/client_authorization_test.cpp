#include "net/agent/client_authorization.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include "net/agent/peer_name_check.h"

namespace halvorin {
namespace {

sockaddr_storage Address(const char* text) {
    sockaddr_storage storage{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    if (inet_pton(AF_INET, text, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        return storage;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    EXPECT_EQ(inet_pton(AF_INET6, text, &v6->sin6_addr), 1) << text;
    v6->sin6_family = AF_INET6;
    return storage;
}

std::shared_ptr<AgentConnection> Connection(const char* peer, uint64_t id = 1) {
    sockaddr_storage address = Address(peer);
    return std::make_shared<AgentConnection>(UniqueFd(::socket(AF_INET, SOCK_STREAM, 0)), id,
                                             address, IsLocalPeer(address));
}

TEST(AllowEntry, NamesAddressesAndNetworksAreToldApart) {
    struct Case {
        const char16_t* text;
        bool valid;
        AllowEntry::Kind kind;
    } cases[] = {
        {u"admin-pc", true, AllowEntry::Kind::kName},
        {u"admin-pc.example.com", true, AllowEntry::Kind::kName},
        {u"192.0.2.7", true, AllowEntry::Kind::kNetwork},
        {u"192.0.2.0/24", true, AllowEntry::Kind::kNetwork},
        {u"2001:db8::5", true, AllowEntry::Kind::kNetwork},
        {u"2001:db8::/32", true, AllowEntry::Kind::kNetwork},
        {u"0.0.0.0/0", true, AllowEntry::Kind::kNetwork},
        {u"192.0.2.0/33", false, {}},
        {u"2001:db8::/129", false, {}},
        {u"192.0.2.0/", false, {}},
        {u"192.0.2.0/x", false, {}},
        {u"admin-pc/24", false, {}},
        {u"", false, {}},
    };
    for (const Case& c : cases) {
        auto entry = ParseAllowEntry(c.text);
        ASSERT_EQ(entry.has_value(), c.valid) << std::string(c.text, c.text + 1);
        if (entry) {
            EXPECT_EQ(entry->kind, c.kind);
        }
    }
}

TEST(AllowEntry, NetworksCoverTheirPeersOnEitherSocketFamily) {
    struct Case {
        const char16_t* entry;
        const char* peer;
        bool covered;
    } cases[] = {
        {u"192.0.2.0/24", "192.0.2.200", true},      {u"192.0.2.0/24", "192.0.3.1", false},
        {u"192.0.2.0/24", "::ffff:192.0.2.9", true},  // IPv4 peer on an IPv6 socket
        {u"192.0.2.7", "192.0.2.7", true},           {u"192.0.2.7", "192.0.2.8", false},
        {u"192.0.2.0/25", "192.0.2.128", false},     {u"2001:db8::/32", "2001:db8:ffff::1", true},
        {u"2001:db8::/32", "2001:db9::1", false},    {u"::1", "::1", true},
        {u"0.0.0.0/0", "203.0.113.5", true},         {u"0.0.0.0/0", "2001:db8::1", false},
        {u"admin-pc", "192.0.2.7", false},
    };
    for (const Case& c : cases) {
        auto entry = ParseAllowEntry(c.entry);
        ASSERT_TRUE(entry);
        EXPECT_EQ(CoversPeer(*entry, Address(c.peer)), c.covered) << c.peer;
    }
}

TEST(ClientAuthorization, AdmitsOnFactsAndChecksClaimedNames) {
    struct Case {
        bool accept_claimed;
        const char16_t* name;
        const char* peer;
        Admission expected;
    } cases[] = {
        {false, u"admin-pc", "192.0.2.10", Admission::kNeedsNameCheck},
        {true, u"admin-pc", "192.0.2.10", Admission::kAdmitted},
        {false, u"ADMIN-PC", "192.0.2.10", Admission::kNeedsNameCheck},  // case does not matter
        {false, u"stranger", "192.0.2.10", Admission::kRefused},
        {false, u"stranger", "198.51.100.20", Admission::kAdmitted},  // its network is listed
        {false, u"stranger", "2001:db8::7", Admission::kAdmitted},
        {false, u"storage-host", "127.0.0.1", Admission::kAdmitted},  // own name from this host
        {true, u"storage-host", "192.0.2.10", Admission::kRefused},   // own name from elsewhere
        {false, u"", "198.51.100.20", Admission::kRefused},
    };
    for (const Case& c : cases) {
        ClientAuthorization auth({u"STORAGE-HOST"}, c.accept_claimed);
        auth.SetAuthorized(
            {u"STORAGE-HOST", u"admin-pc", u"198.51.100.0/24", u"2001:db8::/64", u"not/valid"});
        EXPECT_EQ(auth.AuthorizedNames().size(), 4u);
        EXPECT_EQ(auth.Admit(c.name, *Connection(c.peer)), c.expected)
            << std::string(c.peer) << " claimed " << c.accept_claimed;
    }
}

TEST(ClientAuthorization, ServesSeveralManagersAndLetsGoOfThoseNoLongerListed) {
    ClientAuthorization auth({}, true);
    auth.SetAuthorized({u"mgr-a", u"mgr-b"});
    auto a = Connection("192.0.2.1", 1);
    auto b = Connection("192.0.2.2", 2);
    EXPECT_TRUE(auth.Authorize(u"mgr-a", a));
    EXPECT_TRUE(auth.Authorize(u"mgr-b", b));
    EXPECT_FALSE(auth.Authorize(u"mgr-c", Connection("192.0.2.3", 3)));
    ASSERT_EQ(auth.Served().size(), 2u);
    EXPECT_EQ(auth.Served()[1].peer, "192.0.2.2:0");
    EXPECT_EQ(auth.CurrentClient(), u"mgr-a");

    auth.SetAuthorized({u"mgr-b"});
    EXPECT_TRUE(a->IsShutDown());
    EXPECT_FALSE(b->IsShutDown());
    EXPECT_EQ(auth.CurrentClient(), u"mgr-b");
    auth.ConnectionDropped(*a);  // already gone: changes nothing
    auth.ConnectionDropped(*b);
    EXPECT_EQ(auth.CurrentClient(), u"");
}

TEST(PeerNameCheck, TheNameMustResolveToThePeerAndBack) {
    EXPECT_TRUE(CheckPeerName("localhost", Address("127.0.0.1")).confirmed);
    // The right name from another address, and a name that resolves nowhere.
    const PeerNameCheck elsewhere = CheckPeerName("localhost", Address("192.0.2.10"));
    EXPECT_FALSE(elsewhere.confirmed);
    EXPECT_NE(elsewhere.why.find("does not resolve to the peer"), std::string::npos)
        << elsewhere.why;
    EXPECT_FALSE(CheckPeerName("no-such-host.invalid", Address("127.0.0.1")).confirmed);

    EXPECT_TRUE(SameHostName("admin-pc", "ADMIN-PC.example.com"));
    EXPECT_TRUE(SameHostName("admin-pc.example.com", "admin-pc"));
    EXPECT_FALSE(SameHostName("admin-pc.example.com", "admin-pc.example.net"));
    EXPECT_FALSE(SameHostName("admin", "admin-pc"));
}

TEST(LocalPeer, LoopbackIsLocalAndForeignAddressesAreNot) {
    EXPECT_TRUE(IsLocalPeer(Address("127.0.0.1")));
    EXPECT_TRUE(IsLocalPeer(Address("127.8.9.10")));
    EXPECT_FALSE(IsLocalPeer(Address("192.0.2.77")));
}

}  // namespace
}  // namespace halvorin
