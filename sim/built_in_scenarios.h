// The scenarios compiled into the program, so that a demo needs no files.
#pragma once

#include <string_view>
#include <vector>

namespace halvorin::sim {

// The JSON texts of sim/scenarios/demo.json and jbod84-dual-path.json.
std::vector<std::string_view> BuiltInDemoScenarios();

}  // namespace halvorin::sim
