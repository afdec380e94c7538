// Measures MSG_SCSI_IN round trips through the agent over loopback: requests
// per second and p50/p99 latency with 1, 16 and 256 requests in flight. The
// device is in memory and answers a 1 KiB page at once, so the figures are
// the agent's own cost (framing, threads, sockets).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>

#include "base/result_code.h"
#include "net/agent/agent_server.h"
#include "tests/support/enclosure_stub.h"
#include "tests/support/wire_client.h"

using namespace halvorin;
using Clock = std::chrono::steady_clock;

namespace {

const DeviceId kId = {0x50, 1, 2, 3, 4, 5, 6, 7};
const SES_ADDR kAddress = SES_ADDR::Make(0, kId, 0, 1, 0);

void Run(uint16_t port, int in_flight, int total) {
    test::WireClient client(port);
    client.SendHello(u"bench");
    client.Receive();
    client.Send(MSG_ENUM_DEVICES, 1);
    client.Receive();

    std::map<uint32_t, Clock::time_point> sent;
    std::vector<double> latencies_us;
    latencies_us.reserve(total);
    uint32_t next_tag = 1000;
    const auto start = Clock::now();
    int completed = 0;
    while (completed < total) {
        while (static_cast<int>(sent.size()) < in_flight &&
               next_tag - 1000 < static_cast<uint32_t>(total)) {
            sent[next_tag] = Clock::now();
            client.SendScsiIn(kAddress, {0x1C, 0x01, 0x02, 0xFF, 0xFF}, next_tag++);
        }
        auto reply = client.Receive();
        if (!reply) {
            std::fprintf(stderr, "reply missing\n");
            return;
        }
        auto it = sent.find(reply->header.tag);
        latencies_us.push_back(
            std::chrono::duration<double, std::micro>(Clock::now() - it->second).count());
        sent.erase(it);
        ++completed;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::sort(latencies_us.begin(), latencies_us.end());
    std::printf("in flight %3d: %8.0f round trips/s   p50 %7.1f us   p99 %7.1f us\n", in_flight,
                total / seconds, latencies_us[latencies_us.size() / 2],
                latencies_us[latencies_us.size() * 99 / 100]);
}

}  // namespace

int main() {
    ScsiTransport transport;
    const std::vector<uint8_t> page(1024, 0x5A);
    transport.AddHost(std::make_shared<test::ScriptedHost>(
        std::vector<ScsiUnit>{{0, 0, 1, 0}},
        test::EnclosureAnswers(
            kId, [&](const ScsiIo& io, std::stop_token) { return test::Answer(io, page); })));
    AgentOptions options;
    options.port = 0;
    options.max_in_flight = 1024;
    AgentServer agent(transport, options);
    if (agent.Start() != kOk) {
        std::fprintf(stderr, "%s\n", agent.StartError().c_str());
        return 1;
    }
    agent.SetAuthorized({u"bench"});
    std::printf("MSG_SCSI_IN, 1 KiB replies, loopback, in-memory device\n");
    for (int in_flight : {1, 16, 256})
        Run(agent.port(), in_flight, 20000);
    agent.Stop();
    return 0;
}
