// Hosts that could not be reached are asked again every 2 s at first, then
// less and less often, up to every 30 s.
#include "enclosure/poll/host_retry.h"

#include <gtest/gtest.h>

#include "base/result_code.h"
#include "tests/support/fake_agent.h"  // Eventually
#include "tests/support/process.h"

namespace halvorin {
namespace {

using namespace std::chrono_literals;

TEST(HostRetrySchedule, AnUnreachableHostIsAskedAgainSoonThenLessOften) {
    ManualClock clock(1'000'000);
    ClientOptions options;
    options.clock = &clock;
    CSesClient client("127.0.0.1:" + std::to_string(test::FreePort()), options);  // refused
    ASSERT_EQ(client.Start(), kOk);
    ASSERT_TRUE(test::Eventually([&] { return client.state() == kStateUnreachable; }));
    // Refused: the client itself would wait 100 s.
    EXPECT_GE(client.retry_time(), clock.NowSeconds() + 90);

    HostRetrySchedule schedule;
    const auto t0 = std::chrono::steady_clock::time_point{} + 1000s;
    std::vector<int> retried_at;
    for (int second = 0; second <= 400; ++second) {
        const uint64_t before = client.connection_generation();
        if (!schedule.Step(client, t0 + std::chrono::seconds(second))) {
            EXPECT_EQ(client.connection_generation(), before) << second;
            continue;
        }
        retried_at.push_back(second);
        // A retry makes a new connection at once, which is refused again.
        ASSERT_TRUE(test::Eventually([&] { return client.connection_generation() > before; }));
        ASSERT_TRUE(test::Eventually([&] { return client.state() == kStateUnreachable; }));
    }
    ASSERT_GE(retried_at.size(), 12u);
    EXPECT_EQ(retried_at[0], 2);
    for (size_t i = 1; i < retried_at.size(); ++i) {
        const int gap = retried_at[i] - retried_at[i - 1];
        if (retried_at[i] <= 20) {
            EXPECT_EQ(gap, 2) << retried_at[i];
        }
        EXPECT_GE(gap, retried_at[i - 1] - (i > 1 ? retried_at[i - 2] : 0)) << "never sooner";
        EXPECT_LE(gap, 30);
    }
    EXPECT_EQ(retried_at.back() - retried_at[retried_at.size() - 2], 30) << "after five minutes";
    client.Stop();
}

}  // namespace
}  // namespace halvorin
