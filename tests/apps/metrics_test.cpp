// `halvorinctl metrics`: the samples built from a real model (simulated
// enclosures behind a real agent on loopback), checked by promtool, and the
// command end to end, scraped by a real Prometheus server.
#include "apps/halvorinctl/metrics_exporter.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <thread>

#include "base/host_name.h"
#include "base/unique_fd.h"
#include "base/utf16.h"
#include "enclosure/model/element_types.h"
#include "enclosure/model/ses_dev.h"
#include "tests/support/ctl_host.h"
#include "tests/support/fake_agent.h"
#include "tests/support/loopback_manager.h"
#include "tests/support/process.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/temp_path.h"

namespace halvorin {
namespace {

using nlohmann::json;
using test::ChildOptions;
using test::ChildProcess;

// A system name that needs every escape the text format has, and UTF-8.
constexpr char kAwkwardName[] = "Rack \"A\" \\ B\nR\xC3\xBC";
constexpr char kAwkwardNameEscaped[] = "Rack \\\"A\\\" \\\\ B\\nR\xC3\xBC";

constexpr int64_t kFanStopsAt = 7200;

// The 24-bay scenario with the awkward name and its second power supply failed.
sim::Scenario FailedSupplyScenario() {
    sim::Scenario scenario = test::LoadShippedScenario("jbod24.json");
    scenario.system_name = kAwkwardName;
    sim::EventSpec failure;
    failure.at_seconds = 0;
    failure.action = sim::EventAction::kPowerSupplyFail;
    failure.type = kTypePowerSupply;
    failure.element = 1;
    scenario.events.push_back(failure);
    // A sensor past its critical threshold: a fault without its FAIL bit.
    sim::EventSpec hot;
    hot.action = sim::EventAction::kTemperature;
    hot.type = kTypeTemperature;
    hot.value = 85;  // high critical 70
    scenario.events.push_back(hot);
    sim::EventSpec fan;
    fan.at_seconds = kFanStopsAt;
    fan.action = sim::EventAction::kFanStop;
    fan.type = kTypeCooling;
    fan.element = 0;
    scenario.events.push_back(fan);
    return scenario;
}

// The lines of `text` of metric `name` (the name followed by labels or a blank).
std::vector<std::string> Lines(const std::string& text, const std::string& name) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(name + "{", 0) == 0 || line.rfind(name + " ", 0) == 0) lines.push_back(line);
    return lines;
}

// promtool's verdict on an exposition, or nothing when promtool is missing.
std::optional<std::string> PromtoolProblems(const std::string& text) {
    if (std::system("command -v promtool >/dev/null 2>&1") != 0) return std::nullopt;
    const std::string file = test::UniqueTempPath("metrics.txt");
    std::ofstream(file) << text;
    ChildProcess check({"/bin/sh", "-c", "promtool check metrics < '" + file + "' 2>&1"});
    std::string out;
    const int code = check.Wait(out);
    std::filesystem::remove(file);
    return code == 0 ? std::string() : "exit " + std::to_string(code) + ": " + out;
}

// The whole HTTP response to `request` sent to a loopback port (IPv4, or
// IPv6 with `v6`); empty when nothing listens.
std::string HttpExchange(uint16_t port, const std::string& request, bool v6 = false) {
    UniqueFd fd(::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0));
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (v6) {
        auto& address = reinterpret_cast<sockaddr_in6&>(storage);
        address.sin6_family = AF_INET6;
        address.sin6_port = htons(port);
        address.sin6_addr = in6addr_loopback;
        length = sizeof address;
    } else {
        auto& address = reinterpret_cast<sockaddr_in&>(storage);
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof address;
    }
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&storage), length) != 0) return {};
    const timeval patience{10, 0};  // a server that never answers fails the test, not hangs it
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    if (::send(fd.get(), request.data(), request.size(), MSG_NOSIGNAL) < 0) return {};
    std::string response;
    char buffer[65536];
    for (ssize_t n; (n = ::recv(fd.get(), buffer, sizeof buffer, 0)) > 0;)
        response.append(buffer, size_t(n));
    return response;
}

// The body of a GET, or nothing.
std::string HttpGet(uint16_t port, const std::string& path, bool v6 = false) {
    const std::string response =
        HttpExchange(port, "GET " + path + " HTTP/1.0\r\nHost: localhost\r\n\r\n", v6);
    const size_t body = response.find("\r\n\r\n");
    return body == std::string::npos ? std::string() : response.substr(body + 4);
}

