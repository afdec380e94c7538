// The texts every front end gives an operator's action: each event names
// its subjects and, on failure, the reason, with nothing left unfilled.
#include "enclosure/ops/operator_action.h"

#include <gtest/gtest.h>

#include "base/result_code.h"
#include "base/string_table.h"
#include "base/utf16.h"

namespace halvorin {
namespace {

TEST(OperatorActionTest, EveryEventNamesItsSubjectsAndAFailureItsReason) {
    const struct {
        OperatorAction action;
        std::vector<std::u16string> subjects;
    } kCases[] = {
        {OperatorAction::kRename, {u"RACK9"}},
        {OperatorAction::kMuteBuzzer, {u"SHELF-2"}},
        {OperatorAction::kUidLedOn, {u"SHELF-2"}},
        {OperatorAction::kUidLedOff, {u"SHELF-2"}},
        {OperatorAction::kSlotLedOn, {u"Slot 04", u"SHELF-2"}},
        {OperatorAction::kSlotLedOff, {u"Slot 04", u"SHELF-2"}},
        {OperatorAction::kApplyZoning, {u"SHELF-2"}},
        {OperatorAction::kUndoZoning, {u"SHELF-2"}},
        {OperatorAction::kRestart, {u"SHELF-2"}},
        {OperatorAction::kShutdown, {u"SHELF-2"}},
        {OperatorAction::kStartUpgrade, {u"SHELF-2"}},
    };
    for (const auto& c : kCases) {
        const ActionTexts& texts = TextsOf(c.action);
        SCOPED_TRACE(texts.done);
        EXPECT_FALSE(LoadString(texts.waiting).empty());
        const std::u16string done = ActionDone(c.action, c.subjects).Text();
        for (const std::u16string& subject : c.subjects)
            EXPECT_NE(done.find(subject), std::u16string::npos) << Utf16ToUtf8(done);
        EXPECT_EQ(done.find(u'%'), std::u16string::npos) << Utf16ToUtf8(done);
        if (!texts.failed) continue;
        const ActionEvent failed = ActionFailed(c.action, c.subjects, kTimedOut);
        EXPECT_EQ(failed.level, kEventWarning);
        EXPECT_EQ(failed.arguments.size(), c.subjects.size() + 1);
        const std::u16string text = failed.Text();
        EXPECT_NE(text.find(c.subjects.front()), std::u16string::npos) << Utf16ToUtf8(text);
        EXPECT_NE(text.find(failed.arguments.back()), std::u16string::npos) << Utf16ToUtf8(text);
        EXPECT_EQ(text.find(u'%'), std::u16string::npos) << Utf16ToUtf8(text);
    }
}

TEST(OperatorActionTest, AFailureSaysWhyAsTheOperatorReadsIt) {
    EXPECT_EQ(ActionFailed(OperatorAction::kMuteBuzzer, {u"S"}, kTimedOut).Text(),
              u"Muting the system buzzer of S failed: " +
                  Utf8ToUtf16(std::string(ResultCodeName(kTimedOut))) + u" (" +
                  Utf8ToUtf16(std::to_string(kTimedOut)) + u").");
    // An upgrade refused says what was wrong with the package, not a code.
    EXPECT_EQ(ActionFailed(OperatorAction::kStartUpgrade, {u"S"}, kModelMismatch).arguments.back(),
              LoadString(UpgradeResultText(kModelMismatch)));
}

}  // namespace
}  // namespace halvorin
