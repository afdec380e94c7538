// Connecting a fresh manager to an agent until the model of its one 84-bay
// dual-path enclosure is complete, as the connect benchmarks time it.
#pragma once

#include <poll.h>

#include <chrono>
#include <thread>

#include "base/utf16.h"
#include "enclosure/model/domain_registry.h"
#include "enclosure/poll/poll_step.h"

namespace halvorin::bench {

using Steady = std::chrono::steady_clock;

inline bool AllReady(CSesDomain* domain) {
    std::vector<Ref<CSesDev>> devices = SnapshotDevices(domain);
    bool ready = devices.size() == 2;
    for (const Ref<CSesDev>& d : devices)
        ready = ready && (d->Flags() & kDeviceReady);
    return ready;
}

inline double ConnectOnce(uint16_t port, bool deliver_between_steps, ClientOptions options) {
    options.computer_name = u"BENCH";
    DomainRegistry registry(options);
    const auto start = Steady::now();
    CSesDomain* domain = registry.Acquire(Utf8ToUtf16("127.0.0.1:" + std::to_string(port)));
    while (!AllReady(domain)) {
        PollStep(domain);
        const auto next = Steady::now() + std::chrono::milliseconds(kPollIntervalMs);
        if (!deliver_between_steps) {
            std::this_thread::sleep_until(next);
            continue;
        }
        // As halvorinctl waits: on the client's completion descriptor.
        while (!AllReady(domain)) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(next - Steady::now()).count();
            if (left <= 0) break;
            pollfd ready{registry.completions().fd(), POLLIN, 0};
            if (::poll(&ready, 1, static_cast<int>(left)) > 0) {
                for (CSesClient* client : registry.completions().Take())
                    client->DeliverCompleted();
            }
        }
    }
    const double ms = std::chrono::duration<double, std::milli>(Steady::now() - start).count();
    registry.Release(domain);
    return ms;
}

}  // namespace halvorin::bench
