// A domain that never connects (its host resolves to nothing), so model tests
// can build devices, sub-enclosures and elements by hand.
#pragma once

#include <gtest/gtest.h>

#include <atomic>

#include "enclosure/model/domain_registry.h"
#include "enclosure/model/model_ref.h"

namespace halvorin::test {

class NoAddresses : public NameResolver {
  public:
    std::vector<ResolvedAddress> Resolve(const std::string&) override {
        ++calls;
        return {};
    }
    std::atomic<int> calls{0};
};

inline ClientOptions OfflineOptions(Clock* clock = &SystemClock()) {
    ClientOptions options;
    options.clock = clock;
    options.resolver = std::make_shared<NoAddresses>();
    options.computer_name = u"TEST-MANAGER";
    return options;
}

inline SES_ADDR DeviceAddress(uint8_t id_byte, uint8_t target = 0) {
    return SES_ADDR::Make(0, DeviceId{0x50, 0, 0, 0, 0, 0, 0, id_byte}, 0, target, 0);
}

inline std::array<uint8_t, 8> LogicalId(uint8_t last) {
    return {0x50, 1, 2, 3, 4, 5, 6, last};
}

class ModelTest : public ::testing::Test {
  protected:
    void SetUp() override { domain_ = registry_.Acquire(u"offline-host"); }
    void TearDown() override {
        if (domain_) registry_.Release(domain_);
    }

    // A ready device with the caller's reference adopted.
    Ref<CSesDev> NewDevice(uint8_t id_byte) {
        Ref<CSesDev> dev = Ref<CSesDev>::Adopt(AddDevice(domain_, DeviceAddress(id_byte)));
        dev->SetFlags(kDeviceReady);
        return dev;
    }

    DomainRegistry registry_{OfflineOptions()};
    CSesDomain* domain_ = nullptr;
};

}  // namespace halvorin::test
