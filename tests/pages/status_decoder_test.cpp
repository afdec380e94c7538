#include "enclosure/pages/status_decoders.h"

#include "tests/pages/pages_fixture.h"

namespace halvorin {
namespace {

using test::RaisedBits;
using test::TypeDescription;

const std::vector<TypeDescription> kTypes = {{kTypeArrayDeviceSlot, 2}, {kTypePowerSupply, 2},
                                             {kTypeCooling, 1},         {kTypeTemperature, 1},
                                             {kTypeVoltage, 1, 0, ""},  {kTypeCurrent, 1}};
constexpr int64_t kStart = 1'000'000;

class StatusTest : public test::PagesTest {
  protected:
    void SetUp() override {
        PagesTest::SetUp();
        ASSERT_EQ(Configure(kTypes, 5, {"", "", "", "", "", "", "+12.0V", ""}), kOk);
        dev_->last_status_time = kStart - 60;
        SetStatusEventHook(&RaisedBits::Record, &raised_);
    }
    int Status(const std::vector<std::array<uint8_t, 4>>& elements, int64_t now,
               uint32_t generation = 5) {
        return ApplyEnclosureStatus(dev_.get(), 200,
                                    test::ElementPage(0x02, generation, kTypes, elements), now);
    }
    RaisedBits raised_;
};

// Element order: slot 0, slot 1, PSU 0, PSU 1, fan, temperature, voltage, current.
std::vector<std::array<uint8_t, 4>> With(size_t index, std::array<uint8_t, 4> bytes) {
    std::vector<std::array<uint8_t, 4>> elements(8, {1, 0, 0, 0});
    elements[index] = bytes;
    return elements;
}

TEST_F(StatusTest, PowerSupplyFailureRaisesFailThenAcFailInRowOrder) {
    ASSERT_EQ(Status(With(3, {0x01, 0x00, 0x00, 0x00}), kStart), kOk);
    EXPECT_TRUE(raised_.events.empty());
    ASSERT_EQ(Status(With(3, {0x01, 0x00, 0x00, 0x42}), kStart + 60), kOk);
    ASSERT_EQ(raised_.events.size(), 2u);
    EXPECT_EQ(raised_.events[0].second, kStateFailed);
    EXPECT_EQ(raised_.events[1].second, kStateAcFailure);
    EXPECT_EQ(raised_.events[0].first, Elem(1, 1));
    EXPECT_EQ(Sub()->counters[kTypePowerSupply].failed, 1);
    EXPECT_EQ(Elem(1, 1)->state, kStateFailed | kStateAcFailure);

    // The same status a minute later raises nothing; clearing lowers the count.
    ASSERT_EQ(Status(With(3, {0x01, 0x00, 0x00, 0x42}), kStart + 120), kOk);
    EXPECT_EQ(raised_.events.size(), 2u);
    ASSERT_EQ(Status(With(3, {0x01, 0x00, 0x00, 0x00}), kStart + 180), kOk);
    EXPECT_EQ(Sub()->counters[kTypePowerSupply].failed, 0);
    EXPECT_EQ(raised_.events.size(), 2u);
}

TEST_F(StatusTest, SlotWithBothFaultBitsRaisesFailedTwice) {
    ASSERT_EQ(Status(With(0, {0x01, 0x80, 0x00, 0x60}), kStart), kOk);
    ASSERT_EQ(raised_.events.size(), 2u);
    EXPECT_EQ(raised_.events[0].second, kStateFailed);
    EXPECT_EQ(raised_.events[1].second, kStateFailed);
    EXPECT_EQ(Elem(0, 0)->state, kStateFailed | kStateOk);
    EXPECT_EQ(Sub()->counters[kTypeArrayDeviceSlot].failed, 1);
}

TEST_F(StatusTest, ReadingsGoToHistoryOncePerMinute) {
    auto elements = With(4, {0x01, 0x02, 0x58, 0x20});  // fan: 0x258 x 10 = 6000 rpm
    elements[5] = {0x01, 0x00, 45, 0x00};               // temperature 45 - 20 = 25
    elements[6] = {0x01, 0x00, 0x04, 0xB0};             // 1200 x 10 mV
    ASSERT_EQ(Status(elements, kStart), kOk);
    int16_t reading = 0;
    EXPECT_EQ(ReadHistory(*Elem(2, 0), std::span(&reading, 1), nullptr), 1u);
    EXPECT_EQ(reading, 6000);
    ReadHistory(*Elem(3, 0), std::span(&reading, 1), nullptr);
    EXPECT_EQ(reading, 25);
    EXPECT_EQ(Elem(3, 0)->nominal, 25);    // the first reading becomes the nominal value
    EXPECT_EQ(Elem(4, 0)->nominal, 1200);  // from "+12.0V", not from the reading
    EXPECT_EQ(Elem(2, 0)->update_count, 1);

    // 59 s later the page moves state bits only: no sample, no update.
    elements[4] = {0x02, 0x00, 0x00, 0x40};  // fan failed
    ASSERT_EQ(Status(elements, kStart + 59), kOk);
    EXPECT_EQ(Elem(2, 0)->update_count, 1);
    EXPECT_EQ(Elem(2, 0)->state & kStateFailed, kStateFailed);
    ASSERT_EQ(raised_.events.size(), 1u);
    EXPECT_EQ(dev_->last_status_time, kStart);
}

TEST_F(StatusTest, FailedReadsRecordMissingSamplesOncePerMinute) {
    EXPECT_EQ(ApplyEnclosureStatus(dev_.get(), kConnectionLost, {}, kStart), kTimedOut);
    EXPECT_EQ(Elem(2, 0)->update_count, 1);
    EXPECT_EQ(Elem(2, 0)->history->fill(), 1u);
    EXPECT_EQ(ApplyEnclosureStatus(dev_.get(), kTimedOut, {}, kStart + 30), kTimedOut);
    EXPECT_EQ(Elem(2, 0)->update_count, 1);
    EXPECT_EQ(ApplyEnclosureStatus(dev_.get(), kScsiFailed, {}, kStart + 90), kScsiFailed);
    EXPECT_EQ(Elem(2, 0)->update_count, 1);
}

TEST_F(StatusTest, NewGenerationOrShortPageChangesNothing) {
    EXPECT_EQ(Status(With(3, {0x01, 0, 0, 0x40}), kStart, 6), kGenerationChanged);
    auto page = test::ElementPage(0x02, 5, kTypes, With(3, {0x01, 0, 0, 0x40}));
    page.resize(page.size() - 4);
    test::SetLength(page);  // one element short
    EXPECT_EQ(ApplyEnclosureStatus(dev_.get(), 200, page, kStart), kShortOrTooLarge);
    auto lying = test::ElementPage(0x02, 5, kTypes, With(3, {0x01, 0, 0, 0x40}));
    lying[2] = 0;
    lying[3] = 20;  // says it is shorter than it is
    EXPECT_EQ(ApplyEnclosureStatus(dev_.get(), 200, lying, kStart), kShortOrTooLarge);
    EXPECT_EQ(ApplyEnclosureStatus(dev_.get(), 200, std::vector<uint8_t>{2, 0, 0}, kStart),
              kShortOrTooLarge);
    EXPECT_EQ(Elem(1, 1)->state, 0u);
    EXPECT_TRUE(raised_.events.empty());
}

TEST_F(StatusTest, SystemTypesBeyondTheConfigurationAreNotPartOfTheStatusPage) {
    ELEM_TYPE_DESC zones;
    zones.type = kTypeZoneEntry;
    zones.possible_elements = 10;
    zones.subenc = Sub();
    dev_->type_descs.push_back(zones);
    EXPECT_EQ(Status(With(3, {0x01, 0, 0, 0x40}), kStart), kOk);
    EXPECT_EQ(Elem(1, 1)->state, kStateFailed);
}

TEST_F(StatusTest, ThresholdsFromThresholdInPage) {
    ASSERT_EQ(Status(With(7, {0x01, 0, 0x01, 0x90}), kStart), kOk);  // current nominal 400 (4.00 A)
    std::vector<std::array<uint8_t, 4>> thresholds(8, {0, 0, 0, 0});
    thresholds[5] = {90, 80, 0, 20};   // temperature: 70, 60, none, 0 degrees
    thresholds[6] = {20, 10, 10, 20};  // voltage: +10 %, +5 %, -5 %, -10 % of 1200
    thresholds[7] = {40, 0, 0, 0};     // current: +20 % of 400
    ASSERT_EQ(ApplyThresholdIn(dev_.get(), test::ElementPage(0x05, 5, kTypes, thresholds)), kOk);
    EXPECT_EQ(Elem(3, 0)->thresholds, (std::array<int16_t, 4>{70, 60, 0, 0}));
    // A byte of 0 is none; a byte of 20 is a threshold of 0 degrees.
    EXPECT_EQ(Elem(3, 0)->thresholds_set, 0b1011);
    EXPECT_EQ(Elem(4, 0)->thresholds, (std::array<int16_t, 4>{1320, 1260, 1140, 1080}));
    EXPECT_EQ(Elem(4, 0)->thresholds_set, 0b1111);
    EXPECT_EQ(Elem(5, 0)->thresholds, (std::array<int16_t, 4>{480, 0, 0, 0}));
    EXPECT_EQ(Elem(5, 0)->thresholds_set, 0b0001);
    EXPECT_EQ(Elem(2, 0)->thresholds, (std::array<int16_t, 4>{}));  // fans keep none
    EXPECT_EQ(Elem(2, 0)->thresholds_set, 0);

    Sub()->capabilities |= kCapThresholdsFromNominal;
    thresholds[5] = {100, 100, 100, 100};
    ASSERT_EQ(ApplyThresholdIn(dev_.get(), test::ElementPage(0x05, 5, kTypes, thresholds)), kOk);
    EXPECT_EQ(Elem(3, 0)->thresholds, (std::array<int16_t, 4>{70, 60, 0, 0}));  // skipped
    EXPECT_EQ(ApplyThresholdIn(dev_.get(), test::ElementPage(0x05, 4, kTypes, thresholds)),
              kGenerationChanged);
}

// ---- additional element status -------------------------------------------------------

std::vector<uint8_t> SlotDescriptor(uint8_t index, uint8_t slot_number, uint8_t flags = 0x16) {
    std::vector<uint8_t> d = {flags, 6, 0, index, 1, 0x00, 0, slot_number};
    return d;
}

std::vector<uint8_t> AdditionalPage(uint32_t generation,
                                    const std::vector<std::vector<uint8_t>>& descriptors) {
    auto page = test::Header(0x0A, generation);
    for (const auto& d : descriptors)
        page.insert(page.end(), d.begin(), d.end());
    test::SetLength(page);
    return page;
}

TEST_F(StatusTest, AdditionalStatusGivesSlotNumbersAndSkipsInvalidDescriptors) {
    auto invalid = SlotDescriptor(0, 99, 0x96);  // INVALID: consumed, not applied
    ASSERT_EQ(ApplyAdditionalElementStatus(dev_.get(),
                                           AdditionalPage(5, {invalid, SlotDescriptor(1, 8)})),
              kOk);
    EXPECT_EQ(Elem(0, 0)->data_valid & kDataValid, 0);
    EXPECT_EQ(Elem(0, 1)->type_data[kSlotNumber], 8);
    EXPECT_EQ(Elem(0, 1)->data_valid & kDataValid, kDataValid);
}

TEST_F(StatusTest, ElementIndexCountsElementsOfEveryTypeBeforeIt) {
    std::vector<TypeDescription> types = {{kTypePowerSupply, 2}, {kTypeArrayDeviceSlot, 3}};
    ASSERT_EQ(Configure(types, 9), kOk);
    // Slot 1 is the fourth element of the page (index 3 without overall
    // elements, 5 with them).
    auto without = SlotDescriptor(3, 41);
    auto with = SlotDescriptor(5, 42);
    with[2] = 0x01;  // EIIOE
    ASSERT_EQ(ApplyAdditionalElementStatus(dev_.get(), AdditionalPage(9, {without, with})), kOk);
    EXPECT_EQ(Elem(1, 1)->type_data[kSlotNumber], 42);
    EXPECT_EQ(Elem(1, 0)->data_valid & kDataValid, 0);
}

TEST_F(StatusTest, MalformedAdditionalStatusIsRefusedBeforeAnythingChanges) {
    ASSERT_EQ(ApplyAdditionalElementStatus(dev_.get(), AdditionalPage(5, {SlotDescriptor(1, 8)})),
              kOk);
    auto short_eip = std::vector<uint8_t>{0x16, 1, 0};  // EIP with a length below 2
    EXPECT_EQ(ApplyAdditionalElementStatus(dev_.get(),
                                           AdditionalPage(5, {SlotDescriptor(0, 3), short_eip})),
              kShortOrTooLarge);
    auto overlong = SlotDescriptor(0, 3);
    overlong[1] = 200;
    EXPECT_EQ(ApplyAdditionalElementStatus(dev_.get(), AdditionalPage(5, {overlong})),
              kShortOrTooLarge);
    EXPECT_EQ(Elem(0, 0)->data_valid & kDataValid,
              0);  // the first descriptor was not applied either
    EXPECT_EQ(Elem(0, 1)->type_data[kSlotNumber], 8);
    EXPECT_EQ(ApplyAdditionalElementStatus(dev_.get(), AdditionalPage(6, {SlotDescriptor(1, 2)})),
              kGenerationChanged);
    // An index past every element names nothing and creates nothing.
    ASSERT_EQ(ApplyAdditionalElementStatus(dev_.get(), AdditionalPage(5, {SlotDescriptor(200, 1)})),
              kOk);
    EXPECT_EQ(Sub()->elements.size(), 8u);
    // Too little protocol information for a slot number is ignored.
    std::vector<uint8_t> tiny = {0x16, 3, 0, 0, 1};
    ASSERT_EQ(ApplyAdditionalElementStatus(dev_.get(), AdditionalPage(5, {tiny})), kOk);
    EXPECT_EQ(Elem(0, 0)->data_valid & kDataValid, 0);
}

TEST_F(StatusTest, ExpanderGetsPhyCountAndSasAddress) {
    std::vector<TypeDescription> types = {{kTypeSasExpander, 1}};
    ASSERT_EQ(Configure(types, 3), kOk);
    std::vector<uint8_t> expander = {0x16, 16, 0, 0, 36, 0x40, 0,    0,    0x50,
                                     0x0A, 0,  0, 0, 0,  0,    0x3F, 0xFF, 0xFF};
    ASSERT_EQ(ApplyAdditionalElementStatus(dev_.get(), AdditionalPage(3, {expander})), kOk);
    EXPECT_EQ(Elem(0, 0)->type_data[0], 36);
    EXPECT_EQ(Elem(0, 0)->type_data[1], 0x50);
    EXPECT_EQ(Elem(0, 0)->type_data[8], 0x3F);
}

// Byte 2 of a SAS connector is the physical link it uses (0xFF: all phys);
// only byte 3 bit 6 says it failed.
TEST_F(StatusTest, SasConnectorFailsOnlyOnItsFailBit) {
    const std::vector<TypeDescription> types = {{kTypeSasConnector, 2}};
    ASSERT_EQ(Configure(types, 3), kOk);
    auto status = [&](std::array<uint8_t, 4> second, int64_t now) {
        const std::vector<std::array<uint8_t, 4>> elements = {{0x01, 0x05, 0xFF, 0x00}, second};
        return ApplyEnclosureStatus(dev_.get(), 200, test::ElementPage(0x02, 3, types, elements),
                                    now);
    };
    ASSERT_EQ(status({0x01, 0x05, 0xFF, 0x00}, kStart), kOk);
    EXPECT_TRUE(raised_.events.empty());
    EXPECT_EQ(Elem(0, 0)->state & kStateFailed, 0u);
    EXPECT_EQ(Elem(0, 1)->state & kStateFailed, 0u);

    ASSERT_EQ(status({0x02, 0x05, 0xFF, 0x40}, kStart + 60), kOk);
    ASSERT_EQ(raised_.events.size(), 1u);
    EXPECT_EQ(raised_.events[0].first, Elem(0, 1));
    EXPECT_EQ(raised_.events[0].second, kStateFailed);
    EXPECT_EQ(Elem(0, 0)->state & kStateFailed, 0u);
}

}  // namespace
}  // namespace halvorin
