// Many hosts of simulated enclosures for the desktop benchmarks: each host a
// real agent on loopback serving copies of one scenario, the copies told
// apart by their identifiers.
#pragma once

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "enclosure/model/ses_dev.h"
#include "enclosure/model/ses_domain.h"
#include "tests/support/loopback_manager.h"

namespace halvorin::bench {

// The scenario as the `copy`th enclosure of a host: its own identifiers.
inline sim::Scenario Copy(sim::Scenario scenario, int copy) {
    for (sim::SubEnclosureSpec& s : scenario.subenclosures)
        s.logical_id[7] = uint8_t(s.logical_id[7] + 16 * copy);
    for (sim::DeviceSpec& d : scenario.devices)
        d.id[7] = uint8_t(d.id[7] + 16 * copy);
    return scenario;
}

// `hosts` agents of `per_host` enclosures each; empty when one cannot listen.
inline std::vector<std::unique_ptr<test::LoopbackManager>> StartHosts(const sim::Scenario& scenario,
                                                                      int hosts, int per_host) {
    std::vector<sim::Scenario> host_scenarios;
    for (int k = 0; k < per_host; ++k)
        host_scenarios.push_back(Copy(scenario, k));
    std::vector<std::unique_ptr<test::LoopbackManager>> agents;
    for (int i = 0; i < hosts; ++i) {
        agents.push_back(std::make_unique<test::LoopbackManager>(host_scenarios));
        std::string error;
        if (!agents.back()->StartAgent(error)) {
            std::fprintf(stderr, "agent %d: %s\n", i, error.c_str());
            return {};
        }
    }
    return agents;
}

// Every one of the host's `per_host` devices is read and nothing is pending.
inline bool AllRead(CSesDomain* host, size_t per_host) {
    std::vector<Ref<CSesDev>> devices = SnapshotDevices(host);
    const bool read = devices.size() == per_host &&
                      std::all_of(devices.begin(), devices.end(), [](const Ref<CSesDev>& d) {
                          return (d->Flags() & kDeviceReady) != 0;
                      });
    return read && host->client.quiet();
}

}  // namespace halvorin::bench
