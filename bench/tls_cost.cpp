// What TLS costs a manager of the 84-bay dual-path enclosure: the time from
// connecting to a complete model, and the round trip of one status read
// (one command in flight, as a poll step sends them), over plain TCP and over
// mutual TLS to the same kind of agent.

#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench/model_connect.h"
#include "bench/quick_run.h"
#include "bench/simulated_agent.h"
#include "net/client/ses_client.h"
#include "net/protocol/wire_format.h"
#include "tests/support/test_certificates.h"

using namespace halvorin;
using bench::Steady;

namespace {

// How many connections and status reads are timed.
struct Runs {
    int connects = 7;
    int commands = 3000;
};

struct Figures {
    double connect_ms = 0;  // median
    double p50_us = 0;
    double p99_us = 0;
};

// Waits on the client's completion descriptor until `done`.
template <typename Done>
bool DeliverUntil(CSesClient& client, Done done) {
    const auto give_up = Steady::now() + std::chrono::seconds(10);
    while (!done()) {
        if (Steady::now() > give_up) return false;
        pollfd ready{client.completion_fd(), POLLIN, 0};
        ::poll(&ready, 1, 100);
        client.DeliverCompleted();
    }
    return true;
}

bool RoundTrips(uint16_t port, ClientOptions options, int commands, Figures& figures) {
    options.computer_name = u"BENCH";
    CSesClient client("127.0.0.1:" + std::to_string(port), options);
    if (client.Start() != kOk ||
        !DeliverUntil(client, [&] { return client.state() == kStateReady; }))
        return false;
    DeviceList list;
    bool listed = false;
    client.Enqueue(MSG_ENUM_DEVICES, {}, 10, [&](std::span<const uint8_t> payload, int) {
        list = DecodeDeviceList(payload);
        listed = true;
    });
    if (!DeliverUntil(client, [&] { return listed; }) || list.devices.empty()) return false;
    const SES_ADDR device = list.devices.front();
    std::vector<double> latencies;
    for (int i = 0; i < commands; ++i) {
        bool answered = false;
        const auto sent = Steady::now();
        client.SendScsiIn(device, Cdb{0x1C, 0x01, 0x02, 0xFF, 0xFF}, 10,
                          [&](std::span<const uint8_t>, int result) { answered = result > 0; });
        if (!DeliverUntil(client, [&] { return answered; })) return false;
        latencies.push_back(
            std::chrono::duration<double, std::micro>(Steady::now() - sent).count());
    }
    std::sort(latencies.begin(), latencies.end());
    figures.p50_us = latencies[latencies.size() / 2];
    figures.p99_us = latencies[latencies.size() * 99 / 100];
    client.Stop();
    return true;
}

bool Measure(const TlsFiles& agent_tls, const TlsFiles& manager_tls, const Runs& runs_of,
             Figures& figures) {
    AgentOptions agent_options;
    agent_options.tls = agent_tls;
    bench::SimulatedAgent agent;
    if (!agent.Start("jbod84-dual-path.json", agent_options, u"BENCH")) return false;
    ClientOptions options;
    if (manager_tls.Any()) {
        std::string error;
        options.tls = TlsContext::Create(TlsRole::kManager, manager_tls, error);
        if (!options.tls) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return false;
        }
    }
    std::vector<double> runs;
    for (int i = 0; i < runs_of.connects; ++i)
        runs.push_back(bench::ConnectOnce(agent.port(), true, options));
    std::sort(runs.begin(), runs.end());
    figures.connect_ms = runs[runs.size() / 2];
    return RoundTrips(agent.port(), options, runs_of.commands, figures);
}

}  // namespace

int main(int argc, char** argv) {
    const Runs runs = bench::TakeQuickFlag(argc, argv) ? Runs{1, 20} : Runs{};
    test::TestCertificates pki("BENCH");
    Figures plain, secure;
    if (!Measure({}, {}, runs, plain) ||
        !Measure({pki.ca, pki.agent.cert, pki.agent.key}, pki.manager, runs, secure))
        return 1;
    std::printf(
        "84-bay dual path, connect to complete model (median of %d): plain %.1f ms, "
        "TLS %.1f ms (+%.1f ms)\n",
        runs.connects, plain.connect_ms, secure.connect_ms, secure.connect_ms - plain.connect_ms);
    std::printf(
        "status read round trip over %d commands: plain p50 %.0f us p99 %.0f us, "
        "TLS p50 %.0f us p99 %.0f us (p50 %.2fx)\n",
        runs.commands, plain.p50_us, plain.p99_us, secure.p50_us, secure.p99_us,
        secure.p50_us / plain.p50_us);
    return 0;
}
