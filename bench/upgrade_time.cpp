// Time of a full firmware upgrade with a 4 MiB package over loopback, the
// simulated enclosure answering at once: the unpacking and checking (outside
// the wire) and the download itself, with replies delivered as they arrive
// and with the desktop's 100 ms poll step (measured on a slice and scaled).

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <thread>

#include "base/utf16.h"
#include "bench/quick_run.h"
#include "enclosure/model/domain_registry.h"
#include "enclosure/ops/firmware_package.h"
#include "enclosure/ops/firmware_upgrade.h"
#include "enclosure/poll/poll_step.h"
#include "net/agent/agent_server.h"
#include "sim/sim_host.h"

using namespace halvorin;
using Steady = std::chrono::steady_clock;

namespace {

std::vector<uint8_t> RandomImage(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> image(size);
    for (auto& b : image)
        b = static_cast<uint8_t>(random());
    return image;
}

double Seconds(Steady::time_point since) {
    return std::chrono::duration<double>(Steady::now() - since).count();
}

}  // namespace

// A simulated enclosure behind a real agent, and a manager domain for it
// that has read the enclosure.
struct Setup {
    explicit Setup(const sim::Scenario& scenario) : host(std::make_shared<sim::SimHost>()) {
        host->Add(std::make_shared<sim::SimulatedEnclosure>(scenario, SystemClock()));
        transport.AddHost(host);
        AgentOptions agent_options;
        agent_options.accept_claimed_names = true;  // made-up manager names
        agent_options.port = 0;
        agent = std::make_unique<AgentServer>(transport, agent_options);
        agent->Start();
        agent->SetAuthorized({u"BENCH"});
        ClientOptions options;
        options.computer_name = u"BENCH";
        registry = std::make_unique<DomainRegistry>(options);
        domain = registry->Acquire(Utf8ToUtf16("127.0.0.1:" + std::to_string(agent->port())));
        while (subencs.empty()) {
            PollStep(domain);
            domain->client.DeliverCompleted();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            subencs = CollectSubEnclosures(domain);
        }
    }
    ~Setup() {
        domain->client.Stop();
        StopFirmwareUpgrades();
        registry->Release(domain);
        registry.reset();
        agent->Stop();
    }
    std::shared_ptr<sim::SimHost> host;
    ScsiTransport transport;
    std::unique_ptr<AgentServer> agent;
    std::unique_ptr<DomainRegistry> registry;
    CSesDomain* domain = nullptr;
    std::vector<Ref<CSubEnc>> subencs;
};

int main(int argc, char** argv) {
    const int poll_steps = bench::TakeQuickFlag(argc, argv) ? 5 : 40;
    const auto image_a = RandomImage(3 << 20, 1), image_b = RandomImage(1 << 20, 2);
    const auto package = BuildFirmwarePackage("m810", image_a, image_b);
    const std::string path = "/tmp/halvorin-bench-fw.lzma";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(package.data()),
               static_cast<std::streamsize>(package.size()));

    auto start = Steady::now();
    {
        std::optional<UnpackedFirmware> unpacked;
        if (UnpackFirmware(path, "m810", unpacked).failed()) return 1;
    }
    const double unpack = Seconds(start);

    std::string error;
    auto scenario =
        sim::LoadScenario(std::string(HALVORIN_SOURCE_DIR) + "/sim/scenarios/jbod24.json", error);
    UpgradeOptions upgrade;
    upgrade.activation_wait = std::chrono::milliseconds(0);
    {
        Setup setup(*scenario);
        CSubEnc* subenc = setup.subencs[0].get();
        start = Steady::now();
        StartFirmwareUpgrade(subenc, path, upgrade);
        while (subenc->upgrade_state >= 0) {
            setup.domain->client.DeliverCompleted();  // replies delivered as they arrive
            std::this_thread::yield();
        }
        const double fast = Seconds(start);
        std::printf("4 MiB package (%zu bytes packed), 4096 pieces of 1 KiB: result %d\n",
                    package.size(), subenc->upgrade_state.load());
        std::printf("  unpack and check (outside the wire): %.3f s\n", unpack);
        std::printf(
            "  whole upgrade, replies delivered as they arrive: %.2f s (%.0f%% outside the round "
            "trips, %.0f us per piece)\n",
            fast, unpack / fast * 100, (fast - unpack) / 4096 * 1e6);
    }
    {
        // The desktop runs handlers in its 100 ms poll step: time some steps of an upgrade that
        // way.
        Setup setup(*scenario);
        CSubEnc* subenc = setup.subencs[0].get();
        StartFirmwareUpgrade(subenc, path, upgrade);
        while (subenc->upgrade_state == 0) {  // unpacking
            PollStep(setup.domain);
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollIntervalMs));
        }
        const int before = setup.host->Enclosures()[0]->PageWrites(0x0E);
        const auto slice = Steady::now();
        for (int step = 0; step < poll_steps; ++step) {
            PollStep(setup.domain);
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollIntervalMs));
        }
        const int pieces = setup.host->Enclosures()[0]->PageWrites(0x0E) - before;
        const double per_piece = Seconds(slice) / std::max(pieces, 1);
        std::printf(
            "  with the 100 ms poll step: %d pieces in %.1f s, %.0f ms per piece, about %.0f s for "
            "the whole upgrade\n",
            pieces, Seconds(slice), per_piece * 1000, per_piece * 4096 + unpack);
    }
    return 0;
}
