// What the tests of halvorin-agentd, halvorinctl and halvorin-mkfw share: an
// agent process serving simulated enclosures on a free port, and running
// the programs as an operator would.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "base/host_name.h"
#include "base/utf16.h"
#include "tests/support/fake_agent.h"
#include "tests/support/process.h"
#include "tests/support/temp_path.h"

namespace halvorin::test {

using nlohmann::json;

class Cli : public ::testing::Test {
  protected:
    // Starts the agent on port_ serving the scenarios, without waiting.
    void LaunchAgent(const std::vector<std::string>& scenarios) {
        std::vector<std::string> argv = {HALVORIN_AGENTD, "--port", std::to_string(port_),
                                         "--allow", Utf16ToUtf8(ManagerComputerName())};
        argv.insert(argv.end(), agent_options_.begin(), agent_options_.end());
        for (const auto& s : scenarios) {
            argv.push_back("--simulate");
            argv.push_back(s);
        }
        agent_log_ = test::UniqueTempPath("agent.log");
        agent_ = std::make_unique<ChildProcess>(argv, ChildOptions{.errors_to = agent_log_});
    }

    // Starts the agent on a free port serving the scenarios; waits until it listens.
    void StartAgent(const std::vector<std::string>& scenarios) {
        port_ = test::FreePort();
        LaunchAgent(scenarios);
        ASSERT_TRUE(agent_->running());
        ASSERT_TRUE(test::Eventually(
            [&] {
                ChildProcess probe({HALVORINCTL, "-H", Host(), "--timeout", "1", "show", "--json"});
                std::string out;
                probe.Wait(out);
                return out.find("\"status\"") != std::string::npos &&
                       out.find("unreachable") == std::string::npos;
            },
            std::chrono::seconds(10)));
    }
    std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }

    // The managers the agent serves now, by address, as its log tells:
    // those it authorised and has not dropped since.
    std::set<std::string> ServedManagers() const {
        std::ifstream log(agent_log_);
        std::set<std::string> served;
        static const std::regex authorised(R"(authorised \S+ at (\S+))");
        static const std::regex dropped(R"(dropped connection from (\S+))");
        std::smatch match;
        for (std::string line; std::getline(log, line) && !log.eof();) {
            if (std::regex_search(line, match, authorised)) served.insert(match[1]);
            if (std::regex_search(line, match, dropped)) served.erase(match[1]);
        }
        return served;
    }
    // Waits until the agent serves `count` managers, at least one of them new.
    bool WaitUntilServing(size_t count, const std::set<std::string>& before = {}) {
        return test::Eventually(
            [&] {
                const std::set<std::string> now = ServedManagers();
                return now.size() == count && std::ranges::any_of(now, [&](const std::string& m) {
                           return !before.contains(m);
                       });
            },
            std::chrono::seconds(10));
    }

    json Show(int* exit_code = nullptr) {
        ChildProcess ctl({HALVORINCTL, "-H", Host(), "show", "--json"});
        std::string out;
        const int code = ctl.Wait(out);
        if (exit_code) *exit_code = code;
        return json::parse(out, nullptr, false);
    }

    uint16_t port_ = 0;
    std::vector<std::string> agent_options_;  // more options for the next agent
    std::unique_ptr<ChildProcess> agent_;
    std::string agent_log_;  // the agent's standard error
};

// Whether `document` follows docs/json/`schema`, checked by an independent
// validator (Debian's python3-jsonschema); the validator's complaint when not.
inline std::string SchemaViolation(const json& document, const std::string& schema) {
    const std::string path = test::UniqueTempPath("document.json");
    std::ofstream(path) << document.dump();
    const std::string check =
        "import json, sys, jsonschema\n"
        "try:\n"
        "    jsonschema.validate(json.load(open(sys.argv[1])), json.load(open(sys.argv[2])))\n"
        "except jsonschema.ValidationError as e:\n"
        "    print(e.message, list(e.absolute_path)); sys.exit(1)\n";
    ChildProcess validator({"/usr/bin/python3", "-I", "-c", check, path,
                            std::string(HALVORIN_SOURCE_DIR) + "/docs/json/" + schema},
                           {.with_errors = true});
    std::string out;
    return validator.Wait(out) == 0 ? std::string() : "invalid: " + out;
}

inline const json* Group(const json& enclosure, int type, int nth = 0) {
    for (const json& g : enclosure["groups"]) {
        if (g["type"] == type && nth-- == 0) return &g;
    }
    return nullptr;
}

inline std::string RunProgram(std::vector<std::string> argv, int* code = nullptr) {
    ChildProcess child(std::move(argv));
    std::string out;
    const int status = child.Wait(out, std::chrono::seconds(120));
    if (code) *code = status;
    return out;
}

inline std::string WriteBytes(const std::string& name, size_t size, unsigned seed) {
    const std::string path = test::UniqueTempPath(name);
    std::ofstream out(path, std::ios::binary);
    for (size_t i = 0; i < size; ++i)
        out.put(static_cast<char>(i * 7 + seed));
    return path;
}

// A package halvorin-mkfw builds for the simulated enclosures' model, with
// images of these sizes and, unless empty, this revision; empty when
// halvorin-mkfw failed.
inline std::string MakeSimulatedPackage(const std::string& stem, size_t image_a, size_t image_b,
                                        const std::string& revision = "") {
    const std::string package = test::UniqueTempPath(stem + ".lzma");
    std::vector<std::string> argv = {HALVORIN_MKFW,
                                     "--model",
                                     "m810",
                                     "--image-a",
                                     WriteBytes(stem + "-a.bin", image_a, 3),
                                     "--image-b",
                                     WriteBytes(stem + "-b.bin", image_b, 4),
                                     "-o",
                                     package};
    if (!revision.empty()) argv.insert(argv.end() - 2, {"--revision", revision});
    int code = -1;
    RunProgram(std::move(argv), &code);
    return code == 0 ? package : std::string();
}

}  // namespace halvorin::test
