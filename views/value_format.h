// The axis and reading texts of the element rows: a value in tenths of the
// shown unit turned into text. Negative values keep their sign in front of
// the whole number ("-0.5", never "0.-5").
#pragma once

#include <cstdint>
#include <string>

namespace halvorin {

enum class ValueFormat : uint8_t {
    kNone,         // the row shows no formatted value
    kWholeNumber,  // "%d" of value / 10 (fan speed)
    kOneDecimal,   // "%d.%d" of value / 10 and value % 10 (temperature)
    kTwoDecimals,  // "%d.%02d" of value / 1000 and value % 1000 / 10 (voltage)
};

std::u16string FormatValue(ValueFormat format, int64_t tenths);

}  // namespace halvorin
