// `halvorinctl metrics` with 1,000 enclosures (250 hosts of 4 24-bay
// enclosures, real agents on loopback): the cost of building the samples on
// the polling thread for each scrape, of the text format, and of one scrape
// over HTTP as Prometheus makes it.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <prometheus/text_serializer.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>

#include "apps/halvorinctl/metrics_exporter.h"
#include "base/unique_fd.h"
#include "base/utf16.h"
#include "bench/loopback_hosts.h"

using namespace halvorin;

namespace {

constexpr int kHosts = 250;
constexpr int kEnclosuresPerHost = 4;

double Ms(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

size_t Scrape(uint16_t port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 0;
    const std::string request = "GET /metrics HTTP/1.0\r\n\r\n";
    ::send(fd.get(), request.data(), request.size(), MSG_NOSIGNAL);
    size_t total = 0;
    char buffer[1 << 16];
    for (ssize_t n; (n = ::recv(fd.get(), buffer, sizeof buffer, 0)) > 0;)
        total += size_t(n);
    return total;
}

uint16_t FreePort() {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

template <typename Step>
void Report(const char* what, int runs, Step step) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        step();
        ms.push_back(Ms(std::chrono::steady_clock::now() - start));
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%s: median %.1f ms, worst %.1f ms\n", what, ms[ms.size() / 2], ms.back());
}

}  // namespace

int main() {
    std::string error;
    auto scenario =
        sim::LoadScenario(std::string(HALVORIN_SOURCE_DIR) + "/sim/scenarios/jbod24.json", error);
    if (!scenario) return 1;
    auto agents = bench::StartHosts(*scenario, kHosts, kEnclosuresPerHost);
    if (agents.empty()) return 1;
    std::vector<std::string> hosts;
    for (auto& agent : agents)
        hosts.push_back(Utf16ToUtf8(agent->HostName()));
    ManualClock clock;
    std::atomic<bool> stop{false};
    ctl::ManagerSession session(hosts, stop, sim::LoopbackManager::ManagerOptions(clock));
    const auto start = std::chrono::steady_clock::now();
    session.WaitUntilRead(std::chrono::seconds(120));
    std::printf("%d hosts x %d enclosures read in %.1f s\n", kHosts, kEnclosuresPerHost,
                Ms(std::chrono::steady_clock::now() - start) / 1000);

    ctl::MetricCounters counters;
    ctl::MetricSet set;
    Report("building the samples (polling thread, once per scrape)", 10,
           [&] { set = ctl::BuildMetricSet(session, counters); });
    size_t series = 0;
    for (const auto& family : set)
        series += family.metric.size();
    std::printf("%zu families, %zu series\n", set.size(), series);

    Report("text serialisation of one set", 10, [&] {
        std::ostringstream out;
        prometheus::TextSerializer().Serialize(out, set);
    });

    // The command itself on this thread; scrapes from another, as Prometheus
    // would make them.
    const uint16_t port = FreePort();
    std::thread scraper([&] {
        while (Scrape(port) == 0 && !stop)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        size_t bytes = 0;
        Report("one scrape over HTTP (fresh samples built for it)", 10,
               [&] { bytes = Scrape(port); });
        std::printf("exposition: %.1f MB\n", bytes / 1e6);
        stop = true;
    });
    ctl::RunMetrics(session, "127.0.0.1:" + std::to_string(port), stop);
    scraper.join();
    return 0;
}
