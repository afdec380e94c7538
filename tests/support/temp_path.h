// A path in the temporary folder that no other test shares: ctest runs the
// tests of one program in parallel processes, so a fixed name would let one
// test read what another has just written. Whatever is left at such a path
// (a file or a folder) is removed when the test program ends.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace halvorin::test {

namespace detail {

class TempPathsOfThisProgram {
  public:
    void Add(const std::string& path) {
        std::lock_guard lock(mutex_);
        paths_.push_back(path);
    }
    ~TempPathsOfThisProgram() {
        std::error_code ignored;
        for (const std::string& path : paths_)
            std::filesystem::remove_all(path, ignored);
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> paths_;
};

inline TempPathsOfThisProgram& TempPaths() {
    static TempPathsOfThisProgram paths;
    return paths;
}

}  // namespace detail

inline std::string UniqueTempPath(const std::string& name) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string test = info ? std::string(info->test_suite_name()) + "." + info->name() : "global";
    std::string path = ::testing::TempDir() + test + "-" + std::to_string(::getpid()) + "-" + name;
    detail::TempPaths().Add(path);
    return path;
}

}  // namespace halvorin::test
