// halvorinctl mute: silences the enclosure's buzzer.

#include "apps/halvorinctl/action_support.h"

#include "apps/halvorinctl/command.h"
#include "apps/halvorinctl/enclosure_report.h"
#include "enclosure/model/display_name.h"
#include "enclosure/model/element_types.h"

namespace halvorin::ctl {

namespace {

int Mute(ActionContext& c, CSubEnc* subenc) {
    const int result =
        RunOperation(c, OperatorAction::kMuteBuzzer, {EnclosureDisplayName(subenc)},
                     [&](OperationCallback cb) { return MuteBuzzer(subenc, std::move(cb)); });
    if (result < 0) return Failed("mute", result);
    WaitForRereads(c, subenc->dev);
    const bool sounding = Indicators(subenc) & kIndicatorBuzzer;
    Say(c, Printf("%s: buzzer is %s", Who(c, subenc).c_str(), sounding ? "sounding" : "silent"));
    c.report["buzzer"] = sounding;
    return sounding ? kExitOperationFailed : 0;
}

}  // namespace

extern const Command kCommandMute = {
    "mute",
    "  mute ENCLOSURE                mute the buzzer\n",
    {kOptJson, kOptQuiet},
    NeedsEnclosure,
    [](ManagerSession& session, const CommandLine& line) { return RunAction(session, line, Mute); },
};

}  // namespace halvorin::ctl
