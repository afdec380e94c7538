// `halvorinctl metrics` with 1,000 enclosures (250 hosts of 4 24-bay
// enclosures, real agents on loopback in a child process, so the figures of
// memory and threads are the exporter's own): the cost of a scrape on the
// polling thread when every enclosure's text is written anew and when the
// kept text serves, of one scrape over HTTP as Prometheus makes it, and
// the exporter's resident memory and threads.
//
// --serve keeps serving afterwards on --port PORT for a real Prometheus.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>

#include "apps/halvorinctl/metrics_exporter.h"
#include "base/unique_fd.h"
#include "base/utf16.h"
#include "bench/loopback_hosts.h"
#include "bench/quick_run.h"

using namespace halvorin;

namespace {

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

// A line of /proc/self/status ("VmRSS", "Threads").
std::string ProcessStatus(const std::string& key) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key + ":", 0) == 0) return line.substr(key.size() + 1);
    return "?";
}

// The agents in a child process; their host names come back through a pipe,
// and the child ends when the pipe's other end closes.
std::vector<std::string> StartAgentProcess(const sim::Scenario& scenario, int host_count,
                                           pid_t& child, UniqueFd& keep_alive) {
    int names[2], alive[2];
    if (::pipe(names) != 0 || ::pipe(alive) != 0) return {};
    child = ::fork();
    if (child == 0) {
        ::close(names[0]);
        ::close(alive[1]);
        auto agents = bench::StartHosts(scenario, host_count, kEnclosuresPerHost);
        std::string list;
        for (auto& agent : agents)
            list += Utf16ToUtf8(agent->HostName()) + "\n";
        list += "\n";
        (void)!::write(names[1], list.data(), list.size());
        char byte;
        while (::read(alive[0], &byte, 1) > 0) {
        }
        std::_Exit(0);
    }
    ::close(names[1]);
    ::close(alive[0]);
    keep_alive = UniqueFd(alive[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; !text.ends_with("\n\n") && (n = ::read(names[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, size_t(n));
    ::close(names[0]);
    std::vector<std::string> hosts;
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos && end > start;
         start = end + 1)
        hosts.push_back(text.substr(start, end - start));
    return hosts;
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

int main(int argc, char** argv) {
    const bool quick = bench::TakeQuickFlag(argc, argv);
    const int host_count = quick ? 5 : 250, runs = quick ? 2 : 10;
    const bool serve = argc > 1 && std::strcmp(argv[1], "--serve") == 0;
    const uint16_t serve_port = argc > 3 ? uint16_t(std::atoi(argv[3])) : 9611;
    std::string error;
    auto scenario =
        sim::LoadScenario(std::string(HALVORIN_SOURCE_DIR) + "/sim/scenarios/jbod24.json", error);
    if (!scenario) return 1;
    pid_t child = -1;
    UniqueFd keep_alive;
    const std::vector<std::string> hosts =
        StartAgentProcess(*scenario, host_count, child, keep_alive);
    if (hosts.size() != size_t(host_count)) return 1;
    ManualClock clock;
    std::atomic<bool> stop{false};
    ctl::ManagerSession session(hosts, stop, test::LoopbackManager::ManagerOptions(clock));
    const auto start = std::chrono::steady_clock::now();
    session.WaitUntilRead(std::chrono::seconds(120));
    std::printf("%d hosts x %d enclosures read in %.1f s\n", host_count, kEnclosuresPerHost,
                Ms(std::chrono::steady_clock::now() - start) / 1000);

    for (const bool all : {false, true}) {
        ctl::MetricsExporter exporter(session, {.all_elements = all});
        std::string text;
        std::printf("%s:\n", all ? "--all-elements" : "default (elements that are not OK)");
        Report("  scrape, every enclosure written", runs, [&] {
            ctl::MetricsExporter fresh(session, {.all_elements = all});
            text = fresh.Scrape();
        });
        exporter.Scrape();
        Report("  scrape, kept text (no poll between)", runs, [&] { text = exporter.Scrape(); });
        size_t rewritten = 0;
        Report("  a poll step (it waits up to 100 ms) and a scrape", runs, [&] {
            session.Poll();
            session.WaitForNextStep();
            text = exporter.Scrape();
            rewritten = std::max(rewritten, exporter.rewritten_enclosures());
        });
        std::printf(
            "  %zd series, %.1f MB, at most %zu enclosures written again after a step\n",
            std::count(text.begin(), text.end(), '\n') - std::count(text.begin(), text.end(), '#'),
            text.size() / 1e6, rewritten);
    }

    // The command itself on this thread; scrapes from another, as Prometheus
    // would make them.
    const uint16_t port = serve ? serve_port : FreePort();
    std::thread scraper([&] {
        while (Scrape(port) == 0 && !stop)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        size_t bytes = 0;
        Report("one scrape over HTTP", runs, [&] { bytes = Scrape(port); });
        std::printf("exposition: %.1f MB\n", bytes / 1e6);
        std::printf("exporter: resident%s, threads%s\n", ProcessStatus("VmRSS").c_str(),
                    ProcessStatus("Threads").c_str());
        std::fflush(stdout);
        if (!serve) stop = true;
    });
    ctl::RunMetrics(session, "127.0.0.1:" + std::to_string(port), {}, stop);
    scraper.join();
    keep_alive.reset();
    ::waitpid(child, nullptr, 0);
    return 0;
}
