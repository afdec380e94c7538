#include "enclosure/ops/operator_action.h"

#include <array>

#include "base/result_code.h"
#include "base/string_table.h"
#include "base/text_format.h"
#include "base/utf16.h"

namespace halvorin {

namespace {

// By OperatorAction, in its order.
constexpr std::array<ActionTexts, 11> kTexts = {{
    {222, 20023, kEventWarning, 335},        // kRename
    {218, 303, kEventInformation, 277},      // kMuteBuzzer
    {219, 304, kEventInformation, 278},      // kUidLedOn
    {219, 305, kEventInformation, 278},      // kUidLedOff
    {220, 306, kEventInformation, 308},      // kSlotLedOn
    {221, 307, kEventInformation, 308},      // kSlotLedOff
    {216, 309, kEventInformation, 336},      // kApplyZoning
    {217, 310, kEventInformation, 0},        // kUndoZoning
    {214, 311, kEventInformation, 279},      // kRestart
    {215, 312, kEventInformation, 280},      // kShutdown
    {283, 20019, kEventInformation, 20024},  // kStartUpgrade
}};

std::u16string ReasonText(OperatorAction action, int result) {
    if (action == OperatorAction::kStartUpgrade) return LoadString(UpgradeResultText(result));
    return Utf8ToUtf16(std::string(ResultCodeName(result))) + u" (" +
           Utf8ToUtf16(std::to_string(result)) + u")";
}

}  // namespace

const ActionTexts& TextsOf(OperatorAction action) {
    return kTexts[static_cast<size_t>(action)];
}

std::u16string ActionEvent::Text() const {
    std::vector<FormatArg> args(arguments.begin(), arguments.end());
    return FormatString(LoadString(message_id), args);
}

ActionEvent ActionDone(OperatorAction action, std::vector<std::u16string> subjects) {
    const ActionTexts& texts = TextsOf(action);
    return {texts.done_level, texts.done, std::move(subjects)};
}

ActionEvent ActionFailed(OperatorAction action, std::vector<std::u16string> subjects, int result) {
    subjects.push_back(ReasonText(action, result));
    return {kEventWarning, TextsOf(action).failed, std::move(subjects)};
}

ActionEvent ActionOutcome(OperatorAction action, std::vector<std::u16string> subjects, int result) {
    return result < 0 ? ActionFailed(action, std::move(subjects), result)
                      : ActionDone(action, std::move(subjects));
}

int UpgradeResultText(int state) {
    switch (state) {
        case kUpgradeCompleted:
            return 0;
        case kUpgradeRunning:
            return 165;
        case kModelMismatch:
            return 164;
        case kInvalidFirmware:
            return 163;
        case kHelloRefused:
        case kConnectFailed:
        case kConnectionClosed:
        case kConnectionLost:
            return 166;
        case kPackageOpenFailed:
        case kNotFound:
            return 162;
        case kNoResource:
        case kOutOfMemory:
            return 161;
        default:
            return 167;
    }
}

}  // namespace halvorin
