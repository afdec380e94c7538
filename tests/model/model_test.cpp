#include <gtest/gtest.h>

#include "enclosure/model/element_types.h"
#include "tests/support/model_fixture.h"

namespace halvorin {
namespace {

using test::ModelTest;

// What a configuration reload does: get or create every element the page
// names, sweep out the others, give the pass's references back.
void Reload(CSubEnc* subenc, const std::vector<std::pair<uint8_t, uint8_t>>& named, uint8_t type) {
    std::vector<Ref<CSesElem>> pass;
    std::vector<uint32_t> keys;
    for (auto [tdi, ei] : named) {
        pass.push_back(Ref<CSesElem>::Adopt(GetOrCreateElem(subenc, tdi, ei, type)));
        keys.push_back(ElementKey(tdi, ei));
    }
    SweepElements(subenc, keys);
}

TEST_F(ModelTest, ReloadWithTheSameKeysKeepsElementsHistoryAndState) {
    auto dev = NewDevice(1);
    Ref<CSubEnc> sub = Ref<CSubEnc>::Adopt(GetOrCreateSubEnc(dev.get(), 0, test::LogicalId(0)));
    Reload(sub.get(), {{0, 0}, {0, 1}}, kTypeCooling);
    CSesElem* fan = AcquireElem(sub.get(), 0, 1);
    ASSERT_NE(fan, nullptr);
    fan->state = kStateFailed;
    fan->history->Add(6000);
    fan->history->Add(6010);
    ReleaseElem(fan);

    Reload(sub.get(), {{0, 0}, {0, 1}}, kTypeCooling);
    CSesElem* again = AcquireElem(sub.get(), 0, 1);
    EXPECT_EQ(again, fan);
    EXPECT_EQ(again->state, kStateFailed);
    int16_t history[4] = {};
    int32_t updates = -1;
    EXPECT_EQ(ReadHistory(*again, history, &updates), 2u);
    EXPECT_EQ(history[0], 6000);
    EXPECT_EQ(history[1], 6010);
    ReleaseElem(again);
    EXPECT_EQ(sub->counters[kTypeCooling].count, 2);
}

TEST_F(ModelTest, ReloadWithoutATypeDropsItsElementsAndCounts) {
    auto dev = NewDevice(1);
    Ref<CSubEnc> sub = Ref<CSubEnc>::Adopt(GetOrCreateSubEnc(dev.get(), 0, test::LogicalId(0)));
    std::vector<Ref<CSesElem>> pass;
    for (auto [tdi, ei, type] :
         {std::tuple(0, 0, kTypePowerSupply), std::tuple(0, 1, kTypePowerSupply),
          std::tuple(1, 0, kTypeCooling)})
        pass.push_back(Ref<CSesElem>::Adopt(GetOrCreateElem(sub.get(), tdi, ei, type)));
    pass[1]->state = kStateFailed;
    ++sub->counters[kTypePowerSupply].failed;
    pass.clear();
    EXPECT_EQ(sub->counters[kTypePowerSupply].count, 2);
    EXPECT_EQ(sub->counters[kTypePowerSupply].failed, 1);

    Reload(sub.get(), {{1, 0}}, kTypeCooling);  // the power supplies are gone
    EXPECT_EQ(sub->counters[kTypePowerSupply].count, 0);
    EXPECT_EQ(sub->counters[kTypePowerSupply].failed, 0);  // no stale fault left behind
    EXPECT_EQ(sub->counters[kTypeCooling].count, 1);
    EXPECT_EQ(AcquireElem(sub.get(), 0, 0), nullptr);
    EXPECT_EQ(sub->elements.size(), 1u);
}

TEST_F(ModelTest, ElementHeldByAViewSurvivesReloadsThatDropIt) {
    auto dev = NewDevice(1);
    Ref<CSubEnc> sub = Ref<CSubEnc>::Adopt(GetOrCreateSubEnc(dev.get(), 0, test::LogicalId(0)));
    Reload(sub.get(), {{0, 0}, {0, 1}}, kTypeCooling);
    CSesElem* held = AcquireElem(sub.get(), 0, 1);  // a view's row
    Reload(sub.get(), {{0, 0}}, kTypeCooling);      // fan 2 leaves the configuration
    Reload(sub.get(), {{0, 0}},
           kTypeCooling);  // and a second reload must not take the view's reference
    EXPECT_EQ(held->RefCount(), 1);
    EXPECT_FALSE(held->InMap());
    EXPECT_EQ(AcquireElem(sub.get(), 0, 1), nullptr);
    EXPECT_EQ(sub->counters[kTypeCooling].count, 1);
    EXPECT_FALSE(ElementName(held).empty());  // still valid memory
    ReleaseElem(held);
    // The same key named again later is a new element.
    Reload(sub.get(), {{0, 0}, {0, 1}}, kTypeCooling);
    EXPECT_EQ(sub->counters[kTypeCooling].count, 2);
}

TEST_F(ModelTest, SubEnclosureHeldByAViewSurvivesSweepsThatDropIt) {
    auto dev = NewDevice(1);
    ReleaseSubEnc(GetOrCreateSubEnc(dev.get(), 0, test::LogicalId(0)));
    CSubEnc* held = GetOrCreateSubEnc(dev.get(), 1, test::LogicalId(1));
    SweepSubEnclosures(dev.get(), {0});
    SweepSubEnclosures(dev.get(), {0});
    EXPECT_EQ(held->RefCount(), 1);
    EXPECT_EQ(AcquireSubEnc(dev.get(), 1), nullptr);
    const int device_refs = dev->RefCount();
    ReleaseSubEnc(held);
    EXPECT_EQ(dev->RefCount(), device_refs - 1);
}

TEST_F(ModelTest, TypesFrom32UpChangeNoCounter) {
    auto dev = NewDevice(1);
    Ref<CSubEnc> sub = Ref<CSubEnc>::Adopt(GetOrCreateSubEnc(dev.get(), 0, test::LogicalId(0)));
    auto before = sub->counters;
    CSesElem* odd = GetOrCreateElem(sub.get(), 0, 0, 0x80);
    EXPECT_EQ(sub->counters, before);
    ReleaseElem(odd);
    ReleaseElem(odd);  // the map's reference: it leaves
    EXPECT_EQ(sub->counters, before);
    EXPECT_TRUE(sub->elements.empty());
}

TEST_F(ModelTest, EnclosureReachedThroughTwoDevicesIsCollectedOnce) {
    auto a = NewDevice(1);
    auto b = NewDevice(2);
    auto not_ready = NewDevice(3);
    not_ready->SetFlags(0, kDeviceReady);
    ReleaseSubEnc(GetOrCreateSubEnc(a.get(), 0, test::LogicalId(7)));
    ReleaseSubEnc(GetOrCreateSubEnc(a.get(), 1, test::LogicalId(8)));
    ReleaseSubEnc(GetOrCreateSubEnc(b.get(), 0, test::LogicalId(7)));  // the same enclosure
    ReleaseSubEnc(GetOrCreateSubEnc(not_ready.get(), 0, test::LogicalId(9)));

    std::vector<Ref<CSubEnc>> collected = CollectSubEnclosures(domain_);
    ASSERT_EQ(collected.size(), 2u);
    EXPECT_EQ(collected[0]->dev, a.get());  // under the first device
    EXPECT_EQ(collected[0]->id, 0);
    EXPECT_EQ(collected[1]->id, 1);
    collected.clear();
    EXPECT_EQ(b->subencs.at(0)->RefCount(), 1);  // the dropped duplicate's reference was given back
}

TEST_F(ModelTest, RemovedDeviceIsNotFoundWhileReferencesRemain) {
    auto dev = NewDevice(4);
    const DeviceId id = dev->Identifier();
    CSesDev* found = AcquireDevice(domain_, id);
    ASSERT_EQ(found, dev.get());
    ReleaseDevice(found);
    MarkDeviceRemoved(dev.get());
    EXPECT_EQ(AcquireDevice(domain_, id), nullptr);
    EXPECT_TRUE(SnapshotDevices(domain_).empty());
    EXPECT_TRUE(dev->IsRemoved());  // still alive: the test holds it
    ReleaseDevice(dev.get());  // the domain array's reference, as the device list gives it back
}

TEST_F(ModelTest, LastReleasesCascadeFromElementToDomain) {
    CSesDomain* extra = registry_.Acquire(u"offline-host");
    ASSERT_EQ(extra, domain_);
    const int domain_refs = domain_->RefCount();
    Ref<CSesDev> dev = NewDevice(5);
    EXPECT_EQ(domain_->RefCount(), domain_refs + 1);  // the device's reference on its domain
    CSubEnc* sub = GetOrCreateSubEnc(dev.get(), 0, test::LogicalId(0));
    EXPECT_EQ(dev->RefCount(), 3);  // array, test, sub-enclosure
    CSesElem* e = GetOrCreateElem(sub, 0, 0, kTypeTemperature);

    MarkDeviceRemoved(dev.get());  // the sub-enclosure leaves the map; the test still holds it
    EXPECT_TRUE(dev->subencs.empty());
    EXPECT_EQ(dev->RefCount(), 3);
    ReleaseElem(e);
    ReleaseSubEnc(sub);  // gone; releases the device
    EXPECT_EQ(dev->RefCount(), 2);
    ReleaseDevice(dev.get());  // the array's
    EXPECT_EQ(domain_->devices.size(), 1u);
    dev.reset();
    EXPECT_TRUE(domain_->devices.empty());
    EXPECT_EQ(domain_->RefCount(), domain_refs);
    registry_.Release(extra);
}

TEST_F(ModelTest, AddingADeviceTwiceKeepsTheFirst) {
    bool created = false;
    Ref<CSesDev> first = Ref<CSesDev>::Adopt(AddDevice(domain_, test::DeviceAddress(6), &created));
    EXPECT_TRUE(created);
    Ref<CSesDev> second =
        Ref<CSesDev>::Adopt(AddDevice(domain_, test::DeviceAddress(6, 3), &created));
    EXPECT_FALSE(created);
    EXPECT_EQ(first.get(), second.get());
    EXPECT_EQ(domain_->devices.size(), 1u);
}

TEST_F(ModelTest, ElementsOfTypeComeInElementOrder) {
    auto dev = NewDevice(1);
    Ref<CSubEnc> sub = Ref<CSubEnc>::Adopt(GetOrCreateSubEnc(dev.get(), 0, test::LogicalId(0)));
    for (uint8_t i : {5, 0, 3})
        ReleaseElem(GetOrCreateElem(sub.get(), 2, i, kTypeArrayDeviceSlot));
    ReleaseElem(GetOrCreateElem(sub.get(), 1, 0, kTypeCooling));
    auto slots = ElementsOfType(sub.get(), 2);
    ASSERT_EQ(slots.size(), 3u);
    EXPECT_EQ(slots[0]->element_index, 0);
    EXPECT_EQ(slots[2]->element_index, 5);
    EXPECT_EQ(slots[1]->RefCount(), 2);
    CSesElem* second = slots[1].get();
    slots.clear();
    EXPECT_EQ(second->RefCount(), 1);
}

TEST(HistoryRing, KeepsTheNewest1024ReadingsOldestFirst) {
    HistoryRing ring;
    for (int i = 0; i < 1030; ++i)
        ring.Add(static_cast<int16_t>(i));
    EXPECT_EQ(ring.fill(), 1024u);
    std::vector<int16_t> last(3);
    EXPECT_EQ(ring.Read(last), 3u);
    EXPECT_EQ(last, (std::vector<int16_t>{1027, 1028, 1029}));
    std::vector<int16_t> all(2000);
    EXPECT_EQ(ring.Read(all), 1024u);
    EXPECT_EQ(all[0], 6);
}

TEST_F(ModelTest, TypeDescriptorQueriesFindByTypeAndSubEnclosure) {
    auto dev = NewDevice(1);
    Ref<CSubEnc> a = Ref<CSubEnc>::Adopt(GetOrCreateSubEnc(dev.get(), 0, test::LogicalId(0)));
    Ref<CSubEnc> b = Ref<CSubEnc>::Adopt(GetOrCreateSubEnc(dev.get(), 1, test::LogicalId(1)));
    auto desc = [](uint8_t type, CSubEnc* s) {
        ELEM_TYPE_DESC d;
        d.type = type;
        d.subenc = s;
        return d;
    };
    dev->type_descs = {desc(kTypeCooling, a.get()), desc(kTypeTemperature, a.get()),
                       desc(kTypeCooling, b.get()), desc(kTypeCooling, a.get())};
    uint8_t index = 0;
    EXPECT_EQ(FindTypeDescriptor(dev.get(), a.get(), kTypeCooling, index), kOk);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(NextTypeDescriptor(dev.get(), index, a.get(), kTypeCooling, index), kOk);
    EXPECT_EQ(index, 3);
    EXPECT_EQ(NextTypeDescriptor(dev.get(), index, a.get(), kTypeCooling, index), kNotFound);
    EXPECT_EQ(index, kNoTypeDescriptor);
    EXPECT_EQ(CountTypeDescriptors(dev.get(), a.get(), kTypeCooling), 2);
    EXPECT_EQ(FindTypeDescriptor(dev.get(), b.get(), kTypeTemperature, index), kNotFound);
    ELEM_TYPE_DESC copy;
    EXPECT_EQ(TypeDescriptorAt(dev.get(), 2, copy), kOk);
    EXPECT_EQ(copy.subenc, b.get());
    EXPECT_EQ(TypeDescriptorAt(dev.get(), 4, copy), kNotFound);
}

TEST_F(ModelTest, RemovingADomainRemovesItsDevicesAndEndsItsRequests) {
    int callbacks = 0;
    int last = 0;
    ASSERT_EQ(domain_->client.Enqueue(MSG_ENUM_DEVICES, {}, 10,
                                      [&](std::span<const uint8_t>, int result) {
                                          ++callbacks;
                                          last = result;
                                      }),
              kOk);
    { auto dev = NewDevice(9); }
    EXPECT_EQ(domain_->devices.size(), 1u);
    EXPECT_EQ(registry_.Remove(domain_), kOk);
    EXPECT_EQ(callbacks, 1);
    EXPECT_EQ(last, kClosing);
    EXPECT_TRUE(domain_->devices.empty());
    EXPECT_EQ(registry_.Remove(domain_), kNotFound);
    EXPECT_EQ(domain_->client.Enqueue(MSG_ENUM_DEVICES, {}, 10, nullptr), kClosing);
}

}  // namespace
}  // namespace halvorin
