// `halvorinctl metrics`: the hosts followed as `watch` follows them, and
// their model served to Prometheus by the same thread between poll steps.
#include <cstdio>

#include "apps/halvorinctl/command.h"
#include "apps/halvorinctl/metrics_exporter.h"
#include "apps/halvorinctl/metrics_http.h"
#include "apps/halvorinctl/stop_signal.h"

namespace halvorin::ctl {

int RunMetrics(ManagerSession& session, const std::string& listen, MetricsOptions options,
               const std::atomic<bool>& stop) {
    MetricsExporter exporter(session, options);
    MetricsHttpServer http([&] { return exporter.Scrape(); });
    std::string error;
    if (!http.Listen(listen, error)) {
        std::fprintf(stderr, "halvorinctl: cannot serve metrics on %s: %s\n", listen.c_str(),
                     error.c_str());
        return kExitUnreachable;
    }
    for (const std::string& url : http.Urls())
        std::fprintf(stderr, "halvorinctl: serving metrics on %s\n", url.c_str());
    while (!stop) {
        session.Poll();
        exporter.NoteStep();
        // An agent that was not up yet when we started is found within seconds.
        session.RetryUnreachable();
        session.WaitForNextStep(&http);
    }
    return kExitOk;
}

extern const Command kCommandMetrics = {
    "metrics",
    "  metrics --listen ADDR:PORT [--all-elements]\n"
    "                                follow the hosts and serve Prometheus metrics on\n"
    "                                http://ADDR:PORT/metrics (:PORT: every address);\n"
    "                                elements that are OK only in the counts unless\n"
    "                                --all-elements\n",
    {kOptListen, kOptAllElements},
    [](const CommandLine& line) {
        if (!TakesNoWords(line).empty()) return TakesNoWords(line);
        return line.listen.empty() ? std::string("metrics needs --listen ADDR:PORT") : "";
    },
    [](ManagerSession& session, const CommandLine& line) {
        return RunMetrics(session, line.listen, {.all_elements = line.all_elements},
                          StopRequested());
    },
};

}  // namespace halvorin::ctl
