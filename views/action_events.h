// The events an operator's action on an enclosure logs when it succeeds (a
// failure logs its own warning), by string id. Every action leaves a line in
// the event list, so the list tells what was done to an enclosure and when.
#pragma once

#include <QString>

#include "base/result_code.h"

namespace halvorin {

// The reason a failed action gives in its event: "timed out (-7)".
inline QString ResultText(int result) {
    return QString("%1 (%2)").arg(QString::fromUtf8(ResultCodeName(result))).arg(result);
}

inline constexpr int kBuzzerMutedText = 303;  // "The buzzer of %s was muted."
inline constexpr int kUidLedOnText = 304;     // "The UID LED of %s was switched on."
inline constexpr int kUidLedOffText = 305;    // "... off."
inline constexpr int kSlotLedOnText = 306;  // "The identification LED of %s of %s was switched on."
inline constexpr int kSlotLedOffText = 307;     // "... off."
inline constexpr int kSlotLedFailedText = 308;  // "... could not be switched: %s." (warning)
inline constexpr int kZoningAppliedText = 309;  // "The SAS zoning of %s was applied."
inline constexpr int kZoningUndoneText = 310;   // "The SAS zoning edits of %s were undone."
inline constexpr int kRestartingText = 311;     // "%s is restarting."
inline constexpr int kShuttingDownText = 312;   // "%s is shutting down."

}  // namespace halvorin
