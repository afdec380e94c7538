// halvorinctl uid-led: the enclosure's system identification LED.

#include "apps/halvorinctl/action_support.h"

#include "apps/halvorinctl/command.h"
#include "apps/halvorinctl/enclosure_report.h"
#include "enclosure/model/display_name.h"
#include "enclosure/model/element_types.h"

namespace halvorin::ctl {

namespace {

int UidLed(ActionContext& c, CSubEnc* subenc) {
    if (c.words.size() != 3 || (c.words[2] != "on" && c.words[2] != "off")) {
        return Usage("usage: uid-led ENCLOSURE on|off");
    }
    const bool on = c.words[2] == "on";
    const OperatorAction action = on ? OperatorAction::kUidLedOn : OperatorAction::kUidLedOff;
    const int result =
        RunOperation(c, action, {EnclosureDisplayName(subenc)},
                     [&](OperationCallback cb) { return SetUidLed(subenc, on, std::move(cb)); });
    if (result < 0) return Failed("UID LED", result);
    WaitForRereads(c, subenc->dev);
    const bool lit = Indicators(subenc) & kIndicatorUidLed;
    Say(c, Printf("%s: UID LED is %s", Who(c, subenc).c_str(), lit ? "on" : "off"));
    c.report["uid_led"] = lit;
    return lit == on ? 0 : kExitOperationFailed;
}

}  // namespace

extern const Command kCommandUidLed = {
    "uid-led",
    "  uid-led ENCLOSURE on|off      switch the system identification LED\n",
    {kOptJson, kOptQuiet},
    NeedsEnclosure,
    [](ManagerSession& session, const CommandLine& line) {
        return RunAction(session, line, UidLed);
    },
};

}  // namespace halvorin::ctl
