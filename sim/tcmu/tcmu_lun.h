// Serves one TCMU LUN from one simulated SES device: a loop reads the
// commands from the ring and runs each on a thread of its own, so a slow
// command does not hold the others; an abort from the kernel requests the
// command's stop. A command the operator asked to hold (see HoldRequest)
// waits until it is aborted.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "base/wakeup.h"
#include "sim/sim_host.h"
#include "sim/tcmu/tcmu_ring.h"
#include "sim/tcmu/uio_device.h"

namespace halvorin::sim {

struct TcmuLunOptions {
    std::filesystem::path node;  // /dev/uioN
    size_t map_size = 0;
    std::string name;  // for the log
    ScsiUnit unit;     // the simulated device's unit on `host`
    std::shared_ptr<SimHost> host;
    // Asked once per command; true when this command is to be held.
    std::function<bool(const Cdb&)> take_hold;
};

class TcmuLun {
  public:
    // Throws std::runtime_error when the ring cannot be opened.
    explicit TcmuLun(TcmuLunOptions options);
    ~TcmuLun();  // stops every command and the loop
    TcmuLun(const TcmuLun&) = delete;
    TcmuLun& operator=(const TcmuLun&) = delete;

    bool Running() const;

  private:
    struct InFlight {
        std::stop_source stop;
        std::jthread thread;
    };
    void Loop(std::stop_token stop);
    void ReadRing();
    void StopAndAnswerTheRest();
    void Start(TcmuCommand command);
    void Abort(const TcmuAbort& abort);
    void AnswerFinished();
    TcmuAnswer Execute(const TcmuCommand& command, std::stop_token stop);

    TcmuLunOptions options_;
    UioDevice device_;
    TcmuRing ring_;
    Wakeup finished_signal_;
    std::mutex mutex_;
    std::map<uint16_t, InFlight> in_flight_;
    std::vector<TcmuAnswer> finished_;
    std::atomic<bool> running_{true};
    std::jthread loop_;  // last: starts when everything above exists
};

}  // namespace halvorin::sim
