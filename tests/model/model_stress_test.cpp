// Reference counting under load: reader threads acquire and release elements
// and sub-enclosures while the poll-thread side reloads configurations and
// removes devices. Run it under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "enclosure/model/element_types.h"
#include "tests/support/model_fixture.h"

namespace halvorin {
namespace {

using ModelStress = test::ModelTest;

TEST_F(ModelStress, ReadersAndReloadsAndRemovalsAgreeOnEveryCount) {
    const unsigned kReaders = 3;
    std::atomic<bool> done{false};
    std::atomic<long> reads{0};
    auto reader = [&](unsigned seed) {
        std::mt19937 random(seed);
        while (!done) {
            std::vector<Ref<CSubEnc>> subs = CollectSubEnclosures(domain_);
            for (const Ref<CSubEnc>& s : subs) {
                auto elements = ElementsOfType(s.get(), static_cast<uint8_t>(random() % 3));
                for (const Ref<CSesElem>& e : elements)
                    reads += ElementName(e.get()).size() > 0;
                SubEncInfo(s.get());
            }
        }
    };
    std::vector<std::thread> readers;
    for (unsigned i = 0; i < kReaders; ++i)
        readers.emplace_back(reader, i);

    std::mt19937 random(42);
    // At least 300 rounds, and on until a reader has run at all: on a busy
    // machine the readers may not be scheduled before the first 300 are done.
    for (int round = 0; round < 300 || (reads.load() == 0 && round < 1'000'000); ++round) {
        const uint8_t id = static_cast<uint8_t>(random() % 4);
        Ref<CSesDev> dev = Ref<CSesDev>::Adopt(AddDevice(domain_, test::DeviceAddress(id)));
        dev->SetFlags(kDeviceReady);
        // A reload with a random subset of types and elements, then the sweep.
        std::vector<Ref<CSubEnc>> pass_subs;
        std::vector<uint8_t> sub_ids;
        for (uint8_t s = 0; s < 2; ++s) {
            if (random() % 4 == 0) continue;  // sometimes a sub-enclosure leaves
            CSubEnc* sub =
                GetOrCreateSubEnc(dev.get(), s, test::LogicalId(static_cast<uint8_t>(id * 2 + s)));
            pass_subs.push_back(Ref<CSubEnc>::Adopt(sub));
            sub_ids.push_back(s);
            std::vector<Ref<CSesElem>> pass_elements;
            std::vector<uint32_t> keys;
            for (uint8_t t = 0; t < 3; ++t) {
                if (random() % 3 == 0) continue;
                const uint8_t count = static_cast<uint8_t>(1 + random() % 6);
                for (uint8_t e = 0; e < count; ++e) {
                    pass_elements.push_back(
                        Ref<CSesElem>::Adopt(GetOrCreateElem(sub, t, e, kTypeCooling)));
                    keys.push_back(ElementKey(t, e));
                }
            }
            SweepElements(sub, keys);
        }
        SweepSubEnclosures(dev.get(), sub_ids);
        pass_subs.clear();
        if (random() % 5 == 0) {
            MarkDeviceRemoved(dev.get());
            ReleaseDevice(dev.get());  // the array's reference
        }
    }
    done = true;
    for (auto& t : readers)
        t.join();
    EXPECT_GT(reads.load(), 0);
    // Every surviving sub-enclosure's counters match its elements.
    for (const Ref<CSesDev>& dev : SnapshotDevices(domain_)) {
        for (const Ref<CSubEnc>& sub : SnapshotSubEnclosures(dev.get())) {
            {
                std::lock_guard lock(sub->mutex);
                EXPECT_EQ(sub->counters[kTypeCooling].count, sub->elements.size());
                for (auto& [key, e] : sub->elements)
                    EXPECT_EQ(e->RefCount(), 1);
            }
            EXPECT_EQ(sub->RefCount(), 2);  // the map's and this snapshot's
        }
    }
}

}  // namespace
}  // namespace halvorin
