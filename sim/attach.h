// Loads scenario files and puts their enclosures on a transport, as the
// agent's --simulate option and the desktop's --demo do.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "enclosure/scsi/scsi_transport.h"
#include "sim/sim_host.h"

namespace halvorin::sim {

// Nothing (and `error` says why) when a file cannot be loaded; then no
// enclosure is attached at all.
std::shared_ptr<SimHost> AttachScenarios(ScsiTransport& transport,
                                         const std::vector<std::string>& scenario_paths,
                                         Clock& clock, std::string& error);

// The same for scenarios given as JSON texts.
std::shared_ptr<SimHost> AttachScenarioTexts(ScsiTransport& transport,
                                             const std::vector<std::string_view>& json_texts,
                                             Clock& clock, std::string& error);

}  // namespace halvorin::sim
