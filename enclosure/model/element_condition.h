// How healthy an element is, as the operator must see it: its FAIL bit is
// not the whole story. A sensor past a critical threshold reports the
// element status code "critical" and its over- or under-failure bit without
// setting FAIL, and it is a fault all the same; a warning threshold or the
// "noncritical" code is a warning.
#pragma once

#include <cstdint>

namespace halvorin {

class CSesElem;

enum class Condition { kOk, kWarning, kFault };

// state: StateBits; status_code: the low nibble of status byte 0.
Condition ElementCondition(uint32_t state, uint8_t status_code);
Condition ElementCondition(const CSesElem& element);

inline bool IsFault(const CSesElem& element) {
    return ElementCondition(element) == Condition::kFault;
}

}  // namespace halvorin