// Starts `halvorinctl metrics` for `host` on `listen` (port 0: the system
// picks) and returns the ports it says it serves on, in its order.
std::vector<uint16_t> StartExporter(std::optional<ChildProcess>& exporter, const std::string& host,
                                    const std::string& listen = "127.0.0.1:0",
                                    size_t addresses = 1) {
    exporter.emplace(
        std::vector<std::string>{HALVORINCTL, "-H", host, "metrics", "--listen", listen},
        ChildOptions{.with_errors = true});
    std::vector<uint16_t> ports;
    const std::string said = "serving metrics on http://";
    while (ports.size() < addresses) {
        const std::optional<std::string> line = exporter->ReadLine(std::chrono::seconds(10));
        if (!line) break;
        const size_t at = line->find(said);
        const size_t colon = line->rfind(':');
        if (at != std::string::npos && colon != std::string::npos)
            ports.push_back(uint16_t(std::stoi(line->substr(colon + 1))));
    }
    return ports;
}

class MetricsTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(host_.ready); }

    test::CtlHost host_{FailedSupplyScenario()};
    ManualClock& clock_ = host_.clock;
    test::LoopbackManager* agent_ = host_.agent.get();
    ctl::ManagerSession* session_ = host_.session.get();
};

// The sum of the values of `lines`.
double Sum(const std::vector<std::string>& lines) {
    double sum = 0;
    for (const std::string& line : lines)
        sum += std::stod(line.substr(line.rfind(' ') + 1));
    return sum;
}

TEST_F(MetricsTest, TheSamplesFollowTheModelWithLabelsEscapedAndPassPromtool) {
    ctl::MetricsExporter exporter(*session_, {});
    exporter.counters().connect_failures[session_->hosts()[0]] = 2;
    const std::string text = exporter.Scrape();

    // The display name is a label of one series only, so a rename churns one.
    const auto info = Lines(text, "halvorin_enclosure_info");
    ASSERT_EQ(info.size(), 1u);
    EXPECT_NE(info[0].find("name=\"" + std::string(kAwkwardNameEscaped) + "\""), std::string::npos);
    EXPECT_EQ(text.find(kAwkwardNameEscaped), text.rfind(kAwkwardNameEscaped)) << text;

    // Of the elements only those that are not OK: the failed supply and the
    // hot sensor.
    const auto failed = Lines(text, "halvorin_element_failed");
    const auto failed_of = [&](const char* type) {
        return std::count_if(failed.begin(), failed.end(), [&](const std::string& line) {
            return line.find(std::string("type=\"") + type + "\"") != std::string::npos &&
                   line.ends_with(" 1");
        });
    };
    EXPECT_EQ(failed_of("Power Supply"), 1) << text;
    EXPECT_EQ(failed_of("Temperature Sensor"), 1) << text;
    for (const std::string& line : Lines(text, "halvorin_element_status_code"))
        EXPECT_FALSE(line.ends_with(" 1") && line.find("Sensor") == std::string::npos) << line;
    const auto per_type = Lines(text, "halvorin_failed_elements");
    EXPECT_TRUE(std::any_of(per_type.begin(), per_type.end(), [](const std::string& line) {
        return line.find("type=\"Power Supply\"") != std::string::npos && line.ends_with(" 1");
    }));
    // Readings and thresholds of every sensor.
    EXPECT_EQ(Lines(text, "halvorin_fan_speed_rpm").size(), 4u);
    EXPECT_FALSE(Lines(text, "halvorin_temperature_celsius").empty());
    EXPECT_FALSE(Lines(text, "halvorin_temperature_high_critical_threshold_celsius").empty());
    EXPECT_FALSE(Lines(text, "halvorin_voltage_volts").empty());
    ASSERT_EQ(Lines(text, "halvorin_agent_reachable").size(), 1u);
    EXPECT_TRUE(Lines(text, "halvorin_agent_reachable")[0].ends_with(" 1"));
    EXPECT_TRUE(Lines(text, "halvorin_agent_connect_failures_total")[0].ends_with(" 2"));
    EXPECT_EQ(Lines(text, "halvorin_status_events_total").size(), 3u);
    EXPECT_EQ(Lines(text, "halvorin_firmware_info").size(), 1u);
    EXPECT_EQ(Lines(text, "halvorin_buzzer_sounding").size(), 1u);
    EXPECT_EQ(Lines(text, "halvorin_exporter_build_info"),
              std::vector<std::string>{"halvorin_exporter_build_info{version=\"" +
                                       std::string(HALVORIN_VERSION) + "\"} 1"});

    const auto problems = PromtoolProblems(text);
    if (!problems) GTEST_SKIP() << "promtool is not installed";
    EXPECT_EQ(*problems, "");
}

