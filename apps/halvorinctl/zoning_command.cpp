// halvorinctl zoning: prints the SAS zoning of the ports, changes it and applies it.

#include "apps/halvorinctl/action_support.h"

#include <set>

#include "apps/halvorinctl/command.h"
#include "apps/halvorinctl/enclosure_report.h"
#include "enclosure/model/display_name.h"
#include "enclosure/model/element_types.h"
#include "enclosure/model/zone_bits.h"
#include "enclosure/ops/control_operations.h"
#include "enclosure/pages/request_kind.h"

namespace halvorin::ctl {

namespace {

// "1-12,15" -> {1..12, 15}; nothing on a malformed list.
std::optional<std::set<int>> ParseSlots(const std::vector<std::string>& words) {
    std::set<int> slots;
    for (const std::string& word : words) {
        size_t at = 0;
        while (at < word.size()) {
            size_t end = word.find(',', at);
            if (end == std::string::npos) end = word.size();
            const std::string item = word.substr(at, end - at);
            const size_t dash = item.find('-');
            try {
                const int first = std::stoi(item.substr(0, dash));
                const int last =
                    dash == std::string::npos ? first : std::stoi(item.substr(dash + 1));
                if (first < 1 || last > 80 || first > last) return std::nullopt;
                for (int s = first; s <= last; ++s)
                    slots.insert(s);
            } catch (const std::exception&) {
                if (item != "none") return std::nullopt;
            }
            at = end + 1;
        }
    }
    return slots;
}

void PrintZoning(ActionContext& c, CSubEnc* primary) {
    c.report["zones"] = nlohmann::json::array();
    for (const Ref<CSesElem>& zone : ElementsOf(primary, kTypeZoneEntry)) {
        std::string slots;
        nlohmann::json numbers = nlohmann::json::array();
        for (int k = 0; k < kZoneTableSlots; ++k) {
            if (!ZoneHasSlot(zone->type_data, k)) continue;
            slots += (slots.empty() ? "" : ",") + std::to_string(k + 1);
            numbers.push_back(k + 1);
        }
        Say(c,
            Printf("port %d: %s", zone->element_index + 1, slots.empty() ? "none" : slots.c_str()));
        c.report["zones"].push_back({{"port", zone->element_index + 1}, {"slots", numbers}});
    }
}

int Zoning(ActionContext& c, CSubEnc* subenc) {
    Ref<CSubEnc> primary = Ref<CSubEnc>::Adopt(AcquireSubEnc(subenc->dev, 0));
    if (!primary || ElementsOf(primary.get(), kTypeZoneEntry).empty()) {
        std::fprintf(stderr, "halvorinctl: %s has no SAS zoning\n", Who(c, subenc).c_str());
        return kExitOperationFailed;
    }
    if (c.words.size() == 3 && c.words[2] == "show") {
        Say(c, Who(c, subenc) + ": zoning");
        PrintZoning(c, primary.get());
        return 0;
    }
    // "set PORT SLOTS... [set PORT SLOTS...]" edits, then applies; "apply" resends the table as
    // read.
    auto zones = ElementsOf(primary.get(), kTypeZoneEntry);
    ZoneEdits edits;
    size_t at = 2;
    while (at < c.words.size() && c.words[at] == "set") {
        size_t end = at + 2;
        while (end < c.words.size() && c.words[end] != "set")
            ++end;
        const int port = at + 1 < c.words.size() ? std::atoi(c.words[at + 1].c_str()) : 0;
        auto slots = ParseSlots(std::vector<std::string>(c.words.begin() + std::min(at + 2, end),
                                                         c.words.begin() + end));
        if (port < 1 || port > static_cast<int>(zones.size()) || !slots) {
            return Usage(
                "usage: zoning ENCLOSURE show | set PORT SLOTS... [set PORT SLOTS...] | apply");
        }
        ZoneSlots& zone = edits[zones[size_t(port - 1)]->element_index];
        zone.reset();
        for (int s : *slots)
            zone.set(size_t(s - 1));
        at = end;
    }
    if (at != c.words.size() && !(at == 2 && c.words.size() == 3 && c.words[2] == "apply")) {
        return Usage(
            "usage: zoning ENCLOSURE show | set PORT SLOTS... [set PORT SLOTS...] | apply");
    }
    const int result = RunOperation(
        c, OperatorAction::kApplyZoning, {EnclosureDisplayName(subenc)},
        [&](OperationCallback cb) { return ApplyZoning(subenc, edits, std::move(cb)); });
    if (result < 0) return Failed("zoning", result);
    ReadBack(c, subenc->dev, kReadZones);  // the enclosure's own table, not ours
    Say(c, Who(c, subenc) + ": zoning applied");
    PrintZoning(c, primary.get());
    return 0;
}

}  // namespace

extern const Command kCommandZoning = {
    "zoning",
    "  zoning ENCLOSURE show         print the SAS zoning of every port\n"
    "  zoning ENCLOSURE set PORT SLOTS... [set PORT SLOTS...]\n"
    "                                change ports' zones (slots like 1-12,15) and apply\n"
    "  zoning ENCLOSURE apply        send the zoning table again as the enclosure has it\n",
    {kOptJson, kOptQuiet},
    NeedsEnclosure,
    [](ManagerSession& session, const CommandLine& line) {
        return RunAction(session, line, Zoning);
    },
};

}  // namespace halvorin::ctl
