#include "tests/pages/pages_fixture.h"

namespace halvorin {
namespace {

using test::TypeDescription;

class ConfigurationTest : public test::PagesTest {};

const std::vector<TypeDescription> kTypes = {{kTypeArrayDeviceSlot, 4, 0, "Slots"},
                                             {kTypeCooling, 2, 0, "Fans"},
                                             {kTypeTemperature, 2, 0, "Temps"}};

TEST_F(ConfigurationTest, BuildsSubEnclosuresTypeDescriptorsAndElements) {
    ASSERT_EQ(Configure(kTypes, 7, {"", "", "", "", "Fan A", "Fan B", "ONBOARD CPU", "Inlet"}),
              kOk);
    EXPECT_EQ(dev_->type_desc_count, 3);
    EXPECT_EQ(dev_->element_count, 8);
    EXPECT_EQ(dev_->generation, (std::array<uint8_t, 4>{0, 0, 0, 7}));
    ASSERT_EQ(dev_->type_descs.size(), 3u);
    EXPECT_STREQ(dev_->type_descs[1].text, "Fans");
    EXPECT_EQ(dev_->type_descs[0].flags, kTypeDescHasAdditionalStatus);
    EXPECT_EQ(dev_->type_descs[1].flags, 0);
    EXPECT_EQ(dev_->type_descs[2].subenc, Sub());
    EXPECT_EQ(Sub()->counters[kTypeArrayDeviceSlot].count, 4);
    EXPECT_EQ(ElementName(Elem(1, 0)), u"cooling device 1");  // fans keep their default names
    EXPECT_EQ(ElementName(Elem(2, 0)), u"Controller0 CPU");
    EXPECT_EQ(SubEncInfo(Sub()).firmware_revision, "2.0.7");
}

TEST_F(ConfigurationTest, PageLength43IsRefusedAnd44Decoded) {
    // One enclosure descriptor without vendor data (40 bytes) and no types: length 44.
    std::vector<TypeDescription> none;
    auto config = test::ConfigurationPage(1, {{0, 0, ""}}, none);
    EXPECT_EQ(config.size(), 48u);
    auto descriptors = test::ElementDescriptorPage(1, none);
    // An empty model text is not the supported model: the page is read, then refused for the model.
    EXPECT_EQ(ApplyConfiguration(dev_.get(), config, descriptors), kUnsupportedModel);
    config[3] = 43;
    config.pop_back();
    EXPECT_EQ(ApplyConfiguration(dev_.get(), config, descriptors), kShortOrTooLarge);
}

TEST_F(ConfigurationTest, SmallestSupportedConfigurationIsAccepted) {
    EXPECT_EQ(Configure({}), kOk);
    EXPECT_EQ(dev_->type_desc_count, 0);
    EXPECT_NE(Sub(), nullptr);
}

TEST_F(ConfigurationTest, GenerationMismatchBetweenTheTwoPagesChangesNothing) {
    ASSERT_EQ(Configure(kTypes, 1), kOk);
    auto types = kTypes;
    types.push_back({kTypePowerSupply, 2});
    EXPECT_EQ(ApplyConfiguration(dev_.get(), test::ConfigurationPage(2, {{}}, types),
                                 test::ElementDescriptorPage(3, types)),
              kGenerationChanged);
    EXPECT_EQ(dev_->type_desc_count, 3);
    EXPECT_EQ(dev_->generation[3], 1);
    EXPECT_EQ(Sub()->counters[kTypePowerSupply].count, 0);
}

TEST_F(ConfigurationTest, ReloadKeepsElementsAndDropsARemovedType) {
    ASSERT_EQ(Configure(kTypes, 1), kOk);
    CSesElem* fan = Elem(1, 1);
    fan->history->Add(4200);
    fan->state = kStateFailed;
    std::vector<TypeDescription> without_slots = {{kTypeCooling, 2, 0, "Fans"},
                                                  {kTypeTemperature, 2, 0, "Temps"}};
    // The fans are now type descriptor 0: a new key, a new element.
    ASSERT_EQ(Configure(without_slots, 2), kOk);
    EXPECT_EQ(Sub()->counters[kTypeArrayDeviceSlot].count, 0);
    EXPECT_EQ(Sub()->counters[kTypeCooling].count, 2);
    ASSERT_EQ(Configure(without_slots, 3), kOk);
    CSesElem* same = Elem(0, 1);
    same->history->Add(4300);
    ASSERT_EQ(Configure(without_slots, 4), kOk);
    EXPECT_EQ(Elem(0, 1), same);
    EXPECT_EQ(same->history->fill(), 1u);
}

TEST_F(ConfigurationTest, UnsupportedModelRefusesThePageAndShowsNoEnclosure) {
    ASSERT_EQ(Configure(kTypes, 1, {}, {{0, 0, "m410"}}), kUnsupportedModel);
    EXPECT_TRUE(dev_->type_descs.empty());
    dev_->SetFlags(kDeviceReady);
    auto collected = CollectSubEnclosures(domain_);
    for (const Ref<CSubEnc>& s : collected)
        EXPECT_TRUE(s->elements.empty());
}

TEST_F(ConfigurationTest, OrdinalsCountSameTypeDescriptorsPerSubEnclosure) {
    std::vector<TypeDescription> types = {{kTypeTemperature, 1, 0},
                                          {kTypeCooling, 1, 0},
                                          {kTypeTemperature, 1, 0},
                                          {kTypeTemperature, 1, 1}};
    ASSERT_EQ(Configure(types, 1, {}, {{0, 0}, {1, 1}}), kOk);
    EXPECT_EQ(dev_->type_descs[0].ordinal, 1);
    EXPECT_EQ(dev_->type_descs[1].ordinal, 0);
    EXPECT_EQ(dev_->type_descs[2].ordinal, 2);
    EXPECT_EQ(dev_->type_descs[3].ordinal, 0);  // the only one in sub-enclosure 1
    EXPECT_EQ(dev_->type_descs[3].subenc, Sub(1));
}

TEST_F(ConfigurationTest, MalformedConfigurationsAreRefusedWithoutChanges) {
    ASSERT_EQ(Configure(kTypes, 1), kOk);
    auto good = test::ConfigurationPage(1, {{}}, kTypes);
    auto descriptors = test::ElementDescriptorPage(1, kTypes);
    struct Case {
        const char* what;
        std::vector<uint8_t> config, descriptors;
        int expected;
    };
    std::vector<Case> cases;
    {
        auto c = good;
        c.resize(c.size() - 1);  // shorter than its length says
        cases.push_back({"truncated", c, descriptors, kShortOrTooLarge});
    }
    {
        auto c = good;
        c[8 + 2] = 40;  // the descriptor announces 40 type headers that are not there
        cases.push_back({"headers beyond the page", c, descriptors, kShortOrTooLarge});
    }
    {
        auto c = good;
        c[8 + 3] = 200;  // an enclosure descriptor longer than the page
        cases.push_back({"descriptor beyond the page", c, descriptors, kShortOrTooLarge});
    }
    {
        auto c = good;
        c[8 + 44 + 2] = 9;  // a type descriptor naming sub-enclosure 9
        cases.push_back({"unknown sub-enclosure", c, descriptors, kGeneralFailure});
    }
    {
        auto c = good;
        c[8 + 44 + 3] = 250;  // its text runs past the end
        cases.push_back({"text beyond the page", c, descriptors, kShortOrTooLarge});
    }
    {
        auto d = descriptors;
        d.resize(d.size() - 2);
        test::SetLength(d);
        cases.push_back({"descriptors cut short", good, d, kShortOrTooLarge});
    }
    {
        auto d = descriptors;
        d[8 + 4 + 5 + 2] = 0xFF;  // the first slot's text claims 65280 bytes
        cases.push_back({"descriptor length lies", good, d, kShortOrTooLarge});
    }
    cases.push_back({"tiny", {1, 0, 0}, descriptors, kShortOrTooLarge});
    for (const Case& c : cases) {
        EXPECT_EQ(ApplyConfiguration(dev_.get(), c.config, c.descriptors), c.expected) << c.what;
        EXPECT_EQ(dev_->type_desc_count, 3) << c.what;
        EXPECT_EQ(Sub()->counters[kTypeArrayDeviceSlot].count, 4) << c.what;
    }
}

TEST_F(ConfigurationTest, MoreThan252TypeDescriptorsAreRefused) {
    std::vector<TypeDescription> many(253, TypeDescription{kTypeCooling, 0});
    auto config = test::ConfigurationPage(1, {{}}, many);
    EXPECT_EQ(ApplyConfiguration(dev_.get(), config, test::ElementDescriptorPage(1, many)),
              kShortOrTooLarge);
    many.resize(252);
    EXPECT_EQ(Configure(many), kOk);
}

}  // namespace
}  // namespace halvorin
