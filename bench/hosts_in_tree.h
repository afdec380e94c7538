// Many loopback hosts read into the desktop's left pane, for the desktop
// benchmarks.
#pragma once

#include <QApplication>
#include <QElapsedTimer>

#include "bench/loopback_hosts.h"
#include "shell/tree/enc_tree.h"
#include "shell/tree/left_pane.h"

namespace halvorin::bench {

// Adds every agent's host to the pane, polls, and runs the event loop until
// every host's enclosures are read and in the tree; the seconds that took,
// or a negative number after `limit_s`.
inline double ReadIntoTree(CLeftPane& pane,
                           const std::vector<std::unique_ptr<test::LoopbackManager>>& agents,
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
