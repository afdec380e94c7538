// A host of simulated enclosures behind a real agent on loopback, read by
// halvorinctl's manager session in this process on a manual clock.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <nlohmann/json.hpp>

#include "apps/halvorinctl/enclosure_report.h"
#include "apps/halvorinctl/manager_session.h"
#include "base/utf16.h"
#include "enclosure/model/ses_domain.h"
#include "tests/support/loopback_manager.h"

namespace halvorin::test {

using nlohmann::json;

// One host of simulated enclosures, read by a manager of this process.
struct CtlHost {
    ManualClock clock;
    std::atomic<bool> interrupt{false};
    std::unique_ptr<test::LoopbackManager> agent;
    std::unique_ptr<ctl::ManagerSession> session;
    bool ready = false;  // read completely

    explicit CtlHost(const sim::Scenario& scenario) {
        agent = std::make_unique<test::LoopbackManager>(std::vector{scenario});
        std::string error;
        if (!agent->StartAgent(error)) {
            ADD_FAILURE() << error;
            return;
        }
        session = std::make_unique<ctl::ManagerSession>(
            std::vector<std::string>{Utf16ToUtf8(agent->HostName())}, interrupt,
            test::LoopbackManager::ManagerOptions(clock));
        const auto statuses = session->WaitUntilRead(std::chrono::seconds(10));
        ready = statuses.size() == 1 && statuses[0].outcome == ctl::HostOutcome::kReady;
    }

    // What `show --json` reports of the host, without the host's address.
    json Report() {
        json report = ctl::HostReport(session->domains()[0], ctl::HostStatus{});
        return {{"devices", report["devices"]}, {"enclosures", report["enclosures"]}};
    }
    CSubEnc* FirstEnclosure() {
        std::vector<Ref<CSubEnc>> all = CollectSubEnclosures(session->domains()[0]);
        CSubEnc* first = all.empty() ? nullptr : all.front().get();
        return first;  // the model keeps it while nothing changes
    }
};

}  // namespace halvorin::test
