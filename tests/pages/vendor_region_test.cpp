#include "enclosure/pages/vendor_regions.h"

#include "tests/pages/pages_fixture.h"

namespace halvorin {
namespace {

using test::TypeDescription;
using test::VendorRegion;

const std::vector<TypeDescription> kTypes = {{kTypeArrayDeviceSlot, 3}, {kTypeVoltage, 2}};

class VendorTest : public test::PagesTest {
  protected:
    void SetUp() override {
        PagesTest::SetUp();
        ASSERT_EQ(Configure(kTypes), kOk);
    }
};

std::vector<uint8_t> PortEntry(uint8_t byte19, uint8_t port, uint8_t rate_code) {
    std::vector<uint8_t> e(24, 0);
    for (int i = 0; i < 8; ++i)
        e[i] = static_cast<uint8_t>(0x50 + i);
    e[16] = rate_code;
    e[17] = 0x7;
    e[19] = byte19;
    e[20] = port;
    return e;
}

TEST_F(VendorTest, PortEntriesAreNamedAndMarkedPresentOrNotInstalled) {
    ASSERT_EQ(ApplyPortEntries(dev_.get(),
                               VendorRegion(7, {PortEntry(0x41, 2, 11), PortEntry(0x01, 3, 9)})),
              kOk);
    ASSERT_EQ(dev_->type_descs.size(), 3u);  // appended after the configuration's two
    EXPECT_EQ(dev_->type_descs[2].type, kTypePortEntry);
    EXPECT_EQ(dev_->type_descs[2].possible_elements, 2);
    CSesElem* first = Elem(2, 0);
    EXPECT_EQ(ElementName(first), u"Controller 1 Port 2");
    EXPECT_EQ(first->raw_status[0], 1);
    EXPECT_EQ(first->type_data[0], 12);  // Gbit/s
    EXPECT_EQ(first->type_data[1], 7);
    EXPECT_EQ(first->type_data[2], 0x50);
    EXPECT_EQ(Elem(2, 1)->raw_status[0], 5);
    EXPECT_EQ(Elem(2, 1)->type_data[0], 3);
    // A second read reuses the descriptor rather than appending another.
    ASSERT_EQ(ApplyPortEntries(dev_.get(), VendorRegion(7, {PortEntry(0x41, 2, 10)})), kOk);
    EXPECT_EQ(dev_->type_descs.size(), 3u);
    EXPECT_EQ(Elem(2, 0)->type_data[0], 6);
}

TEST_F(VendorTest, ZoneDescriptorSizeIsFixedWhenFirstCreated) {
    auto zone = [](uint8_t i) {
        std::vector<uint8_t> e(14, 0);
        e[0] = i;
        e[4] = static_cast<uint8_t>(0xF0 + i);
        return e;
    };
    std::vector<std::vector<uint8_t>> six, ten;
    for (uint8_t i = 0; i < 6; ++i)
        six.push_back(zone(i));
    for (uint8_t i = 0; i < 10; ++i)
        ten.push_back(zone(i));
    ASSERT_EQ(ApplyZoneEntries(dev_.get(), VendorRegion(6, six)), kOk);
    ASSERT_EQ(ApplyZoneEntries(dev_.get(), VendorRegion(6, ten)), kOk);
    EXPECT_EQ(dev_->type_descs[2].possible_elements, 6);
    EXPECT_EQ(Sub()->counters[kTypeZoneEntry].count, 6);
    EXPECT_EQ(Elem(2, 5)->type_data[0], 0xF5);
}

TEST_F(VendorTest, ExpanderEntriesCarryPresenceAndAddress) {
    std::vector<uint8_t> present(12, 0), absent(12, 0);
    present[0] = 1;
    present[4] = 0x50;
    present[11] = 0x3F;
    ASSERT_EQ(ApplyExpanderEntries(dev_.get(), VendorRegion(10, {present, absent})), kOk);
    EXPECT_EQ(Elem(2, 0)->raw_status[0], 1);
    EXPECT_EQ(Elem(2, 0)->type_data[1], 0x50);
    EXPECT_EQ(Elem(2, 0)->type_data[8], 0x3F);
    EXPECT_EQ(Elem(2, 1)->raw_status[0], 5);
}

TEST_F(VendorTest, DiskIdentitiesFillTheFirstSlotsWithBlanksCut) {
    auto disk = [](const std::string& vendor, const std::string& product,
                   const std::string& serial) {
        std::vector<uint8_t> e(48, ' ');
        std::copy(vendor.begin(), vendor.end(), e.begin() + 4);
        std::copy(product.begin(), product.end(), e.begin() + 12);
        std::copy(serial.begin(), serial.end(), e.begin() + 28);
        return e;
    };
    std::vector<std::vector<uint8_t>> entries = {
        disk("SEAGATE", "ST16000NM002G", "ZL2A0001"), disk("HGST", "HUH721212AL5200", "8HG00002"),
        disk("", "", ""), disk("X", "Y", "Z")};  // more entries than slots
    ASSERT_EQ(ApplyDiskIdentities(dev_.get(), VendorRegion(8, entries)), kOk);
    CSesElem* slot = Elem(0, 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(&slot->type_data[kDiskVendor]), "SEAGATE");
    EXPECT_STREQ(reinterpret_cast<const char*>(&slot->type_data[kDiskProduct]), "ST16000NM002G");
    EXPECT_STREQ(reinterpret_cast<const char*>(&slot->type_data[kDiskSerial]), "ZL2A0001");
    EXPECT_STREQ(reinterpret_cast<const char*>(&Elem(0, 2)->type_data[kDiskVendor]), "");
    EXPECT_EQ(slot->data_valid & kDataValid, kDataValid);
}

TEST_F(VendorTest, NominalVoltagesAndDerivedThresholds) {
    std::vector<uint8_t> twelve = {0, 0, 0x04, 0xB0}, five = {0, 0, 0x01, 0xF4};
    ASSERT_EQ(ApplyNominalVoltages(dev_.get(), VendorRegion(9, {twelve, five})), kOk);
    EXPECT_EQ(Elem(1, 0)->nominal, 1200);
    EXPECT_EQ(Elem(1, 1)->thresholds, (std::array<int16_t, 4>{}));
    Sub()->capabilities |= kCapThresholdsFromNominal;
    ASSERT_EQ(ApplyNominalVoltages(dev_.get(), VendorRegion(9, {twelve, five})), kOk);
    EXPECT_EQ(Elem(1, 1)->thresholds, (std::array<int16_t, 4>{525, 512, 487, 475}));
}

TEST_F(VendorTest, RegionsShorterThanTheirCountsAreRefused) {
    auto region = VendorRegion(7, {PortEntry(0x41, 1, 11)});
    region[5] = 3;  // says three entries, holds one
    EXPECT_EQ(ApplyPortEntries(dev_.get(), region), kShortOrTooLarge);
    auto cut = VendorRegion(7, {PortEntry(0x41, 1, 11)});
    cut.resize(cut.size() - 1);  // shorter than bytes 1..3 say
    EXPECT_EQ(ApplyPortEntries(dev_.get(), cut), kShortOrTooLarge);
    EXPECT_EQ(ApplyZoneEntries(dev_.get(), std::vector<uint8_t>(11, 0)), kShortOrTooLarge);
    EXPECT_EQ(dev_->type_descs.size(), 2u);  // nothing appended
    std::vector<TypeDescription> no_slots = {{kTypeVoltage, 2}};
    ASSERT_EQ(Configure(no_slots, 2), kOk);
    EXPECT_EQ(ApplyDiskIdentities(dev_.get(), VendorRegion(8, {})), kNotFound);
}

TEST_F(VendorTest, IndicatorsAndSystemName) {
    std::vector<uint8_t> on(16, 0), off(16, 0), odd(16, 0);
    on[12] = 1;
    odd[12] = 7;
    ASSERT_EQ(ApplyIndicator(dev_.get(), kIndicatorUidLed, on), kOk);
    ASSERT_EQ(ApplyIndicator(dev_.get(), kIndicatorBuzzer, on), kOk);
    EXPECT_EQ(Sub()->indicators, kIndicatorUidLed | kIndicatorBuzzer);
    ASSERT_EQ(ApplyIndicator(dev_.get(), kIndicatorUidLed, odd),
              kOk);  // neither 0 nor 1: unchanged
    EXPECT_EQ(Sub()->indicators & kIndicatorUidLed, kIndicatorUidLed);
    ASSERT_EQ(ApplyIndicator(dev_.get(), kIndicatorUidLed, off), kOk);
    EXPECT_EQ(Sub()->indicators, kIndicatorBuzzer);
    ASSERT_EQ(ApplyIndicator(dev_.get(), kIndicatorBuzzer, std::vector<uint8_t>(15, 0)),
              kOk);  // too short: ignored
    EXPECT_EQ(Sub()->indicators, kIndicatorBuzzer);

    std::vector<uint8_t> name(48, 0);
    const std::string full(32, 'N');  // fills the field without a terminator
    std::copy(full.begin(), full.end(), name.begin() + 16);
    ASSERT_EQ(ApplySystemName(dev_.get(), name), kOk);
    EXPECT_EQ(SubEncInfo(Sub()).system_name, full);
    ASSERT_EQ(ApplySystemName(dev_.get(), std::vector<uint8_t>(47, 'x')),
              kOk);  // too short: ignored
    EXPECT_EQ(SubEncInfo(Sub()).system_name, full);
}

}  // namespace
}  // namespace halvorin
