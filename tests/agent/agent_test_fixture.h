// An agent on a free loopback port serving one stub enclosure, with short
// idle intervals so the idle rules can be watched in well under a second.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "base/result_code.h"
#include "net/agent/agent_server.h"
#include "tests/support/enclosure_stub.h"
#include "tests/support/wire_client.h"

namespace halvorin::test {

inline const DeviceId kEnclosureId = {0x50, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x01};
inline const ScsiUnit kEnclosureUnit = {0, 0, 1, 0};
inline const SES_ADDR kEnclosure = SES_ADDR::Make(0, kEnclosureId, 0, 1, 0);
inline const std::vector<uint8_t> kReadStatusCdb = {0x1C, 0x01, 0x02, 0xFF, 0xFF};
inline const std::vector<uint8_t> kStatusPage = {0x02, 0x00, 0x00, 0x04, 0, 0, 0, 7};

// Holds commands until a test opens it; stop requests release them too.
class Gate {
  public:
    void Wait(std::stop_token stop) {
        std::unique_lock lock(mutex_);
        ++waiting_;
        changed_.notify_all();
        changed_.wait(lock, stop, [this] { return open_; });
        --waiting_;
    }
    void Open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    bool WaitForWaiters(int n) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return waiting_ >= n; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable_any changed_;
    bool open_ = false;
    int waiting_ = 0;
};

// Records what the agent reports to its user interface.
struct Notifications {
    static void Record(const AGENT_NOTIFY* n, void* context) {
        auto* self = static_cast<Notifications*>(context);
        std::lock_guard lock(self->mutex);
        self->kinds.push_back(n->kind);
        self->names.emplace_back(n->client_name);
        self->address_lengths.push_back(n->address_length);
    }
    std::mutex mutex;
    std::vector<uint32_t> kinds;
    std::vector<std::u16string> names;
    std::vector<uint32_t> address_lengths;
};

class AgentTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host_ = std::make_shared<ScriptedHost>(
            std::vector{kEnclosureUnit},
            EnclosureAnswers(kEnclosureId, [this](const ScsiIo& io, std::stop_token stop) {
                last_io_size_ = io.data.size();
                last_timeout_ = io.timeout_s;
                // Like SG_IO, a command stuck in the kernel may not see the stop.
                if (gate_commands_) gate_.Wait(ignore_stop_ ? std::stop_token{} : stop);
                if (io.direction == DataDirection::kOut)
                    return Good(static_cast<uint32_t>(io.data.size()));
                static const std::vector<uint8_t> kLargest(kMaxDataIn, 0x5A);
                return Answer(io, large_answers_ ? kLargest : kStatusPage);
            }));
        transport_.AddHost(host_);
    }

    // The test managers' names are made up and resolve nowhere, so they are
    // taken as claimed unless a test checks names.
    void StartAgent(AgentOptions options = {}, bool accept_claimed_names = true) {
        options.port = 0;
        options.accept_claimed_names = accept_claimed_names;
        if (options.wait_interval == std::chrono::milliseconds(1000)) {
            options.wait_interval = std::chrono::milliseconds(50);
        }
        options.computer_name = u"AGENT-TEST";
        options.own_names = {u"AGENT-TEST"};
        agent_ = std::make_unique<AgentServer>(transport_, options);
        ASSERT_EQ(agent_->Start(), kOk) << agent_->StartError();
        agent_->SetAuthorized({u"MANAGER-1"});
        agent_->SetNotify(&Notifications::Record, &notifications_);
    }

    // A client that said an authorised hello.
    std::unique_ptr<WireClient> Manager(const std::u16string& name = u"manager-1") {
        auto client = std::make_unique<WireClient>(agent_->port());
        EXPECT_TRUE(client->SendHello(name));
        auto reply = client->Receive();
        EXPECT_TRUE(reply && reply->header.status == 0);
        return client;
    }

    Notifications notifications_;  // outlives the agent that reports into it
    std::shared_ptr<ScriptedHost> host_;
    ScsiTransport transport_;
    std::unique_ptr<AgentServer> agent_;
    Gate gate_;
    std::atomic<bool> gate_commands_{false};
    std::atomic<bool> ignore_stop_{false};
    std::atomic<bool> large_answers_{false};  // every data-in answers 65535 bytes
    std::atomic<size_t> last_io_size_{0};
    std::atomic<uint32_t> last_timeout_{0};
};

}  // namespace halvorin::test
