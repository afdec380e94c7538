// `halvorinctl metrics`: follows the hosts like `watch` and serves what it
// knows on /metrics for Prometheus. The model is read only on the polling
// thread, which builds a complete set of samples once a second and hands it
// over whole; a scrape (on the HTTP server's threads) takes the latest set
// and never touches the model, so it can never see half an update.
#pragma once

#include <prometheus/collectable.h>
#include <prometheus/metric_family.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "apps/halvorinctl/manager_session.h"

namespace halvorin::ctl {

using MetricSet = std::vector<prometheus::MetricFamily>;

// The samples of every host of the session, from the model as it is now.
// `failures` and `events` are the counters kept across polls.
struct MetricCounters {
    std::map<std::string, double> connect_failures;               // by host
    std::map<std::pair<std::string, int>, double> status_events;  // by host and level
    // When each enclosure (host, WWN) was last read; kept after it vanishes,
    // so an alert on the age of the last read fires for a lost enclosure.
    std::map<std::pair<std::string, std::string>, double> last_read;
};
MetricSet BuildMetricSet(ManagerSession& session, MetricCounters& counters);

// What the HTTP server asks for. A scrape asks the polling thread for a new
// set and waits a moment for it, so it gets samples taken after it came
// (or, should polling be held up, the latest ones); no scrape, no work.
class MetricsCollectable : public prometheus::Collectable {
  public:
    static constexpr auto kWaitForFreshSet = std::chrono::seconds(2);

    std::vector<prometheus::MetricFamily> Collect() const override;
    // For the polling thread: whether a scrape waits for a new set.
    bool Wanted() const;
    // Publishes a set built after every request seen by the last Wanted().
    void Publish(MetricSet set);

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable published_;
    mutable uint64_t requests_ = 0;  // scrapes that asked for a set
    mutable uint64_t serving_ = 0;   // requests the set being built will answer
    uint64_t answered_ = 0;          // requests the published set answers
    std::shared_ptr<const MetricSet> latest_ = std::make_shared<MetricSet>();
};

// The HTTP side: connections are served by this many threads, and one that
// has not sent its whole request within the time-out is closed.
inline constexpr int kExposerThreads = 64;
inline constexpr std::chrono::milliseconds kExposerRequestTimeout{5000};
std::vector<std::string> ExposerOptions(const std::string& listen);

// Serves on `listen` ("ADDRESS:PORT") and polls until `stop`; 0, or 2 when the
// address cannot be listened on (with the reason on standard error).
int RunMetrics(ManagerSession& session, const std::string& listen, const std::atomic<bool>& stop);

}  // namespace halvorin::ctl
