// The simulator's standard pages checked by an independent decoder: sg_ses
// from sg3-utils decodes them offline and must read what the scenario says.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "tests/support/sim_fixture.h"
#include "tests/support/temp_path.h"

namespace halvorin {
namespace {

std::string RunSgSes(const std::string& hex_file, const std::string& options) {
    const std::string command = "sg_ses --inhex=" + hex_file + " --status " + options + " 2>&1";
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
            output.append(buffer, n);
        ::pclose(pipe);
    }
    return output;
}

std::string WritePages(test::SimFixture& f, const std::string& name) {
    const std::string path = test::UniqueTempPath(name);
    std::ofstream out(path);
    for (uint8_t page : {0x01, 0x02, 0x05, 0x07, 0x0A}) {
        for (uint8_t byte : f.Page(page)) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02x ", byte);
            out << hex;
        }
        out << "\n";
    }
    return path;
}

class SgSesAgreement : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::system("command -v sg_ses >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "sg_ses not installed";
    }
};

TEST_F(SgSesAgreement, TwentyFourBayPagesDecodeAsTheScenarioSays) {
    test::SimFixture f(test::LoadShippedScenario("jbod24.json"));
    const std::string output = RunSgSes(WritePages(f, "jbod24.hex"), "-jj");
    EXPECT_NE(output.find("Primary enclosure logical identifier (hex): 500a0b0c0d0e0f00"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("Slot 24 [0,23]  Element type: Array device slot"), std::string::npos);
    EXPECT_NE(output.find("device slot number: 23"), std::string::npos);
    EXPECT_NE(output.find("SAS address: 0x500a0b0c0d0e0f7f"), std::string::npos);  // expander 2
    EXPECT_NE(output.find("Controller +12.0V [4,0]  Element type: Voltage sensor"),
              std::string::npos);
    EXPECT_NE(output.find("high critical=70, high warning=60"), std::string::npos);
    EXPECT_NE(output.find("high critical=10.0 %, high warning=5.0 %"), std::string::npos);
    EXPECT_EQ(output.find("error"), std::string::npos) << output;
    EXPECT_EQ(output.find("truncated"), std::string::npos) << output;
}

TEST_F(SgSesAgreement, SlotsThatAreNotTheFirstTypeGetTheirOwnAdditionalStatus) {
    // The 84-bay lists its controllers before its slots, so element indexes of
    // the additional element status count the controllers too.
    test::SimFixture f(test::LoadShippedScenario("jbod84-dual-path.json"));
    const std::string output = RunSgSes(WritePages(f, "jbod84.hex"), "--join");
    const size_t slot = output.find("Slot 05 [1,4]");
    ASSERT_NE(slot, std::string::npos) << output;
    const size_t next = output.find("Slot 06 [1,5]");
    const std::string slot_five = output.substr(slot, next - slot);
    EXPECT_NE(slot_five.find("device slot number: 5"), std::string::npos) << slot_five;
    EXPECT_NE(output.find("PSU 2 [6,1]"), std::string::npos);
}

TEST_F(SgSesAgreement, SecondarySubEnclosureIsDescribedInTheConfiguration) {
    test::SimFixture f(test::LoadShippedScenario("jbod84-dual-path.json"));
    const std::string output = RunSgSes(WritePages(f, "jbod84-config.hex"), "--page=cf");
    EXPECT_NE(output.find("number of secondary subenclosures: 1"), std::string::npos) << output;
    EXPECT_NE(output.find("Subenclosure identifier: 1"), std::string::npos);
    EXPECT_NE(output.find("product: JB8460-PWR"), std::string::npos);
    EXPECT_NE(output.find("number of possible elements: 84"), std::string::npos);
}

}  // namespace
}  // namespace halvorin
