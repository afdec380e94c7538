// Firmware upgrades end to end against the simulated enclosure.
#include "enclosure/ops/firmware_upgrade.h"

#include <fstream>

#include "enclosure/model/model_ref.h"
#include "enclosure/ops/firmware_package.h"
#include "enclosure/ops/firmware_read_back.h"
#include "tests/support/manager_harness.h"
#include "tests/support/temp_path.h"

namespace halvorin {
namespace {

std::vector<uint8_t> Image(size_t size, uint8_t seed) {
    std::vector<uint8_t> image(size);
    for (size_t i = 0; i < size; ++i)
        image[i] = static_cast<uint8_t>(i * 31 + seed);
    return image;
}

class UpgradeTest : public ::testing::Test {
  protected:
    void SetUp() override { Ready(); }
    void TearDown() override {
        subenc_.reset();
        StopFirmwareUpgrades();
    }

    void Ready() {
        ASSERT_TRUE(h_->PollUntil([&] { return h_->AllRead(1); }));
        auto all = h_->Enclosures();
        ASSERT_FALSE(all.empty());
        subenc_ = all[0];
    }

    std::string Package(const std::vector<uint8_t>& bytes, const std::string& name = "fw.lzma") {
        const std::string path = test::UniqueTempPath(name);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    // Polls until the upgrade has ended; the upgrade states seen on the way.
    std::vector<int> Follow() {
        std::vector<int> seen;
        h_->PollUntil(
            [&] {
                const int state = subenc_->upgrade_state;
                if (seen.empty() || seen.back() != state) seen.push_back(state);
                return state < 0 && !(subenc_->dev->Flags() & kDeviceUpgrading);
            },
            std::chrono::seconds(30));
        return seen;
    }

    UpgradeOptions Fast() {
        UpgradeOptions options;
        options.activation_wait = std::chrono::milliseconds(50);
        return options;
    }

    std::unique_ptr<test::ManagerHarness> h_ = std::make_unique<test::ManagerHarness>(
        std::vector{test::LoadShippedScenario("jbod24.json")});
    Ref<CSubEnc> subenc_;
};

TEST_F(UpgradeTest, FullUpgradeDownloadsBothImagesWithRisingProgress) {
    const auto a = Image(40000, 1), b = Image(25111, 2);  // B's last piece is short
    ASSERT_EQ(
        StartFirmwareUpgrade(subenc_.get(), Package(BuildFirmwarePackage("m810", a, b)), Fast()),
        kOk);
    EXPECT_EQ(StartFirmwareUpgrade(subenc_.get(), "/elsewhere", Fast()), kBusy);
    const std::vector<int> seen = Follow();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), kUpgradeCompleted);
    for (size_t i = 1; i + 1 < seen.size(); ++i)
        EXPECT_GE(seen[i], seen[i - 1]) << "progress went back";
    EXPECT_EQ(h_->enclosure().DownloadedImage(0, 2), a);
    EXPECT_EQ(h_->enclosure().DownloadedImage(0, 1), b);
    // The enclosure's new revision shows after its configuration is read again.
    h_->Advance(60);
    EXPECT_EQ(SubEncInfo(subenc_.get()).firmware_revision, "2.0.8");
}

TEST_F(UpgradeTest, DamagedPackageFailsBeforeAnythingGoesToTheEnclosure) {
    auto file = BuildFirmwareFile("m810", Image(100, 0), Image(100, 1));
    file[72] ^= 0x01;  // the check value
    ASSERT_EQ(StartFirmwareUpgrade(subenc_.get(),
                                   Package(CompressLzmaAlone(BuildTarArchive("jbod_fw.bin", file))),
                                   Fast()),
              kOk);
    EXPECT_EQ(Follow().back(), kInvalidFirmware);
    EXPECT_EQ(h_->enclosure().PageWrites(0x0E), 0);
    EXPECT_EQ(h_->enclosure().PageReads(0x0E), 0);
}

TEST_F(UpgradeTest, PackageForAnotherModelIsRefused) {
    ASSERT_EQ(StartFirmwareUpgrade(
                  subenc_.get(), Package(BuildFirmwarePackage("m410", Image(10, 0), Image(10, 1))),
                  Fast()),
              kOk);
    EXPECT_EQ(Follow().back(), kModelMismatch);
    EXPECT_EQ(h_->enclosure().PageWrites(0x0E), 0);
    // A missing package says so.
    ASSERT_EQ(StartFirmwareUpgrade(subenc_.get(), "/nonexistent/fw.lzma", Fast()), kOk);
    EXPECT_EQ(Follow().back(), kPackageOpenFailed);
}

TEST(UpgradeResume, EnclosureAlreadyExpectingTheSecondImageSkipsTheFirst) {
    sim::Scenario scenario = test::LoadShippedScenario("jbod24.json");
    scenario.download = {0x01, 1, 0};  // in progress, waiting for buffer 1 from its start
    test::ManagerHarness h({scenario});
    ASSERT_TRUE(h.PollUntil([&] { return h.AllRead(1); }));
    auto all = h.Enclosures();
    CSubEnc* subenc = all[0].get();
    const auto a = Image(5000, 3), b = Image(3000, 4);
    const std::string path = test::UniqueTempPath("resume.lzma");
    const auto package = BuildFirmwarePackage("m810", a, b);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(package.data()),
               static_cast<std::streamsize>(package.size()));
    UpgradeOptions options;
    options.activation_wait = std::chrono::milliseconds(10);
    ASSERT_EQ(StartFirmwareUpgrade(subenc, path, options), kOk);
    std::vector<int> seen;
    ASSERT_TRUE(h.PollUntil([&] {
        if (seen.empty() || seen.back() != subenc->upgrade_state)
            seen.push_back(subenc->upgrade_state);
        return subenc->upgrade_state < 0;
    }));
    EXPECT_EQ(seen.back(), kUpgradeCompleted);
    EXPECT_TRUE(h.enclosure().DownloadedImage(0, 2).empty());  // image A was never sent
    EXPECT_EQ(h.enclosure().DownloadedImage(0, 1), b);
    // Progress started past image A: 5000 of 8000 bytes were already there.
    for (int state : seen) {
        if (state > 0 && state < 100) {
            EXPECT_GE(state, 62);
        }
    }
    StopFirmwareUpgrades();
}

