// A client on a manual clock, and helpers to drive its one-second tick.
#pragma once

#include <gtest/gtest.h>

#include "base/result_code.h"
#include "net/client/ses_client.h"
#include "tests/support/fake_agent.h"
#include "tests/support/model_fixture.h"

namespace halvorin::test {

// Records every completion, so tests can check each request ended once.
struct Outcomes {
    ReplyHandler For(int id) {
        return [this, id](std::span<const uint8_t> payload, int result) {
            results[id].push_back(result);
            payloads[id].assign(payload.begin(), payload.end());
        };
    }
    std::map<int, std::vector<int>> results;
    std::map<int, std::vector<uint8_t>> payloads;
};

class ClientTest : public ::testing::Test {
  protected:
    ClientOptions Options(std::shared_ptr<NameResolver> resolver = SystemResolver()) {
        ClientOptions options;
        options.clock = &clock_;
        options.resolver = std::move(resolver);
        options.computer_name = u"TEST-MANAGER";
        options.max_wait = std::chrono::milliseconds(20);
        return options;
    }

    // Advances the clock one second and waits until the client's tick ran.
    void Tick(CSesClient& client) {
        const int32_t before = client.tick_counter();
        clock_.AdvanceMs(1000);
        client.Wake();
        ASSERT_TRUE(Eventually([&] { return client.tick_counter() > before; }));
    }
    void AdvanceSeconds(CSesClient& client, int seconds) {
        clock_.AdvanceSeconds(seconds);
        client.Wake();
    }
    bool ReachesState(CSesClient& client, int state,
                      std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        return Eventually([&] { return client.state() == state; }, limit);
    }
    // Delivers completions until the request has an outcome.
    bool Completes(CSesClient& client, Outcomes& outcomes, int id) {
        return Eventually([&] {
            client.DeliverCompleted();
            return !outcomes.results[id].empty();
        });
    }

    ManualClock clock_;
};

// Never answers until released (a name server that does not respond).
class HangingResolver : public NameResolver {
  public:
    std::vector<ResolvedAddress> Resolve(const std::string&) override {
        ++calls;
        std::unique_lock lock(mutex_);
        released_.wait(lock, [&] { return released; });
        return {};
    }
    void Release() {
        std::lock_guard lock(mutex_);
        released = true;
        released_.notify_all();
    }
    std::atomic<int> calls{0};

  private:
    std::mutex mutex_;
    std::condition_variable released_;
    bool released = false;
};

inline std::string Loopback(uint16_t port) {
    return "127.0.0.1:" + std::to_string(port);
}

}  // namespace halvorin::test
