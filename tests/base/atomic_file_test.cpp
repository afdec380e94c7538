#include "base/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/temp_path.h"

namespace halvorin {
namespace {

namespace fs = std::filesystem;

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(WriteFileAtomically, ReplacesTheFileWholeOrLeavesItAsItWas) {
    const std::string dir = test::UniqueTempPath("atomic");
    fs::create_directories(dir);
    const std::string path = dir + "/capture.json";
    std::ofstream(path) << "the old capture";
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(path, "the new capture\n", error)) << error;
    EXPECT_EQ(Read(path), "the new capture\n");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_NE(st.st_mode & 0044, 0u) << "a new file's usual permissions, not mkstemp's 0600";

    // A folder that cannot take the file: the old file is untouched and
    // nothing is left beside it.
    fs::create_directories(dir + "/ro");
    const std::string kept = dir + "/ro/kept.json";
    std::ofstream(kept) << "kept";
    ::chmod((dir + "/ro").c_str(), 0500);
    if (::geteuid() != 0) {  // root writes anywhere
        EXPECT_FALSE(WriteFileAtomically(kept, "lost", error));
        EXPECT_NE(error.find("kept.json"), std::string::npos) << error;
        EXPECT_EQ(Read(kept), "kept");
    }
    ::chmod((dir + "/ro").c_str(), 0700);
    EXPECT_FALSE(WriteFileAtomically(dir + "/no/such/folder/x.json", "x", error));
    EXPECT_NE(error.find("no/such/folder"), std::string::npos) << error;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir + "/ro"), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace halvorin
