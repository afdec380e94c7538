#include "enclosure/model/element_naming.h"

#include <gtest/gtest.h>

#include "enclosure/model/element_types.h"
#include "tests/support/model_fixture.h"

namespace halvorin {
namespace {

std::span<const uint8_t> Bytes(const std::string& text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

class NamingTest : public test::ModelTest {
  protected:
    void SetUp() override {
        ModelTest::SetUp();
        dev_ = NewDevice(1);
        sub_ = Ref<CSubEnc>::Adopt(GetOrCreateSubEnc(dev_.get(), 0, test::LogicalId(0)));
    }
    void TearDown() override {
        for (CSesElem* e : made_)
            ReleaseElem(e);
        sub_.reset();
        dev_.reset();
        ModelTest::TearDown();
    }
    CSesElem* Element(uint8_t type, const std::string& descriptor, uint8_t index = 0) {
        CSesElem* e = GetOrCreateElem(sub_.get(), next_tdi_++, index, type, Bytes(descriptor));
        made_.push_back(e);
        return e;
    }
    Ref<CSesDev> dev_;
    Ref<CSubEnc> sub_;
    std::vector<CSesElem*> made_;
    uint8_t next_tdi_ = 0;
};

TEST_F(NamingTest, VoltageSensorsReadTheirNominalVoltageFromTheText) {
    EXPECT_EQ(Element(kTypeVoltage, "Controller +12.0V")->nominal, 1200);
    EXPECT_EQ(Element(kTypeVoltage, "+5.0V")->nominal, 500);
    EXPECT_EQ(Element(kTypeVoltage, "+3V")->nominal, 300);
    EXPECT_EQ(Element(kTypeVoltage, "+0.9V")->nominal, 90);
    EXPECT_EQ(Element(kTypeVoltage, "VCORE")->nominal, 0);
    // Two digits after the point are hundredths, not tenths: 3.30 V, not 6.00 V.
    EXPECT_EQ(Element(kTypeVoltage, "+3.30V")->nominal, 330);
    EXPECT_EQ(Element(kTypeVoltage, "+1.25V")->nominal, 125);
    EXPECT_EQ(Element(kTypeVoltage, "+99999999999V")->nominal, 32767);  // saturates
}

TEST_F(NamingTest, NominalIsOnlyLearnedOnceAndDerivesThresholdsWhenAsked) {
    sub_->capabilities |= kCapThresholdsFromNominal;
    CSesElem* v = Element(kTypeVoltage, "+12.0V");
    EXPECT_EQ(v->thresholds, (std::array<int16_t, 4>{1260, 1230, 1170, 1140}));
    NameFromDescriptor(v, Bytes("+5.0V"));
    EXPECT_EQ(v->nominal, 1200);
}

TEST_F(NamingTest, SensorsAreNamedAfterTheirDescriptorWithTheOnboardRule) {
    EXPECT_EQ(ElementName(Element(kTypeTemperature, "ONBOARD CPU")), u"Controller0 CPU");
    EXPECT_EQ(ElementName(Element(kTypeTemperature, "onboardX")), u"Controller0 X");
    EXPECT_EQ(ElementName(Element(kTypeCurrent, "12V Input")), u"12V Input");
    EXPECT_EQ(ElementName(Element(kTypeVoltage, "Controller +12.0V")), u"Controller +12.0V");
    EXPECT_EQ(ElementName(Element(kTypeTemperature, "Z\xFCrich")), u"Z\u00FCrich");  // Latin-1 byte
    EXPECT_EQ(ElementName(Element(kTypeTemperature, "Z\xC3\xBCrich")), u"Z\u00FCrich");  // UTF-8
    sub_->controller_number = 2;
    EXPECT_EQ(ElementName(Element(kTypeTemperature, "OnBoard  Inlet")), u"Controller2  Inlet");
}

TEST_F(NamingTest, OtherTypesKeepTheirDefaultName) {
    EXPECT_EQ(ElementName(Element(kTypeCooling, "Fan Left")), u"cooling device 1");
    EXPECT_EQ(ElementName(Element(kTypePowerSupply, "PSU", 1)), u"power supply 2");
    EXPECT_EQ(ElementName(Element(kTypeArrayDeviceSlot, "Slot 01", 6)), u"device slot 7");
    EXPECT_EQ(DefaultElementName(kTypeZoneEntry, 0),
              u"SAS port  1");                                    // the type name ends in a blank
    EXPECT_EQ(DefaultElementName(kTypeExpanderEntry, 1), u" 2");  // no type name
}

TEST_F(NamingTest, DescriptorTextIsReadOnlyUpToItsEnd) {
    const uint8_t raw[] = {'+', '5', '.', '0'};  // no terminator, no 'V'
    CSesElem* v = GetOrCreateElem(sub_.get(), 40, 0, kTypeVoltage, raw);
    made_.push_back(v);
    EXPECT_EQ(v->nominal, 500);
    EXPECT_EQ(ElementName(v), u"+5.0");
}

TEST(TypeNames, TheTableComesFromTheStringsWithAnEmptySuffix) {
    const auto names = ElementTypeNamesFromStrings();
    EXPECT_EQ(names.size(), 11u);
    EXPECT_EQ(names.at(kTypeCooling), u"cooling device");
    EXPECT_EQ(names.at(kTypeZoneEntry), u"SAS port ");  // "SAS port %s" keeps its blank
    EXPECT_EQ(names.at(kTypeArrayDeviceSlot), u"device slot");
    EXPECT_FALSE(names.contains(kTypeExpanderEntry));
}

TEST(TypeNames, ApplicationTableReplacesTheDefaults) {
    auto saved = ElementTypeNamesFromStrings();
    SetElementTypeNames({{kTypeCooling, u"ventilateur"}});
    EXPECT_EQ(DefaultElementName(kTypeCooling, 2), u"ventilateur 3");
    EXPECT_EQ(ElementTypeName(kTypePowerSupply), u"");
    SetElementTypeNames(saved);
}

// ---- enclosure descriptors ----------------------------------------------------------

std::vector<uint8_t> EnclosureDescriptor(const std::string& model,
                                         const std::string& revision = "2071") {
    std::vector<uint8_t> d(40, ' ');
    d[0] = 0x11;
    d[1] = 0;
    d[2] = 7;
    d[3] = static_cast<uint8_t>(36 + model.size());
    for (int i = 0; i < 8; ++i)
        d[4 + i] = static_cast<uint8_t>(0x50 + i);
    const std::string vendor = "HALVRN", product = "JB2412-12G";
    std::copy(vendor.begin(), vendor.end(), d.begin() + 12);
    std::copy(product.begin(), product.end(), d.begin() + 20);
    std::copy(revision.begin(), revision.end(), d.begin() + 36);
    d.insert(d.end(), model.begin(), model.end());
    return d;
}

TEST_F(NamingTest, EnclosureDescriptorGivesIdentityAndModelCheck) {
    auto d = EnclosureDescriptor("m810");
    EXPECT_EQ(ApplyEnclosureDescriptor(sub_.get(), d), 44);
    auto info = SubEncInfo(sub_.get());
    EXPECT_EQ(info.vendor, "HALVRN");
    EXPECT_EQ(info.product, "JB2412-12G");
    EXPECT_EQ(info.firmware_revision, "2.0.7");
    EXPECT_EQ(info.logical_id[7], 0x57);
    EXPECT_EQ(sub_->type_desc_count, 7);
    EXPECT_EQ(sub_->capabilities, kSupportedModelCapabilities);
    EXPECT_STREQ(sub_->model_text, "m810");
}

TEST_F(NamingTest, ModelTextMustBeM810InAnyCaseAndNothingMore) {
    EXPECT_EQ(ApplyEnclosureDescriptor(sub_.get(), EnclosureDescriptor("M810")), 44);
    EXPECT_EQ(ApplyEnclosureDescriptor(sub_.get(), EnclosureDescriptor("m810 ")),
              kUnsupportedModel);
    EXPECT_EQ(ApplyEnclosureDescriptor(sub_.get(), EnclosureDescriptor("m410")), kUnsupportedModel);
    EXPECT_EQ(ApplyEnclosureDescriptor(sub_.get(), EnclosureDescriptor("")), kUnsupportedModel);
    EXPECT_EQ(sub_->capabilities & kUnsupportedModelCapabilities, kUnsupportedModelCapabilities);
    std::string padded("m810\0\0\0\0", 8);  // zero padding after the model is no text
    EXPECT_EQ(ApplyEnclosureDescriptor(sub_.get(), EnclosureDescriptor(padded)), 48);
}

TEST_F(NamingTest, ShortDescriptorsAreRefused) {
    auto d = EnclosureDescriptor("m810");
    EXPECT_EQ(ApplyEnclosureDescriptor(sub_.get(), std::span<const uint8_t>(d.data(), 39)),
              kShortOrTooLarge);
    EXPECT_EQ(ApplyEnclosureDescriptor(sub_.get(), std::span<const uint8_t>(d.data(), 43)),
              kShortOrTooLarge);
    d[3] = 30;  // claims to be shorter than 40 bytes: still 40 are read
    EXPECT_EQ(ApplyEnclosureDescriptor(sub_.get(), std::span<const uint8_t>(d.data(), 40)),
              kUnsupportedModel);
}

TEST_F(NamingTest, RevisionWithBlanksOrZerosIsCut) {
    ApplyEnclosureDescriptor(sub_.get(), EnclosureDescriptor("m810", "1   "));
    EXPECT_STREQ(sub_->firmware_revision, "1. .");
    std::string zeros("3\0\0\0", 4);
    ApplyEnclosureDescriptor(sub_.get(), EnclosureDescriptor("m810", zeros));
    EXPECT_STREQ(sub_->firmware_revision, "3.");
}

}  // namespace
}  // namespace halvorin