// Asked for every element, there is a series for each one the counts count.
TEST_F(MetricsTest, AllElementsGivesASeriesForEveryElementCounted) {
    ctl::MetricsExporter some(*session_, {});
    ctl::MetricsExporter all(*session_, {.all_elements = true});
    const std::string text = all.Scrape();
    const auto status = Lines(text, "halvorin_element_status_code");
    EXPECT_EQ(double(status.size()), Sum(Lines(text, "halvorin_elements")));
    EXPECT_GT(status.size(), 24u);
    EXPECT_LT(Lines(some.Scrape(), "halvorin_element_status_code").size(), status.size() / 4);
}

// A scrape writes again only the enclosures that changed: an unchanged
// model gives the same text from what was kept; a fan that stops is shown.
TEST_F(MetricsTest, TextIsKeptUntilTheEnclosureChanges) {
    ctl::MetricsExporter exporter(*session_, {});
    const std::string first = exporter.Scrape();
    EXPECT_EQ(exporter.rewritten_enclosures(), 1u);
    EXPECT_EQ(exporter.Scrape(), first);
    EXPECT_EQ(exporter.rewritten_enclosures(), 0u);

    agent_->clock().AdvanceSeconds(kFanStopsAt + 1);
    std::string text;
    const auto fan_stopped = [&] {
        clock_.AdvanceSeconds(10);  // the manager reads the status again
        session_->PollFor(std::chrono::milliseconds(100));
        text = exporter.Scrape();
        const auto speeds = Lines(text, "halvorin_fan_speed_rpm");
        return !speeds.empty() && speeds[0].ends_with(" 0");
    };
    EXPECT_TRUE(test::Eventually(fan_stopped, std::chrono::seconds(10))) << text;
    EXPECT_EQ(exporter.Scrape(), text);
    EXPECT_EQ(exporter.rewritten_enclosures(), 0u);
}

// An enclosure that vanishes takes its element series with it, but what is
// left says so: the host's enclosure count drops to 0 and the time of its
// last read stays, so an alert on either fires.
TEST_F(MetricsTest, AnEnclosureThatDisappearsLeavesItsCountAndLastReadBehind) {
    ctl::MetricsExporter exporter(*session_, {});
    const auto exported = [&] { return Lines(exporter.Scrape(), "halvorin_firmware_info").size(); };
    ASSERT_EQ(exported(), 1u);
    std::string text = exporter.Scrape();
    EXPECT_EQ(
        Lines(text, "halvorin_enclosures"),
        std::vector<std::string>{"halvorin_enclosures{host=\"" + session_->hosts()[0] + "\"} 1"});
    const std::vector<std::string> last_read =
        Lines(text, "halvorin_enclosure_last_read_timestamp_seconds");
    ASSERT_EQ(last_read.size(), 1u);
    ASSERT_TRUE(agent_->host().SetDevicePresent(agent_->enclosure(), 0, false));
    // The next device list leaves it out. A list asked for before the device
    // went may still be on its way: another minute asks again.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (exported() != 0 && std::chrono::steady_clock::now() < deadline) {
        clock_.AdvanceSeconds(61);
        session_->PollFor(std::chrono::milliseconds(200));
    }
    EXPECT_EQ(exported(), 0u);
    text = exporter.Scrape();
    EXPECT_TRUE(Lines(text, "halvorin_element_failed").empty());
    EXPECT_EQ(
        Lines(text, "halvorin_enclosures"),
        std::vector<std::string>{"halvorin_enclosures{host=\"" + session_->hosts()[0] + "\"} 0"});
    EXPECT_EQ(
        Lines(text, "halvorin_devices"),
        std::vector<std::string>{"halvorin_devices{host=\"" + session_->hosts()[0] + "\"} 0"});
    EXPECT_EQ(Lines(text, "halvorin_enclosure_last_read_timestamp_seconds"), last_read);
}

