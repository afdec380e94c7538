// The agent when an allocation fails: only the request, or the connection,
// that needed the memory is lost. This program replaces the global operator
// new so a test can make allocations of one exact size fail.
#include <atomic>
#include <cstdlib>
#include <new>

#include "tests/agent/agent_test_fixture.h"

namespace {

std::atomic<size_t> g_failing_size{0};

void* Allocate(size_t size) {
    if (size != 0 && size == g_failing_size.load(std::memory_order_relaxed)) throw std::bad_alloc();
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(size_t size) {
    return Allocate(size);
}
void* operator new[](size_t size) {
    return Allocate(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}

// Under AddressSanitizer, memory that other libraries got from its own
// operator new comes back through ours (malloc/free): not a mismatch that matters here.
extern "C" const char* __asan_default_options() {
    return "alloc_dealloc_mismatch=0";
}

namespace halvorin {
namespace {

using namespace std::chrono_literals;
using namespace test;

class AgentOutOfMemory : public AgentTest {
  protected:
    void TearDown() override { g_failing_size = 0; }
};

TEST_F(AgentOutOfMemory, ARequestWithoutMemoryIsAnsweredMinus3AndTheNextOneRuns) {
    StartAgent();
    auto client = Manager();
    ASSERT_TRUE(client->Send(MSG_ENUM_DEVICES, 1));
    ASSERT_TRUE(client->Receive());
    g_failing_size = kMaxDataIn;  // the data-in buffer of the next command
    ASSERT_TRUE(client->SendScsiIn(kEnclosure, kReadStatusCdb, 2, kMaxDataIn, 10));
    auto reply = client->Receive(2s);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->header.tag, 2u);
    EXPECT_EQ(reply->header.status, kOutOfMemory);
    g_failing_size = 0;
    ASSERT_TRUE(client->SendScsiIn(kEnclosure, kReadStatusCdb, 3, kMaxDataIn, 10));
    reply = client->Receive(2s);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->payload, kStatusPage);
}

// An empty device list would read as "every enclosure removed": without
// memory for the list the answer is -3, and the next enumeration works.
TEST_F(AgentOutOfMemory, AnEnumerationWithoutMemoryIsAnsweredMinus3) {
    StartAgent();
    auto client = Manager();
    g_failing_size = kSesAddrSize;  // one device's record
    ASSERT_TRUE(client->Send(MSG_ENUM_DEVICES, 1));
    auto reply = client->Receive(2s);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->header.status, kOutOfMemory);
    g_failing_size = 0;
    ASSERT_TRUE(client->Send(MSG_ENUM_DEVICES, 2));
    reply = client->Receive(2s);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->payload.size(), kSesAddrSize);
}

TEST_F(AgentOutOfMemory, AMessageWithoutMemoryDropsOnlyItsConnection) {
    StartAgent();
    auto client = Manager();
    const std::vector<uint8_t> payload(kMaxPayload, 0);
    g_failing_size = kMaxPayload;  // the agent's copy of the next full-size payload
    ASSERT_TRUE(client->Send(99, 5, payload));
    EXPECT_TRUE(client->ClosedWithin(2s));
    g_failing_size = 0;
    auto next = Manager();  // the agent goes on serving
    ASSERT_TRUE(next->Send(MSG_ENUM_DEVICES, 6));
    auto reply = next->Receive(2s);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->header.tag, 6u);
}

}  // namespace
}  // namespace halvorin
