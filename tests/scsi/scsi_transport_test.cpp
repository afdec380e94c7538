#include "enclosure/scsi/scsi_transport.h"

#include <gtest/gtest.h>

#include "base/result_code.h"
#include "tests/support/enclosure_stub.h"

namespace halvorin {
namespace {

using test::Answer;
using test::CheckCondition;
using test::Good;
using test::ScriptedHost;
using test::WithStatus;

const ScsiUnit kUnit{2, 0, 5, 0};
const SES_ADDR kAddress = SES_ADDR::Make(2, DeviceId{}, 0, 5, 0);
const Cdb kReadStatus = {0x1C, 0x01, 0x02, 0xFF, 0xFF};

struct Fixture {
    explicit Fixture(ScriptedHost::Handler handler)
        : host(std::make_shared<ScriptedHost>(std::vector{kUnit}, std::move(handler))) {
        transport.AddHost(host);
    }
    int Read(size_t size = 64) {
        buffer.assign(size, 0);
        return transport.PassThroughIn(kAddress, kReadStatus, buffer, 30);
    }
    std::shared_ptr<ScriptedHost> host;
    ScsiTransport transport;
    std::vector<uint8_t> buffer;
};

// Answers with `first` for the first n attempts and GOOD with 8 bytes afterwards.
ScriptedHost::Handler FirstThen(int n, ScsiIoResult first) {
    auto count = std::make_shared<int>(0);
    return [=](const ScsiIo& io, std::stop_token) {
        if ((*count)++ < n) return first;
        return Answer(io, std::vector<uint8_t>(8, 0xAB));
    };
}

TEST(ScsiTransportRetries, UnitAttentionIsRetriedUpToThirtyAttempts) {
    Fixture ok(FirstThen(29, CheckCondition(0x06)));
    EXPECT_EQ(ok.Read(), 8);
    EXPECT_EQ(ok.host->executions, 30);

    Fixture exhausted(FirstThen(30, CheckCondition(0x06)));
    EXPECT_EQ(exhausted.Read(), kScsiFailed);
    EXPECT_EQ(exhausted.host->executions, 30);
}

TEST(ScsiTransportRetries, BusyAndTaskAbortedAreRetriedLikeUnitAttention) {
    Fixture busy(FirstThen(30, WithStatus(0x08)));
    EXPECT_EQ(busy.Read(), kScsiFailed);
    EXPECT_EQ(busy.host->executions, 30);

    Fixture aborted(FirstThen(5, WithStatus(0x40)));
    EXPECT_EQ(aborted.Read(), 8);
    EXPECT_EQ(aborted.host->executions, 6);
}

TEST(ScsiTransportRetries, DescriptorFormatUnitAttentionIsRecognised) {
    Fixture f(FirstThen(3, CheckCondition(0x06, /*descriptor_format=*/true)));
    EXPECT_EQ(f.Read(), 8);
    EXPECT_EQ(f.host->executions, 4);
}

TEST(ScsiTransportRetries, OtherSenseShortSenseAndOtherStatusFailAtOnce) {
    Fixture illegal(FirstThen(1, CheckCondition(0x05)));
    EXPECT_EQ(illegal.Read(), kScsiFailed);
    EXPECT_EQ(illegal.host->executions, 1);

    ScsiIoResult short_sense = CheckCondition(0x06);
    short_sense.sense_length = 2;  // fixed format needs 3 bytes to hold the key
    Fixture truncated(FirstThen(1, short_sense));
    EXPECT_EQ(truncated.Read(), kScsiFailed);
    EXPECT_EQ(truncated.host->executions, 1);

    Fixture reservation(FirstThen(1, WithStatus(0x18)));
    EXPECT_EQ(reservation.Read(), kScsiFailed);
}

TEST(ScsiTransportResults, TransportFailuresMapToTheirCodesWithoutRetry) {
    ScsiIoResult timed_out;
    timed_out.outcome = ScsiIoResult::Outcome::kTimedOut;
    Fixture t(FirstThen(1, timed_out));
    EXPECT_EQ(t.Read(), kTimedOut);
    EXPECT_EQ(t.host->executions, 1);

    ScsiIoResult failed;
    failed.outcome = ScsiIoResult::Outcome::kFailed;
    Fixture f(FirstThen(1, failed));
    EXPECT_EQ(f.Read(), kScsiFailed);

    ScsiIoResult gone;
    gone.outcome = ScsiIoResult::Outcome::kNoDevice;
    Fixture g(FirstThen(1, gone));
    EXPECT_EQ(g.Read(), kAdapterOpenFailed);
}

TEST(ScsiTransportResults, ShortTransferReturnsTheSmallerCount) {
    Fixture f([](const ScsiIo& io, std::stop_token) { return Answer(io, {1, 2, 3}); });
    EXPECT_EQ(f.Read(64), 3);
    EXPECT_EQ(f.buffer[2], 3);
    // A device that claims more than the buffer never overflows it.
    Fixture liar([](const ScsiIo&, std::stop_token) { return Good(1000); });
    EXPECT_EQ(liar.Read(16), 16);
}

TEST(ScsiTransportResults, AddressOfNoKnownAdapterCannotBeOpened) {
    Fixture f(FirstThen(0, Good()));
    std::vector<uint8_t> buffer(8);
    SES_ADDR elsewhere = SES_ADDR::Make(7, DeviceId{}, 0, 5, 0);
    EXPECT_EQ(f.transport.PassThroughIn(elsewhere, kReadStatus, buffer, 30), kAdapterOpenFailed);
    SES_ADDR garbled = kAddress;
    garbled.bytes[0] = 'X';
    EXPECT_EQ(f.transport.PassThroughIn(garbled, kReadStatus, buffer, 30), kAdapterOpenFailed);
    EXPECT_EQ(f.host->executions, 0);
}

TEST(ScsiTransportResults, DataOutHandsTheBytesToTheDevice) {
    std::vector<uint8_t> seen;
    Fixture f([&](const ScsiIo& io, std::stop_token) {
        EXPECT_EQ(io.direction, DataDirection::kOut);
        seen.assign(io.data.begin(), io.data.end());
        return Good(static_cast<uint32_t>(io.data.size()));
    });
    const std::vector<uint8_t> page = {0x02, 0, 0, 4, 0, 0, 0, 1};
    EXPECT_EQ(f.transport.PassThroughOut(kAddress, Cdb{0x1D, 0x10}, page, 30), 8);
    EXPECT_EQ(seen, page);
}

// ---- discovery ----------------------------------------------------------------

struct Lun {
    ScsiUnit unit;
    uint8_t inquiry_byte0;
    std::vector<uint8_t> vpd;
};

ScriptedHost::Handler Devices(std::vector<Lun> luns) {
    return [luns](const ScsiIo& io, std::stop_token) {
        for (const Lun& lun : luns) {
            if (!(lun.unit == io.unit)) continue;
            if (io.cdb[0] != 0x12) return CheckCondition(0x05);
            if (io.cdb[1] & 1) return Answer(io, lun.vpd);
            return Answer(io, test::StandardInquiry(lun.inquiry_byte0));
        }
        ScsiIoResult none;
        none.outcome = ScsiIoResult::Outcome::kNoDevice;
        return none;
    };
}

std::vector<uint8_t> VpdWithDesignators(
    std::vector<std::pair<uint8_t, std::vector<uint8_t>>> list) {
    std::vector<uint8_t> page = {0x0D, 0x83, 0, 0};
    for (auto& [type, value] : list) {
        page.insert(page.end(), {0x01, type, 0, static_cast<uint8_t>(value.size())});
        page.insert(page.end(), value.begin(), value.end());
    }
    page[2] = static_cast<uint8_t>((page.size() - 4) >> 8);
    page[3] = static_cast<uint8_t>(page.size() - 4);
    return page;
}

TEST(ScsiDiscovery, FindsEnclosureServicesDevicesByInquiryAndEightByteNaa) {
    const std::vector<uint8_t> id8 = {0x50, 1, 2, 3, 4, 5, 6, 7};
    std::vector<Lun> luns = {
        {{0, 0, 1, 0},
         0x0D,
         VpdWithDesignators({{0x03, std::vector<uint8_t>(16, 0x60)}, {0x03, id8}})},
        {{0, 0, 2, 0}, 0x2D, VpdWithDesignators({{0x03, id8}})},  // qualifier not 0
        {{0, 0, 3, 0}, 0x00, VpdWithDesignators({{0x03, id8}})},  // a disk
        {{0, 0, 4, 0}, 0x0D, VpdWithDesignators({{0x02, id8}})},  // EUI-64, no NAA
        {{0, 0, 5, 0}, 0x0D, VpdWithDesignators({{0x03, std::vector<uint8_t>(16, 1)}})},
    };
    std::vector<ScsiUnit> units;
    for (auto& l : luns)
        units.push_back(l.unit);
    ScsiTransport transport;
    transport.AddHost(std::make_shared<ScriptedHost>(units, Devices(luns)));

    auto found = transport.ScanAdapters();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].TargetId(), 1);
    EXPECT_EQ(found[0].Identifier(), (DeviceId{0x50, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(found[0].AdapterPath(), u"\\\\.\\Scsi0:");
}

TEST(ScsiDiscovery, ScanOrderIsByAdapterNumberAcrossHosts) {
    const std::vector<uint8_t> vpd = VpdWithDesignators({{0x03, std::vector<uint8_t>(8, 9)}});
    std::vector<Lun> high = {{{1000, 0, 0, 0}, 0x0D, vpd}};
    std::vector<Lun> low = {{{3, 0, 7, 0}, 0x0D, vpd}, {{1, 0, 2, 0}, 0x0D, vpd}};
    ScsiTransport transport;
    transport.AddHost(std::make_shared<ScriptedHost>(std::vector{high[0].unit}, Devices(high)));
    transport.AddHost(
        std::make_shared<ScriptedHost>(std::vector{low[0].unit, low[1].unit}, Devices(low)));
    auto found = transport.ScanAdapters();
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].AdapterNumber(), 1000u);  // hosts are asked in the order they were added
    EXPECT_EQ(found[1].AdapterNumber(), 1u);
    EXPECT_EQ(found[2].AdapterNumber(), 3u);
}

TEST(ScsiDiscovery, LargeIdentificationPageIsReadWithGrowingAllocations) {
    // 600 bytes of other designators push the NAA one past the first 256 bytes.
    std::vector<std::pair<uint8_t, std::vector<uint8_t>>> designators;
    for (int i = 0; i < 5; ++i)
        designators.push_back({0x08, std::vector<uint8_t>(116, 'a')});
    designators.push_back({0x03, std::vector<uint8_t>(8, 0x5A)});
    std::vector<Lun> luns = {{{0, 0, 0, 0}, 0x0D, VpdWithDesignators(designators)}};
    auto host = std::make_shared<ScriptedHost>(std::vector{luns[0].unit}, Devices(luns));
    ScsiTransport transport;
    transport.AddHost(host);
    DeviceId id{};
    EXPECT_EQ(transport.ReadVpdIdentifier(SES_ADDR::Make(0, {}, 0, 0, 0), id), kOk);
    EXPECT_EQ(id, (DeviceId{0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A}));
    std::vector<int> allocations;
    for (const Cdb& cdb : host->Cdbs())
        allocations.push_back(cdb[3] << 8 | cdb[4]);
    EXPECT_EQ(allocations, (std::vector<int>{256, 512, 1024}));
}

TEST(ScsiDiscovery, AllocationStopsGrowingAt4096) {
    // A device that always fills the buffer: the 4096-byte answer is used.
    auto host = std::make_shared<ScriptedHost>(std::vector<ScsiUnit>{{0, 0, 0, 0}},
                                               [](const ScsiIo& io, std::stop_token) {
                                                   std::vector<uint8_t> page(io.data.size(), 0);
                                                   page[0] = 0x0D;
                                                   page[2] = 0xFF;
                                                   page[3] = 0xFF;
                                                   return Answer(io, page);
                                               });
    ScsiTransport transport;
    transport.AddHost(host);
    DeviceId id{};
    EXPECT_EQ(transport.ReadVpdIdentifier(SES_ADDR::Make(0, {}, 0, 0, 0), id), kNotFound);
    EXPECT_EQ(host->executions, 5);  // 256, 512, 1024, 2048, 4096
}

}  // namespace
}  // namespace halvorin
