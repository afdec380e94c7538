// A transport with simulated enclosures on a manual clock, and small helpers
// to run commands on them through the real retry rules.
#pragma once

#include <gtest/gtest.h>

#include "base/byte_order.h"
#include "base/clock.h"
#include "enclosure/scsi/scsi_transport.h"
#include "sim/sim_host.h"

namespace halvorin::test {

inline std::string ScenarioPath(const std::string& name) {
    return std::string(HALVORIN_SOURCE_DIR) + "/sim/scenarios/" + name;
}

inline sim::Scenario LoadShippedScenario(const std::string& name) {
    std::string error;
    auto scenario = sim::LoadScenario(ScenarioPath(name), error);
    EXPECT_TRUE(scenario) << error;
    return scenario.value_or(sim::Scenario{});
}

inline sim::Scenario ScenarioFromJson(const std::string& json) {
    std::string error;
    auto scenario = sim::ParseScenario(json, error);
    EXPECT_TRUE(scenario) << error;
    return scenario.value_or(sim::Scenario{});
}

class SimFixture {
  public:
    explicit SimFixture(sim::Scenario scenario) : host_(std::make_shared<sim::SimHost>()) {
        enclosure_ = std::make_shared<sim::SimulatedEnclosure>(std::move(scenario), clock_);
        adapter_ = host_->Add(enclosure_);
        transport_.AddHost(host_);
    }

    SES_ADDR Device(size_t index = 0) const {
        const sim::DeviceSpec& d = enclosure_->scenario().devices.at(index);
        return SES_ADDR::Make(adapter_, d.id, d.path_id, d.target_id, d.lun);
    }

    // Data-in command; the bytes, or an empty vector and the code in `result`.
    std::vector<uint8_t> In(const Cdb& cdb, int* result = nullptr, size_t device = 0,
                            uint32_t timeout_s = 30) {
        std::vector<uint8_t> buffer(65535);
        const int n = transport_.PassThroughIn(Device(device), cdb, buffer, timeout_s);
        if (result) *result = n;
        buffer.resize(n > 0 ? n : 0);
        return buffer;
    }
    int Out(const Cdb& cdb, const std::vector<uint8_t>& data, size_t device = 0) {
        return transport_.PassThroughOut(Device(device), cdb, data, 30);
    }

    std::vector<uint8_t> Page(uint8_t page, int* result = nullptr) {
        return In(Cdb{0x1C, 0x01, page, 0xFF, 0xFF}, result);
    }
    int SendPage(const std::vector<uint8_t>& page) {
        Cdb cdb{0x1D, 0x10, page[0]};
        put_be16(&cdb[3], static_cast<uint32_t>(page.size()));
        return Out(cdb, page);
    }
    std::vector<uint8_t> Vendor(uint8_t offset, uint32_t allocation = 4096, int* result = nullptr) {
        Cdb cdb{0x3C, 0x01, 0xE9, 0, 0, offset};
        put_be24(&cdb[6], allocation);
        return In(cdb, result);
    }
    int WriteVendor(uint8_t offset, const std::vector<uint8_t>& data) {
        Cdb cdb{0x3B, 0x01, 0xE9, 0, 0, offset};
        put_be24(&cdb[6], static_cast<uint32_t>(data.size()));
        return Out(cdb, data);
    }

    ManualClock clock_;
    std::shared_ptr<sim::SimHost> host_;
    std::shared_ptr<sim::SimulatedEnclosure> enclosure_;
    ScsiTransport transport_;
    uint32_t adapter_ = 0;
};

// Offset of a type descriptor's first element in a status-shaped page, in
// configuration order (each type: one overall element, then its elements).
inline size_t ElementOffset(const std::vector<uint8_t>& config, size_t type_index, size_t element) {
    const size_t secondaries = config[1];
    size_t at = 8;
    for (size_t i = 0; i <= secondaries; ++i)
        at += config[at + 3] + 4;
    size_t offset = 8;
    for (size_t t = 0; t < type_index; ++t)
        offset += (config[at + 4 * t + 1] + 1) * 4;
    return offset + 4 + element * 4;
}

}  // namespace halvorin::test
