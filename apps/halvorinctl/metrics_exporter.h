// `halvorinctl metrics`: follows the hosts like `watch` and serves what it
// knows on /metrics for Prometheus. Everything runs on the polling thread:
// a scrape is answered from the model as it is at that moment, between two
// poll steps, so it never sees half an update and needs no lock.
//
// At fleet scale the text is the cost, so each enclosure's samples are kept
// as text and written again only when what they show changed; per-element
// series are exported for elements that are not OK (every one with
// `all_elements`), sensor readings and per-type counts always.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "apps/halvorinctl/exposition.h"
#include "apps/halvorinctl/manager_session.h"

namespace halvorin::ctl {

// The counters kept across polls.
struct MetricCounters {
    std::map<std::string, double> connect_failures;               // by host
    std::map<std::pair<std::string, int>, double> status_events;  // by host and level
    // When each enclosure (host, WWN) was last read; kept after it vanishes,
    // so an alert on the age of the last read fires for a lost enclosure.
    std::map<std::pair<std::string, std::string>, double> last_read;
};

struct MetricsOptions {
    bool all_elements = false;  // a series per element, OK or not
};

class MetricsExporter {
  public:
    MetricsExporter(ManagerSession& session, MetricsOptions options);
    ~MetricsExporter();

    // After each poll step: a host that went down counts as a failure.
    void NoteStep();
    // The exposition of every host as the model is now.
    std::string Scrape();

    MetricCounters& counters() { return counters_; }
    // Enclosures whose text the last scrape wrote anew (the rest were kept).
    size_t rewritten_enclosures() const { return rewritten_; }

  private:
    struct KeptEnclosure {
        std::string fingerprint;  // what the text shows, in bytes
        SampleText text;
    };
    void AddHost(size_t index, SampleText& host_part, std::vector<const SampleText*>& parts,
                 std::map<std::string, KeptEnclosure>& kept);

    ManagerSession& session_;
    MetricsOptions options_;
    MetricCounters counters_;
    std::vector<bool> was_down_;
    std::map<std::string, KeptEnclosure> kept_;  // by host, WWN and occurrence
    size_t rewritten_ = 0;
};

// Serves on `listen` ("ADDRESS:PORT", "[V6]:PORT", ":PORT" or "PORT" for
// every address) and polls until `stop`; 0, or 2 when the address cannot
// be listened on (with the reason on standard error).
int RunMetrics(ManagerSession& session, const std::string& listen, MetricsOptions options,
               const std::atomic<bool>& stop);

}  // namespace halvorin::ctl