// An upgrade belongs to the connection it started on: when the agent goes
// away mid-download the upgrade ends (-10) at once, whether the piece under
// way was sent or still queued, and never waits for a reconnection. The next
// upgrade resumes where the enclosure says it stopped.
TEST_F(UpgradeTest, AgentRestartEndsTheUpgradeAndTheNextOneResumes) {
    const auto a = Image(300000, 5), b = Image(10000, 6);
    const std::string path = Package(BuildFirmwarePackage("m810", a, b));
    ASSERT_EQ(StartFirmwareUpgrade(subenc_.get(), path, Fast()), kOk);
    ASSERT_TRUE(
        h_->PollUntil([&] { return subenc_->upgrade_state >= 2; }, std::chrono::seconds(30)));
    h_->RestartAgent();
    ASSERT_TRUE(h_->PollUntil([&] { return subenc_->upgrade_state < 0; }));
    EXPECT_EQ(subenc_->upgrade_state, kConnectionLost);
    ASSERT_TRUE(h_->PollUntil([&] { return !(subenc_->dev->Flags() & kDeviceUpgrading); }));
    const size_t got = h_->enclosure().DownloadedImage(0, 2).size();
    EXPECT_GT(got, 0u);
    EXPECT_LT(got, a.size());

    ASSERT_TRUE(h_->PollUntil(
        [&] {
            h_->clock().AdvanceSeconds(1);  // past the reconnect delay
            h_->domain()->client.Wake();
            return h_->domain()->client.state() == kStateReady;
        },
        std::chrono::seconds(30)));
    const int writes = h_->enclosure().PageWrites(0x0E);
    subenc_->upgrade_state = kUpgradeIdle;  // as the view does once it has shown the result
    ASSERT_EQ(StartFirmwareUpgrade(subenc_.get(), path, Fast()), kOk);
    EXPECT_EQ(Follow().back(), kUpgradeCompleted);
    // Only what was missing went out the second time.
    EXPECT_LE(h_->enclosure().PageWrites(0x0E) - writes,
              static_cast<int>((a.size() - got + b.size()) / 1024 + 2));
    EXPECT_EQ(h_->enclosure().DownloadedImage(0, 2), a);
    EXPECT_EQ(h_->enclosure().DownloadedImage(0, 1), b);
}

