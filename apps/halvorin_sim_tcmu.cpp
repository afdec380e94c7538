// halvorin-sim-tcmu: serves simulated enclosures to the Linux kernel as SCSI
// logical units, through the kernel's SCSI target in user space (TCMU), so
// the machine's own SCSI stack sees them at /dev/sg* like hardware. Runs
// until SIGTERM or SIGINT. tests/kernel drives it inside a virtual machine.

#include <getopt.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/log.h"
#include "sim/scenario.h"
#include "sim/sim_host.h"
#include "sim/tcmu/tcmu_lun.h"
#include "sim/tcmu/uio_devices.h"

namespace {

using namespace halvorin;

constexpr const char* kUsage =
    "Usage: halvorin-sim-tcmu [--hold-file FILE] SCENARIO...\n"
    "Serve the simulated enclosures the SCENARIO files describe (sim/README.md)\n"
    "as TCMU logical units. A backstore whose dev_config is\n"
    "\"halvorin/N/D\" plays device D (0-based, in \"devices\") of the Nth\n"
    "SCENARIO (0-based); backstores are found as they appear.\n"
    "\n"
    "      --hold-file FILE  when FILE appears, hold the next command (of the\n"
    "                        opcode FILE names in hex, or any but TEST UNIT READY,\n"
    "                        REQUEST SENSE and INQUIRY when it is empty) until\n"
    "                        the kernel aborts it; FILE is removed when taken\n"
    "  -h, --help            show this help and exit\n";

constexpr timespec kRescanInterval{0, 300'000'000};

// Write the hold file by rename so it is never read half-written.
class HoldRequest {
  public:
    explicit HoldRequest(std::string path) : path_(std::move(path)) {}

    bool Take(const Cdb& cdb) const {
        if (path_.empty()) return false;
        std::ifstream in(path_);
        if (!in) return false;
        std::string opcode;
        in >> opcode;
        if (opcode.empty() ? IsHousekeeping(cdb[0]) : std::stoul(opcode, nullptr, 16) != cdb[0])
            return false;
        return ::unlink(path_.c_str()) == 0;  // only one command wins
    }

  private:
    static bool IsHousekeeping(uint8_t opcode) {
        return opcode == 0x00 || opcode == 0x03 || opcode == 0x12;
    }
    std::string path_;
};

struct Served {
    std::shared_ptr<sim::SimHost> host;
    std::vector<std::vector<ScsiUnit>> units;  // by scenario, by device
};

std::optional<Served> LoadScenarios(const std::vector<std::string>& paths) {
    Served served{std::make_shared<sim::SimHost>(), {}};
    for (const std::string& path : paths) {
        std::string error;
        auto scenario = sim::LoadScenario(path, error);
        if (!scenario) {
            std::fprintf(stderr, "halvorin-sim-tcmu: %s: %s\n", path.c_str(), error.c_str());
            return std::nullopt;
        }
        auto enclosure =
            std::make_shared<sim::SimulatedEnclosure>(std::move(*scenario), SystemClock());
        const uint32_t adapter = served.host->Add(enclosure);
        std::vector<ScsiUnit> units;
        for (const auto& d : enclosure->scenario().devices)
            units.push_back({adapter, d.path_id, d.target_id, d.lun});
        served.units.push_back(std::move(units));
    }
    return served;
}

// Starts a LUN for every backstore that appeared, forgets those that went.
void Reconcile(const Served& served, const HoldRequest& hold,
               std::map<std::string, std::unique_ptr<sim::TcmuLun>>& luns) {
    std::erase_if(luns, [](const auto& lun) { return !lun.second->Running(); });
    for (const sim::TcmuBackstore& b : sim::FindTcmuBackstores()) {
        if (luns.contains(b.node.string())) continue;
        if (b.scenario >= served.units.size() || b.device >= served.units[b.scenario].size()) {
            Log(LogPriority::kWarning, b.backstore + ": no scenario " + std::to_string(b.scenario) +
                                           " device " + std::to_string(b.device));
            continue;
        }
        sim::TcmuLunOptions options{
            b.node,      b.map_size,
            b.backstore, served.units[b.scenario][b.device],
            served.host, [&hold](const Cdb& cdb) { return hold.Take(cdb); }};
        try {
            luns[b.node.string()] = std::make_unique<sim::TcmuLun>(std::move(options));
        } catch (const std::exception& e) {
            Log(LogPriority::kError, b.backstore + ": " + e.what());
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    static const option kOptions[] = {{"hold-file", required_argument, nullptr, 'H'},
                                      {"help", no_argument, nullptr, 'h'},
                                      {nullptr, 0, nullptr, 0}};
    std::string hold_file;
    for (int c; (c = getopt_long(argc, argv, "h", kOptions, nullptr)) != -1;) {
        if (c == 'H') {
            hold_file = optarg;
        } else if (c == 'h') {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    std::vector<std::string> paths(argv + optind, argv + argc);
    if (paths.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    SetLogSink(LogToStderr);
    auto served = LoadScenarios(paths);
    if (!served) return 1;

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    const HoldRequest hold(hold_file);
    std::map<std::string, std::unique_ptr<sim::TcmuLun>> luns;
    Log("serving " + std::to_string(paths.size()) + " scenario(s)");
    while (true) {
        Reconcile(*served, hold, luns);
        const int signal = sigtimedwait(&signals, nullptr, &kRescanInterval);
        if (signal == SIGTERM || signal == SIGINT) break;
    }
    luns.clear();  // each answers what it still holds
    Log("stopped");
    return 0;
}
