// A path in the temporary folder that no other test shares: ctest runs the
// tests of one program in parallel processes, so a fixed name would let one
// test read what another has just written.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace halvorin::test {

inline std::string UniqueTempPath(const std::string& name) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string test = info ? std::string(info->test_suite_name()) + "." + info->name() : "global";
    return ::testing::TempDir() + test + "-" + std::to_string(::getpid()) + "-" + name;
}

}  // namespace halvorin::test