// The agent goes away while the enclosure activates: its firmware is unknown,
// and the upgrade says so at once (-24) instead of counting as done. Read
// again once the host is back, the enclosure tells which firmware it runs.
TEST_F(UpgradeTest, AgentLostDuringActivationLeavesTheFirmwareUnknownUntilReadBack) {
    UpgradeOptions slow_activation = Fast();
    slow_activation.activation_wait = std::chrono::seconds(20);
    const std::string before = SubEncInfo(subenc_.get()).firmware_revision;
    ASSERT_EQ(
        StartFirmwareUpgrade(subenc_.get(),
                             Package(BuildFirmwarePackage("m810", Image(3000, 1), Image(2000, 2))),
                             slow_activation),
        kOk);
    ASSERT_TRUE(h_->PollUntil([&] { return subenc_->upgrade_state == kUpgradeActivating; },
                              std::chrono::seconds(30)));
    const auto lost_at = std::chrono::steady_clock::now();
    h_->RestartAgent();
    ASSERT_TRUE(h_->PollUntil([&] { return subenc_->upgrade_state < 0; }));
    EXPECT_EQ(subenc_->upgrade_state, kActivationUnknown);
    EXPECT_LT(std::chrono::steady_clock::now() - lost_at, std::chrono::seconds(5));

    FirmwareReadBack read_back(h_->domain(), subenc_->dev->Identifier(), subenc_->id, before);
    FirmwareReadBack::Outcome outcome = FirmwareReadBack::Outcome::kPending;
    ASSERT_TRUE(h_->PollUntil(
        [&] {
            h_->clock().AdvanceSeconds(1);  // past the reconnect delay
            h_->domain()->client.Wake();
            outcome = read_back.Step();
            return outcome != FirmwareReadBack::Outcome::kPending;
        },
        std::chrono::seconds(30)));
    // The simulated enclosure took both images before its agent went: it
    // runs the next revision.
    EXPECT_EQ(outcome, FirmwareReadBack::Outcome::kChanged);
    EXPECT_EQ(read_back.revision(), "2.0.8");
    EXPECT_EQ(read_back.revision_before(), before);
}

// Exit stops the upgrade while its thread waits for an answer that only the
// poll step would deliver, and no poll step runs any more.
TEST_F(UpgradeTest, StopEndsAnUpgradeWaitingForAnAnswerThatNobodyDelivers) {
    const std::string path = Package(BuildFirmwarePackage("m810", Image(300000, 1), Image(10, 2)));
    ASSERT_EQ(StartFirmwareUpgrade(subenc_.get(), path, Fast()), kOk);
    ASSERT_TRUE(h_->PollUntil([&] { return subenc_->upgrade_state >= 1; }));
    const auto start = std::chrono::steady_clock::now();
    StopFirmwareUpgrades();  // no poll step from here on
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(subenc_->upgrade_state, kClosing);
    EXPECT_FALSE(subenc_->dev->Flags() & kDeviceUpgrading);
}

TEST(UpgradeTimeouts, TwentyConsecutiveTimeoutsEndTheDownload) {
    sim::Scenario scenario = test::LoadShippedScenario("jbod24.json");
    sim::FaultDescription slow;
    slow.opcode = 0x1D;  // every piece is answered only after its request timed out
    slow.page = 0x0E;
    slow.answer = sim::FaultAnswer::kSlow;
    slow.delay_ms = 400;
    scenario.faults.push_back(slow);
    test::ManagerHarness h({scenario});
    ASSERT_TRUE(h.PollUntil([&] { return h.AllRead(1); }));
    auto all = h.Enclosures();
    CSubEnc* subenc = all[0].get();
    h.domain()->request_timeout = 1;
    const auto package = BuildFirmwarePackage("m810", Image(3000, 0), Image(10, 1));
    const std::string path = test::UniqueTempPath("timeouts.lzma");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(package.data()),
               static_cast<std::streamsize>(package.size()));
    ASSERT_EQ(StartFirmwareUpgrade(subenc, path), kOk);
    ASSERT_TRUE(h.PollUntil(
        [&] {
            h.clock().AdvanceSeconds(1);  // each tick expires the piece in flight
            h.domain()->client.Wake();
            return subenc->upgrade_state < 0;
        },
        std::chrono::seconds(60)));
    EXPECT_EQ(subenc->upgrade_state, kTimedOut);
    // Nothing got past the first piece: it was sent again and again.
    EXPECT_LE(h.enclosure().DownloadedImage(0, 2).size(), 1024u);
    StopFirmwareUpgrades();
}

TEST_F(UpgradeTest, OneUpgradeAtATimePerDevice) {
    test::ManagerHarness dual({test::LoadShippedScenario("jbod84-dual-path.json")});
    ASSERT_TRUE(dual.PollUntil([&] { return dual.AllRead(2); }));
    auto all = dual.Enclosures();
    ASSERT_EQ(all.size(), 2u);
    const std::string path = Package(BuildFirmwarePackage("m810", Image(200000, 0), Image(10, 1)));
    ASSERT_EQ(StartFirmwareUpgrade(all[0].get(), path, Fast()), kOk);
    EXPECT_EQ(StartFirmwareUpgrade(all[1].get(), path, Fast()), kUpgradeRunning);
    EXPECT_EQ(all[1]->upgrade_state, kUpgradeIdle);
    ASSERT_TRUE(
        dual.PollUntil([&] { return all[0]->upgrade_state < 0; }, std::chrono::seconds(30)));
    StopFirmwareUpgrades();
}

}  // namespace
}  // namespace halvorin
