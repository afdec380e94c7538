// Time and heap allocations to decode the full page set of an 84-bay
// enclosure: configuration with element descriptors, status, additional
// element status, thresholds and every vendor region. The pages come from
// the simulator; the decoders run on a model that already holds the
// configuration (the steady state of the one-minute refresh), and once from
// nothing (a new device).

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "base/clock.h"
#include "bench/quick_run.h"
#include "enclosure/model/domain_registry.h"
#include "enclosure/model/model_ref.h"
#include "enclosure/pages/page_decoder.h"
#include "enclosure/pages/request_kind.h"
#include "sim/ses_pages.h"
#include "sim/simulated_enclosure.h"
#include "sim/vendor_buffer.h"

namespace {
std::atomic<long> g_allocations{0};
}

void* operator new(size_t size) {
    ++g_allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    ++g_allocations;
    return std::malloc(size ? size : 1);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}

using namespace halvorin;
using Steady = std::chrono::steady_clock;

namespace {

class NoAddresses : public NameResolver {
  public:
    std::vector<ResolvedAddress> Resolve(const std::string&) override { return {}; }
};

struct PageSet {
    std::vector<uint8_t> configuration, descriptors, status, additional, thresholds;
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> regions;
};

PageSet EightyFourBay() {
    std::string error;
    auto scenario = sim::LoadScenario(
        std::string(HALVORIN_SOURCE_DIR) + "/sim/scenarios/jbod84-dual-path.json", error);
    if (!scenario) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(1);
    }
    ManualClock clock;
    sim::SimulatedEnclosure enclosure(*scenario, clock);
    PageSet set;
    set.configuration = *enclosure.ReadDiagnosticPage(0x01);
    set.descriptors = *enclosure.ReadDiagnosticPage(0x07);
    set.status = *enclosure.ReadDiagnosticPage(0x02);
    set.additional = *enclosure.ReadDiagnosticPage(0x0A);
    set.thresholds = *enclosure.ReadDiagnosticPage(0x05);
    const std::pair<uint32_t, uint32_t> kinds[] = {
        {kReadSystemName, 4}, {kReadPorts, 7},      {kReadDiskIdentities, 8},
        {kReadZones, 6},      {kReadExpanders, 10}, {kReadNominalVoltages, 9},
        {kReadUidLed, 3},     {kReadBuzzer, 2}};
    for (auto [kind, offset] : kinds)
        set.regions.push_back({kind, *enclosure.ReadVendorBuffer(offset)});
    return set;
}

void DecodeAll(CSesDev* device, const PageSet& set, int64_t now, bool configuration) {
    if (configuration) {
        DecodeReply(device, kReadElementDescriptors, static_cast<int>(set.descriptors.size()),
                    set.descriptors, static_cast<int>(set.configuration.size()), set.configuration,
                    now);
    }
    for (const auto& [kind, bytes] : set.regions) {
        DecodeReply(device, kind, static_cast<int>(bytes.size()), bytes, 0, {}, now);
    }
    DecodeReply(device, kReadEnclosureStatus, static_cast<int>(set.status.size()), set.status, 0,
                {}, now);
    DecodeReply(device, kReadAdditionalStatus, static_cast<int>(set.additional.size()),
                set.additional, 0, {}, now);
    DecodeReply(device, kReadThresholds, static_cast<int>(set.thresholds.size()), set.thresholds, 0,
                {}, now);
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = bench::TakeQuickFlag(argc, argv) ? 10 : 2000;
    const PageSet set = EightyFourBay();
    size_t bytes = set.configuration.size() + set.descriptors.size() + set.status.size() +
                   set.additional.size() + set.thresholds.size();
    for (const auto& r : set.regions)
        bytes += r.second.size();

    ClientOptions options;
    options.resolver = std::make_shared<NoAddresses>();
    options.computer_name = u"BENCH";
    DomainRegistry registry(options);
    CSesDomain* domain = registry.Acquire(u"bench");

    // A new device: everything is created.
    {
        Ref<CSesDev> device =
            Ref<CSesDev>::Adopt(AddDevice(domain, SES_ADDR::Make(0, DeviceId{1}, 0, 0, 0)));
        const long before = g_allocations;
        const auto start = Steady::now();
        DecodeAll(device.get(), set, 1'000'000, true);
        const double us = std::chrono::duration<double, std::micro>(Steady::now() - start).count();
        std::printf("84-bay page set (%zu bytes, 13 pages), new device: %.0f us, %ld allocations\n",
                    bytes, us, g_allocations - before);
        MarkDeviceRemoved(device.get());
        ReleaseDevice(device.get());
    }
    // The steady state: the model exists, a configuration reload and a refresh.
    Ref<CSesDev> device =
        Ref<CSesDev>::Adopt(AddDevice(domain, SES_ADDR::Make(0, DeviceId{2}, 0, 0, 0)));
    DecodeAll(device.get(), set, 1'000'000, true);
    for (bool configuration : {true, false}) {
        const long before = g_allocations;
        const auto start = Steady::now();
        for (int i = 0; i < rounds; ++i)
            DecodeAll(device.get(), set, 1'000'000 + 60 * (i + 1), configuration);
        const double us =
            std::chrono::duration<double, std::micro>(Steady::now() - start).count() / rounds;
        std::printf("%s: %.1f us and %.0f allocations per page set\n",
                    configuration ? "reload (configuration and everything)"
                                  : "refresh (status, vendor regions)",
                    us, static_cast<double>(g_allocations - before) / rounds);
    }
    MarkDeviceRemoved(device.get());
    ReleaseDevice(device.get());
    device.reset();
    registry.Release(domain);
    return 0;
}
