// halvorinctl rename: the enclosure's system name, checked by reading it back.

#include "apps/halvorinctl/action_support.h"

#include "apps/halvorinctl/command.h"
#include "apps/halvorinctl/enclosure_report.h"
#include "base/string_table.h"
#include "base/text_format.h"
#include "base/utf16.h"
#include "enclosure/model/element_types.h"

namespace halvorin::ctl {

namespace {

// Succeeds only when the enclosure, read back, reports the new name. A name
// longer than the enclosure keeps is refused before anything is sent. The
// model is never told a name the enclosure has not reported.
int Rename(ActionContext& c, CSubEnc* subenc) {
    if (c.words.size() != 3 || c.words[2].empty()) return Usage("usage: rename ENCLOSURE NAME");
    const std::string name = c.words[2];
    if (name.size() > kSystemNameBytes) {
        return Usage("the name has " + std::to_string(name.size()) +
                     " bytes; an enclosure keeps at most " + std::to_string(kSystemNameBytes));
    }
    const std::vector<std::u16string> subjects = {Utf8ToUtf16(name)};
    const int result = RunOperation(
        c, OperatorAction::kRename, subjects,
        [&](OperationCallback cb) { return SetSystemName(subenc, name, std::move(cb)); });
    if (result < 0) return Failed("rename", result);
    if (!WaitForRereads(c, subenc->dev)) {
        std::fprintf(stderr, "halvorinctl: rename: the name could not be read back\n");
        return kExitOperationFailed;
    }
    const std::string reported = SubEncInfo(subenc).system_name;
    if (reported != name) {
        std::fprintf(stderr, "halvorinctl: rename failed: the enclosure reports the name \"%s\"\n",
                     reported.c_str());
        return kExitOperationFailed;
    }
    Say(c, c.host + ": " + Utf16ToUtf8(FormatString(LoadString(20023), {Utf8ToUtf16(reported)})));
    c.report["system_name"] = reported;
    return 0;
}

}  // namespace

extern const Command kCommandRename = {
    "rename",
    "  rename ENCLOSURE NAME         set the system name (at most 32 bytes)\n",
    {kOptJson, kOptQuiet},
    NeedsEnclosure,
    [](ManagerSession& session, const CommandLine& line) {
        return RunAction(session, line, Rename);
    },
};

}  // namespace halvorin::ctl
