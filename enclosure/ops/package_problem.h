// What is wrong with a firmware package: the result code an upgrade ends with
// and a sentence that tells a person what to fix. The sentence is English and
// names the fault precisely ("too large", "no firmware image"), so that the
// command-line tools can print it as it stands.
#pragma once

#include <string>

#include "base/result_code.h"

namespace halvorin {

struct PackageProblem {
    int result = kOk;  // kOk, or -3, -6, -9, -16, -19, -20
    std::string text;  // empty when result is kOk

    static PackageProblem None() { return {}; }
    bool failed() const { return result != kOk; }
};

inline PackageProblem Problem(int result, std::string text) {
    return {result, std::move(text)};
}

}  // namespace halvorin
