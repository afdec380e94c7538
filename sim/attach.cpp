#include "sim/attach.h"

#include <optional>

namespace halvorin::sim {

namespace {

template <typename Source, typename Load>
std::shared_ptr<SimHost> Attach(ScsiTransport& transport, const std::vector<Source>& sources,
                                Clock& clock, Load load) {
    auto host = std::make_shared<SimHost>();
    for (const Source& source : sources) {
        std::optional<Scenario> scenario = load(source);
        if (!scenario) return nullptr;
        host->Add(std::make_shared<SimulatedEnclosure>(std::move(*scenario), clock));
    }
    transport.AddHost(host);
    return host;
}

}  // namespace

std::shared_ptr<SimHost> AttachScenarios(ScsiTransport& transport,
                                         const std::vector<std::string>& scenario_paths,
                                         Clock& clock, std::string& error) {
    return Attach(transport, scenario_paths, clock,
                  [&](const std::string& path) { return LoadScenario(path, error); });
}

std::shared_ptr<SimHost> AttachScenarioTexts(ScsiTransport& transport,
                                             const std::vector<std::string_view>& json_texts,
                                             Clock& clock, std::string& error) {
    return Attach(transport, json_texts, clock,
                  [&](std::string_view text) { return ParseScenario(std::string(text), error); });
}

}  // namespace halvorin::sim
