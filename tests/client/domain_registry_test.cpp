#include "enclosure/model/domain_registry.h"

#include "tests/client/client_fixture.h"
#include "tests/support/model_fixture.h"

namespace halvorin {
namespace {

TEST(DomainRegistry, SameNameSameDomainAndNamesAreCaseSensitive) {
    DomainRegistry registry(test::OfflineOptions());
    CSesDomain* a = registry.Acquire(u"host-a");
    CSesDomain* again = registry.Acquire(u"host-a");
    CSesDomain* other = registry.Acquire(u"HOST-A");
    EXPECT_EQ(a, again);
    EXPECT_NE(a, other);
    EXPECT_EQ(a->RefCount(), 3);  // the registry's and two callers'
    auto snapshot = registry.Snapshot();
    EXPECT_EQ(snapshot.size(), 2u);
    EXPECT_EQ(a->RefCount(), 4);
    snapshot.clear();
    EXPECT_EQ(a->RefCount(), 3);
    registry.Release(a);
    registry.Release(again);
    registry.Release(other);
}

TEST(DomainRegistry, RemovingAHangingDomainReturnsPromptlyAndEndsItsRequests) {
    auto resolver = std::make_shared<test::HangingResolver>();
    ClientOptions options = test::OfflineOptions();
    options.resolver = resolver;
    auto registry = std::make_unique<DomainRegistry>(options);
    CSesDomain* domain = registry->Acquire(u"slow-dns.example");
    ASSERT_TRUE(test::Eventually([&] { return resolver->calls == 1; }));
    int ended = 0, closing = 0;
    for (int i = 0; i < 4; ++i) {
        domain->client.Enqueue(MSG_ENUM_DEVICES, {}, 10, [&](std::span<const uint8_t>, int result) {
            ++ended;
            closing += result == kClosing;
        });
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(registry->Remove(domain), kOk);
    registry->Release(domain);  // the caller's: destroyed now
    registry.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(ended, 4);
    EXPECT_EQ(closing, 4);
    resolver->Release();
}

TEST(DomainRegistry, OneEnumerationAtATime) {
    DomainRegistry registry(test::OfflineOptions());
    CSesDomain* domain = registry.Acquire(u"offline");
    int handled = 0;
    auto handler = [&](CSesDomain*, const DeviceList&) { ++handled; };
    EXPECT_EQ(registry.RequestEnumeration(domain, handler), kOk);
    EXPECT_EQ(registry.RequestEnumeration(domain, handler), kBusy);
    domain->client.FailAll(kTimedOut);
    domain->client.DeliverCompleted();
    EXPECT_EQ(handled, 0);  // a failed enumeration changes nothing
    EXPECT_EQ(registry.RequestEnumeration(domain, handler), kOk);  // the mark was cleared
    registry.Remove(domain);
    EXPECT_EQ(registry.RequestEnumeration(domain, handler), kClosing);
    registry.Release(domain);
}

}  // namespace
}  // namespace halvorin
