#include "net/agent/client_authorization.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

namespace halvorin {
namespace {

sockaddr_storage Ipv4(const char* text) {
    sockaddr_storage storage{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    v4->sin_family = AF_INET;
    inet_pton(AF_INET, text, &v4->sin_addr);
    return storage;
}

std::shared_ptr<AgentConnection> Connection(const char* peer) {
    sockaddr_storage address = Ipv4(peer);
    return std::make_shared<AgentConnection>(UniqueFd(::socket(AF_INET, SOCK_STREAM, 0)), 1,
                                             address, IsLocalPeer(address));
}

TEST(ClientAuthorization, OwnComputerNameIsAcceptedOnlyFromThisHost) {
    ClientAuthorization auth({u"STORAGE-HOST"});
    auth.SetAuthorized({u"STORAGE-HOST", u"admin-pc"});

    auto remote = Connection("192.0.2.10");  // documentation range: never this host
    auth.ConnectionAccepted(remote);
    EXPECT_FALSE(auth.Authorize(u"storage-host", remote));
    EXPECT_TRUE(auth.Authorize(u"ADMIN-PC", remote));

    auto local = Connection("127.0.0.1");
    auth.ConnectionAccepted(local);
    EXPECT_TRUE(auth.Authorize(u"storage-host", local));
}

TEST(ClientAuthorization, EmptyListAndEmptyNameAuthoriseNobody) {
    ClientAuthorization auth({});
    auto local = Connection("127.0.0.1");
    auth.ConnectionAccepted(local);
    EXPECT_FALSE(auth.Authorize(u"anyone", local));
    auth.SetAuthorized({u"", u"x"});
    EXPECT_FALSE(auth.Authorize(u"", local));
    EXPECT_EQ(auth.AuthorizedNames(), std::vector<std::u16string>{u"x"});
}

TEST(ClientAuthorization, HelloOnAConnectionThatIsNoLongerCurrentIsRefused) {
    ClientAuthorization auth({});
    auth.SetAuthorized({u"mgr"});
    auto old_one = Connection("127.0.0.1");
    auto new_one = Connection("127.0.0.1");
    auth.ConnectionAccepted(old_one);
    auth.ConnectionAccepted(new_one);
    EXPECT_FALSE(auth.Authorize(u"mgr", old_one));
    EXPECT_TRUE(auth.Authorize(u"mgr", new_one));
    auth.ConnectionDropped(*old_one);  // a stale drop changes nothing
    EXPECT_EQ(auth.CurrentClient(), u"mgr");
    auth.ConnectionDropped(*new_one);
    EXPECT_EQ(auth.CurrentClient(), u"");
}

TEST(LocalPeer, LoopbackIsLocalAndForeignAddressesAreNot) {
    EXPECT_TRUE(IsLocalPeer(Ipv4("127.0.0.1")));
    EXPECT_TRUE(IsLocalPeer(Ipv4("127.8.9.10")));
    EXPECT_FALSE(IsLocalPeer(Ipv4("192.0.2.77")));
}

}  // namespace
}  // namespace halvorin
