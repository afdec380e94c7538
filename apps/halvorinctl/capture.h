// `halvorinctl capture`: reads, through the agent, every SES page and vendor
// buffer region the manager reads from an enclosure's device and writes them
// as a simulator scenario of kind "recorded", which `halvorin-agentd
// --simulate` serves byte for byte: a real enclosure, reproduced for a bug
// report. With redaction, serial numbers, SAS addresses and WWNs are
// replaced by fake ones, the same fake for the same value on every page.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "apps/halvorinctl/manager_session.h"
#include "enclosure/model/model_ref.h"

namespace halvorin::ctl {

// The scenario for `subenc`'s device (and every other device of its host
// that reaches the same enclosure); nothing, with the reason in `error`,
// when a read failed in a way a replay could not reproduce.
std::optional<nlohmann::json> CaptureEnclosure(ManagerSession& session, CSubEnc* subenc,
                                               bool redact, std::string& error);

// `capture ENCLOSURE -o FILE [--redact]`: the process exit status.
int RunCapture(ManagerSession& session, const std::string& enclosure, const std::string& output,
               bool redact, int timeout_s);

}  // namespace halvorin::ctl
