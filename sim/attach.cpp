#include "sim/attach.h"

namespace halvorin::sim {

std::shared_ptr<SimHost> AttachScenarios(ScsiTransport& transport,
                                         const std::vector<std::string>& scenario_paths,
                                         Clock& clock, std::string& error) {
    auto host = std::make_shared<SimHost>();
    for (const std::string& path : scenario_paths) {
        auto scenario = LoadScenario(path, error);
        if (!scenario) return nullptr;
        host->Add(std::make_shared<SimulatedEnclosure>(std::move(*scenario), clock));
    }
    transport.AddHost(host);
    return host;
}

}  // namespace halvorin::sim