// ":PORT" serves every IPv4 and IPv6 address; the server answers what
// it is asked as HTTP wants and nothing else.
TEST(MetricsCommand, ServesEveryAddressAndAnswersOnlyTheMetricsPage) {
    std::optional<ChildProcess> metrics;
    const auto ports =
        StartExporter(metrics, "127.0.0.1:" + std::to_string(test::FreePort()), ":0", 2);
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_NE(HttpGet(ports[0], "/metrics").find("halvorin_agent_reachable"), std::string::npos);
    EXPECT_NE(HttpGet(ports[1], "/metrics", true).find("halvorin_agent_reachable"),
              std::string::npos);

    const struct {
        const char* request;
        const char* status;
        bool body;
    } cases[] = {
        {"GET /metrics?x=1 HTTP/1.1\r\nHost: a\r\n\r\n", "HTTP/1.1 200 OK", true},
        {"HEAD /metrics HTTP/1.1\r\nHost: a\r\n\r\n", "HTTP/1.1 200 OK", false},
        {"GET /other HTTP/1.1\r\n\r\n", "HTTP/1.1 404 Not Found", true},
        {"POST /metrics HTTP/1.1\r\nContent-Length: 0\r\n\r\n", "HTTP/1.1 405", false},
        {"GET /metrics HTTP/1.1\n\n", "HTTP/1.1 200 OK", true},
    };
    for (const auto& c : cases) {
        const std::string response = HttpExchange(ports[0], c.request);
        EXPECT_EQ(response.rfind(c.status, 0), 0u) << c.request << response.substr(0, 200);
        const size_t end = response.find("\r\n\r\n");
        ASSERT_NE(end, std::string::npos) << c.request;
        EXPECT_EQ(end + 4 < response.size(), c.body) << c.request;
    }
    // A request that never ends is answered and closed, not waited for.
    const std::string huge = "GET /metrics HTTP/1.1\r\nX: " + std::string(10000, 'a');
    EXPECT_EQ(HttpExchange(ports[0], huge).rfind("HTTP/1.1 431", 0), 0u);
}

