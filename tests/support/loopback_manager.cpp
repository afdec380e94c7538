#include "tests/support/loopback_manager.h"

#include <thread>

#include "base/utf16.h"
#include "enclosure/poll/poll_loop.h"
#include "sim/simulated_enclosure.h"

namespace halvorin::test {

LoopbackManager::LoopbackManager(const std::vector<sim::Scenario>& scenarios)
    : host_(std::make_shared<sim::SimHost>()) {
    for (const sim::Scenario& s : scenarios) {
        enclosures_.push_back(std::make_shared<sim::SimulatedEnclosure>(s, clock_));
        host_->Add(enclosures_.back());
    }
    transport_.AddHost(host_);
}

LoopbackManager::~LoopbackManager() {
    loop_.reset();
    if (registry_ && domain_) registry_->Release(domain_);
    registry_.reset();
    if (agent_) agent_->Stop();
}

ClientOptions LoopbackManager::ManagerOptions(Clock& clock) {
    ClientOptions options;
    options.clock = &clock;
    options.computer_name = kManagerName;
    options.max_wait = std::chrono::milliseconds(10);
    return options;
}

std::u16string LoopbackManager::HostName() const {
    return Utf8ToUtf16("127.0.0.1:" + std::to_string(AgentPort()));
}

bool LoopbackManager::Start(std::string& error) {
    if (!StartAgent(error)) return false;
    registry_ = std::make_unique<DomainRegistry>(ManagerOptions(clock_));
    domain_ = registry_->Acquire(HostName());
    loop_ = std::make_unique<PollLoop>(*registry_);
    return domain_ != nullptr;
}

bool LoopbackManager::StartAgent(std::string& error, uint16_t port) {
    AgentOptions agent_options;
    agent_options.port = port;
    agent_options.wait_interval = std::chrono::milliseconds(50);
    agent_options.rescan_interval = std::chrono::milliseconds(0);
    agent_ = std::make_unique<AgentServer>(transport_, agent_options);
    if (agent_->Start() != 0) {
        error = agent_->StartError();
        return false;
    }
    agent_->SetAuthorized({u"127.0.0.1"});  // the manager beside it, by its address
    return true;
}

void LoopbackManager::Poll() {
    loop_->Turn();
}

bool LoopbackManager::PollUntil(const std::function<bool()>& done,
                                std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        Poll();
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

bool LoopbackManager::AllRead(size_t expected_devices) {
    const std::vector<Ref<CSesDev>> devices = SnapshotDevices(domain_);
    bool done = devices.size() == expected_devices;
    for (const Ref<CSesDev>& d : devices) {
        done = done && ((d->Flags() & kDeviceReady) || (!d->chain_running && d->chain_error != 0));
    }
    return done && !domain_->client.pending_requests();
}

void LoopbackManager::Advance(int seconds) {
    clock_.AdvanceSeconds(seconds);
    domain_->client.Wake();
    Poll();
    // Quiet, not only nothing in flight: a handler that has not run yet may
    // still send the next link of a chain.
    PollUntil([&] { return domain_->client.quiet(); });
    Poll();
}

}  // namespace halvorin::test
