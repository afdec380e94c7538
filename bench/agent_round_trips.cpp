// What the agent costs per SCSI command, with the simulated 24-bay enclosure
// behind it, measured beside a reference: a minimal one-thread server that
// frames the same messages and runs them through the same executor and
// simulator, one at a time, with blocking reads and writes. For each server
// and 1, 16 and 256 requests in flight it prints round trips per second, the
// p50 and p99 round trip, and the server's CPU per command (the process's CPU
// less the client thread's).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <thread>

#include "base/clock.h"
#include "base/result_code.h"
#include "base/unique_fd.h"
#include "bench/bench_process.h"
#include "bench/quick_run.h"
#include "bench/simulated_agent.h"
#include "net/agent/agent_server.h"
#include "net/protocol/frame_assembler.h"
#include "net/protocol/wire_format.h"
#include "sim/attach.h"
#include "tests/support/wire_client.h"

using namespace halvorin;
using Steady = std::chrono::steady_clock;

namespace {

const std::vector<uint8_t> kReadStatusCdb = {0x1C, 0x01, 0x02, 0xFF, 0xFF};

// The reference: accepts one connection and serves it on its own thread, one
// message at a time: read, execute, write.
class ReferenceServer {
  public:
    explicit ReferenceServer(ScsiTransport& transport)
        : catalog_(transport, std::chrono::milliseconds(3000)), executor_(transport, catalog_) {
        listener_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_.get(), 1);
        socklen_t length = sizeof address;
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~ReferenceServer() { thread_.join(); }  // ends when the client closes
    uint16_t port() const { return port_; }

  private:
    static bool ReadAll(int fd, uint8_t* data, size_t size) {
        while (size > 0) {
            const ssize_t n = ::recv(fd, data, size, 0);
            if (n <= 0) return false;
            data += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }
    static bool WriteAll(int fd, const std::vector<uint8_t>& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    }

    void Serve() {
        UniqueFd client(::accept(listener_.get(), nullptr, nullptr));
        const int on = 1;
        ::setsockopt(client.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        std::stop_source never;
        while (true) {
            std::array<uint8_t, kHeaderSize> header_bytes;
            if (!ReadAll(client.get(), header_bytes.data(), header_bytes.size())) return;
            WireMessage message;
            message.header = DecodeHeader(header_bytes);
            message.payload.resize(message.header.length);
            if (!ReadAll(client.get(), message.payload.data(), message.payload.size())) return;
            std::vector<uint8_t> reply;
            if (message.header.type == MSG_HELLO) {
                const auto hello = EncodeHello(HELLO_INFO{1, u"REFERENCE"});
                reply = BuildReply(message.header, static_cast<int32_t>(hello.size()),
                                   std::vector<uint8_t>(hello.begin(), hello.end()));
            } else if (auto r = executor_.Execute(message, never.get_token())) {
                reply = BuildReply(message.header, r->result, r->payload);
            } else {
                continue;
            }
            if (!WriteAll(client.get(), reply)) return;
        }
    }

    DeviceCatalog catalog_;
    RequestExecutor executor_;
    UniqueFd listener_;
    uint16_t port_ = 0;
    std::thread thread_;
};

struct Figures {
    double per_second = 0, p50_us = 0, p99_us = 0, server_cpu_us = 0;
};

Figures Run(uint16_t port, int in_flight, int commands) {
    test::WireClient client(port);
    client.SendHello(u"bench");
    client.Receive();
    client.Send(MSG_ENUM_DEVICES, 1);
    auto devices = client.Receive();
    const DeviceList list = devices ? DecodeDeviceList(devices->payload) : DeviceList{};
    if (list.devices.empty()) {
        std::fprintf(stderr, "no simulated device\n");
        return {};
    }
    const SES_ADDR address = list.devices.front();

    std::map<uint32_t, Steady::time_point> sent;
    std::vector<double> latencies_us;
    latencies_us.reserve(commands);
    uint32_t next_tag = 1000;
    const double process_before = bench::ClockSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const double client_before = bench::ClockSeconds(CLOCK_THREAD_CPUTIME_ID);
    const auto start = Steady::now();
    int completed = 0;
    while (completed < commands) {
        while (static_cast<int>(sent.size()) < in_flight &&
               next_tag - 1000 < static_cast<uint32_t>(commands)) {
            sent[next_tag] = Steady::now();
            client.SendScsiIn(address, kReadStatusCdb, next_tag++);
        }
        auto reply = client.Receive();
        if (!reply) {
            std::fprintf(stderr, "reply missing\n");
            return {};
        }
        auto it = sent.find(reply->header.tag);
        latencies_us.push_back(
            std::chrono::duration<double, std::micro>(Steady::now() - it->second).count());
        sent.erase(it);
        ++completed;
    }
    const double seconds = std::chrono::duration<double>(Steady::now() - start).count();
    const double server_cpu = (bench::ClockSeconds(CLOCK_PROCESS_CPUTIME_ID) - process_before) -
                              (bench::ClockSeconds(CLOCK_THREAD_CPUTIME_ID) - client_before);
    std::sort(latencies_us.begin(), latencies_us.end());
    return {commands / seconds, latencies_us[latencies_us.size() / 2],
            latencies_us[latencies_us.size() * 99 / 100], server_cpu / commands * 1e6};
}

void Print(const char* server, int in_flight, const Figures& f) {
    std::printf(
        "%-9s in flight %3d: %8.0f round trips/s   p50 %7.1f us   p99 %7.1f us   "
        "server CPU %6.1f us/command\n",
        server, in_flight, f.per_second, f.p50_us, f.p99_us, f.server_cpu_us);
}

}  // namespace

int main(int argc, char** argv) {
    const int commands = bench::TakeQuickFlag(argc, argv) ? 300 : 20000;
    bench::SimulatedAgent simulated;
    AgentOptions options;
    options.max_in_flight = 1024;
    if (!simulated.Start("jbod24.json", options, u"bench")) return 1;
    AgentServer& agent = simulated.agent();
    ScsiTransport& transport = simulated.transport();
    std::printf(
        "MSG_SCSI_IN of the status page (page 0x02) of the simulated 24-bay enclosure,\n"
        "loopback, %d commands each\n",
        commands);
    std::map<int, Figures> agent_figures;
    for (int in_flight : {1, 16, 256}) {
        agent_figures[in_flight] = Run(agent.port(), in_flight, commands);
        Print("agent", in_flight, agent_figures[in_flight]);
    }
    agent.Stop();
    for (int in_flight : {1, 16, 256}) {
        ReferenceServer reference(transport);
        const Figures f = Run(reference.port(), in_flight, commands);
        Print("reference", in_flight, f);
        if (in_flight == 1) {
            std::printf("          agent p50 / reference p50 at 1 in flight: %.2f\n",
                        agent_figures[1].p50_us / f.p50_us);
        }
    }
    return 0;
}