std::string ReadSource(const std::string& path) {
    std::ifstream in(std::string(HALVORIN_SOURCE_DIR) + "/" + path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The shipped alert rules pass promtool's check and their unit tests.
TEST(MetricsDocumentation, TheShippedAlertRulesPassTheirTests) {
    if (std::system("command -v promtool >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "promtool is not installed";
    const std::string dir = std::string(HALVORIN_SOURCE_DIR) + "/packaging/prometheus";
    ChildProcess check({"/bin/sh", "-c",
                        "cd '" + dir + "' && promtool check rules rules.yml 2>&1 && " +
                            "promtool test rules rules_test.yml 2>&1"});
    std::string out;
    EXPECT_EQ(check.Wait(out), 0) << out;
}

// Every metric the rules, the dashboard and the documentation name is one
// the exporter writes.
TEST_F(MetricsTest, TheRulesDashboardAndDocumentationNameMetricsThatExist) {
    ctl::MetricsExporter exporter(*session_, {.all_elements = true});
    const std::string text = exporter.Scrape();
    const std::regex name("halvorin_[a-z_]+");
    for (const char* file : {"packaging/prometheus/rules.yml",
                             "packaging/grafana/halvorin-enclosures.json", "docs/METRICS.md"}) {
        const std::string source = ReadSource(file);
        for (auto it = std::sregex_iterator(source.begin(), source.end(), name);
             it != std::sregex_iterator(); ++it) {
            const std::string metric = it->str();
            if (metric.ends_with("_") || metric == "halvorin_current_amperes" ||
                metric.rfind("halvorin_current_", 0) == 0)
                continue;  // a pattern, or a sensor kind the scenario lacks
            EXPECT_NE(text.find("# TYPE " + metric + " "), std::string::npos)
                << file << " names " << metric;
        }
    }
}

// The command as an operator runs it, scraped by a real Prometheus server.
// Clients that send their request a byte at a time (or never finish it) hold
// a connection each: scrapes are still answered beside fifty of them.
TEST(MetricsCommand, ScrapesAreAnsweredBesideFiftySlowClients) {
    std::optional<ChildProcess> metrics;
    const auto ports = StartExporter(metrics, "127.0.0.1:" + std::to_string(test::FreePort()));
    ASSERT_EQ(ports.size(), 1u);
    const uint16_t metrics_port = ports[0];
    std::vector<UniqueFd> slow;
    for (int i = 0; i < 50; ++i) {
        UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(metrics_port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        const std::string start = "GET /metrics HTTP/1.1\r\nHost: x\r\n";
        ::send(fd.get(), start.data(), start.size(), MSG_NOSIGNAL);
        slow.push_back(std::move(fd));
    }
    for (int scrape = 0; scrape < 8; ++scrape) {
        const auto start = std::chrono::steady_clock::now();
        const std::string scraped = HttpGet(metrics_port, "/metrics");
        EXPECT_NE(scraped.find("halvorin_agent_reachable"), std::string::npos)
            << "scrape " << scrape << " answered:\n"
            << scraped;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    }
}

TEST(MetricsCommand, PrometheusScrapesAFanAndTheFailedPowerSupply) {
    if (std::system("command -v prometheus >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "prometheus is not installed";
    struct Folder {
        std::string path = test::UniqueTempPath("prometheus");
        Folder() { std::filesystem::create_directories(path); }
        ~Folder() { std::filesystem::remove_all(path); }
    } dir;
    const std::string scenario = dir.path + "/scenario.json";
    {
        json described = json::parse(
            std::ifstream(std::string(HALVORIN_SOURCE_DIR) + "/sim/scenarios/jbod24.json"));
        described["events"] = json::array(
            {{{"at", 0}, {"action", "power_supply_fail"}, {"element", 2}}});  // counted from 1
        std::ofstream(scenario) << described.dump(2);
    }
    const uint16_t agent_port = test::FreePort();
    ChildProcess agent({HALVORIN_AGENTD, "--port", std::to_string(agent_port), "--allow",
                        Utf16ToUtf8(ManagerComputerName()), "--simulate", scenario});
    std::optional<ChildProcess> ctl;
    const auto ports = StartExporter(ctl, "127.0.0.1:" + std::to_string(agent_port));
    ASSERT_EQ(ports.size(), 1u);
    const uint16_t metrics_port = ports[0];
    ASSERT_TRUE(test::Eventually(
        [&] {
            return HttpGet(metrics_port, "/metrics").find("halvorin_fan_speed_rpm{") !=
                   std::string::npos;
        },
        std::chrono::seconds(30)));

    const uint16_t prometheus_port = test::FreePort();
    std::ofstream(dir.path + "/prometheus.yml")
        << "global:\n  scrape_interval: 1s\nscrape_configs:\n  - job_name: halvorin\n"
           "    static_configs:\n      - targets: ['127.0.0.1:"
        << metrics_port << "']\n";
    ChildProcess prometheus({"/usr/bin/prometheus", "--config.file=" + dir.path + "/prometheus.yml",
                             "--storage.tsdb.path=" + dir.path + "/data",
                             "--web.listen-address=127.0.0.1:" + std::to_string(prometheus_port)});
    const auto query = [&](const std::string& expression) {
        std::string encoded;
        for (unsigned char c : expression) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            encoded += std::isalnum(c) || c == '_' ? std::string(1, char(c)) : std::string(hex);
        }
        const json answer =
            json::parse(HttpGet(prometheus_port, "/api/v1/query?query=" + encoded), nullptr, false);
        return answer.is_object() && answer.value("status", "") == "success"
                   ? answer["data"]["result"]
                   : json::array();
    };
    ASSERT_TRUE(test::Eventually([&] { return !query("halvorin_fan_speed_rpm").empty(); },
                                 std::chrono::seconds(40)));
    const json fans = query("halvorin_fan_speed_rpm");
    EXPECT_EQ(fans.size(), 4u);
    EXPECT_GT(std::stod(fans[0]["value"][1].get<std::string>()), 1000);
    const json failed = query("halvorin_element_failed{type=\"Power Supply\"} == 1");
    ASSERT_EQ(failed.size(), 1u) << failed.dump();
    EXPECT_EQ(failed[0]["metric"]["element"], "power supply 2");
}

}  // namespace
}  // namespace halvorin
