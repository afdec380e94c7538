// Many hosts of simulated enclosures for the desktop benchmarks: each host a
// real agent on loopback serving copies of one scenario, the copies told
// apart by their identifiers.
#pragma once

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>

#include "enclosure/model/ses_dev.h"
#include "enclosure/model/ses_domain.h"
#include "shell/tree/enc_tree.h"
#include "shell/tree/left_pane.h"
#include "sim/loopback_manager.h"

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
inline std::vector<std::unique_ptr<sim::LoopbackManager>> StartHosts(const sim::Scenario& scenario,
                                                                     int hosts, int per_host) {
    std::vector<sim::Scenario> host_scenarios;
    for (int k = 0; k < per_host; ++k)
        host_scenarios.push_back(Copy(scenario, k));
    std::vector<std::unique_ptr<sim::LoopbackManager>> agents;
    for (int i = 0; i < hosts; ++i) {
        agents.push_back(std::make_unique<sim::LoopbackManager>(host_scenarios));
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
    std::vector<CSesDev*> devices = SnapshotDevices(host);
    const bool read = devices.size() == per_host &&
                      std::all_of(devices.begin(), devices.end(),
                                  [](CSesDev* d) { return (d->Flags() & kDeviceReady) != 0; });
    ReleaseDevices(devices);
    return read && host->client.quiet();
}

// Adds every agent's host to the pane, polls, and runs the event loop until
// every host's enclosures are read and in the tree; the seconds that took,
// or a negative number after `limit_s`.
inline double ReadIntoTree(CLeftPane& pane,
                           const std::vector<std::unique_ptr<sim::LoopbackManager>>& agents,
                           size_t per_host, int limit_s) {
    for (auto& agent : agents)
        pane.AddHost(QString::fromStdU16String(agent->HostName()));
    pane.StartPolling();
    QElapsedTimer elapsed;
    elapsed.start();
    const auto everything_read = [&] {
        CEncTree& tree = *pane.Tree();
        for (int i = 0; i < tree.HostCount(); ++i) {
            if (!AllRead(tree.Host(i), per_host) || tree.SubEncsOf(tree.Host(i)).size() != per_host)
                return false;
        }
        return tree.HostCount() == int(agents.size());
    };
    while (!everything_read()) {
        if (elapsed.elapsed() > limit_s * 1000) return -1;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return elapsed.elapsed() / 1000.0;
}

}  // namespace halvorin::bench
