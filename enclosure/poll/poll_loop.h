// The manager's poll over every host of a registry, whatever drives it: the
// desktop's timer and socket notifier, halvorinctl's poll(2) on the
// registry's completion signal, the tests' own loops. A turn steps every
// host (PollStep); between turns the hosts whose replies have arrived are
// stepped at once, so a reply is handled when it comes rather than at the
// next turn; and hosts that could not be reached can be asked again on the
// HostRetrySchedule instead of after the client's own 100 s.
//
// Owner's thread only, the thread that runs the poll steps.
#pragma once

#include <chrono>
#include <cstddef>
#include <unordered_map>

#include "enclosure/model/model_ref.h"
#include "enclosure/poll/host_retry.h"

namespace halvorin {

class DomainRegistry;

class PollLoop {
  public:
    using Time = std::chrono::steady_clock::time_point;

    // `registry` must outlive the loop.
    explicit PollLoop(DomainRegistry& registry);

    // One turn: every host's poll step. The hosts are those of the registry
    // now; a host that left it is forgotten, with its reference.
    void Turn();
    // Asks the hosts of the last turn that could not be reached to try again
    // when the retry schedule says so.
    void RetryUnreachable(Time now = std::chrono::steady_clock::now());
    // Steps the hosts whose replies the completion signal announced (only
    // those of the last turn: a newer host waits for the next one). Returns
    // how many were stepped.
    size_t StepWoken();

    size_t watched() const { return watched_.size(); }

  private:
    DomainRegistry& registry_;
    // The hosts of the last turn, by their clients, each with a reference.
    std::unordered_map<CSesClient*, Ref<CSesDomain>> watched_;
    HostRetrySchedule retries_;
};

}  // namespace halvorin
