// Feeds arbitrary bytes to every page and vendor-region decoder. The first
// byte picks the decoder; the rest is the page. A known configuration is
// applied first so the element-shaped pages have elements to land on.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "enclosure/model/domain_registry.h"
#include "enclosure/model/model_ref.h"
#include "enclosure/pages/configuration_decoder.h"
#include "enclosure/pages/control_pages.h"
#include "enclosure/pages/status_decoders.h"
#include "enclosure/pages/vendor_regions.h"
#include "tests/support/test_pages.h"

using namespace halvorin;

namespace {

class NoAddresses : public NameResolver {
  public:
    std::vector<ResolvedAddress> Resolve(const std::string&) override { return {}; }
};

const std::vector<test::TypeDescription> kTypes = {{23, 6}, {2, 2},  {3, 2},  {4, 2},
                                                   {18, 2}, {19, 1}, {24, 1}, {7, 1}};

struct World {
    World() {
        ClientOptions options;
        options.resolver = std::make_shared<NoAddresses>();
        options.computer_name = u"FUZZ";
        registry = std::make_unique<DomainRegistry>(options);
        domain = registry->Acquire(u"fuzz");
    }
    std::unique_ptr<DomainRegistry> registry;
    CSesDomain* domain;
};

World& TheWorld() {
    static World world;
    return world;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    World& world = TheWorld();
    Ref<CSesDev> device = Ref<CSesDev>::Adopt(
        AddDevice(world.domain, SES_ADDR::Make(0, DeviceId{0x50, 0, 0, 0, 0, 0, 0, 1}, 0, 0, 0)));
    ApplyConfiguration(
        device.get(), test::ConfigurationPage(1, {{}}, kTypes),
        test::ElementDescriptorPage(
            1, kTypes, {"", "", "", "", "", "", "", "", "", "", "", "", "ONBOARD T", "+12.0V"}));
    const std::span<const uint8_t> page(data + 1, size - 1);
    switch (data[0] % 12) {
        case 0: {
            // Two pages: the first byte after the selector says where the second starts.
            const size_t split = page.empty() ? 0 : std::min<size_t>(page[0] * 4, page.size() - 1);
            ApplyConfiguration(device.get(), page.subspan(1, split),
                               page.subspan(std::min(page.size(), split + 1)));
            break;
        }
        case 1:
            ApplyEnclosureStatus(device.get(), static_cast<int>(page.size()), page, 1'000'000);
            break;
        case 2:
            ApplyThresholdIn(device.get(), page);
            break;
        case 3:
            ApplyAdditionalElementStatus(device.get(), page);
            break;
        case 4:
            ApplyDiskIdentities(device.get(), page);
            break;
        case 5:
            ApplyNominalVoltages(device.get(), page);
            break;
        case 6:
            ApplyPortEntries(device.get(), page);
            break;
        case 7:
            ApplyZoneEntries(device.get(), page);
            break;
        case 8:
            ApplyExpanderEntries(device.get(), page);
            break;
        case 9:
            ApplyIndicator(device.get(), kIndicatorBuzzer, page);
            break;
        case 10:
            ApplySystemName(device.get(), page);
            break;
        case 11: {
            DownloadStatus status;
            DecodeDownloadStatus(page, page.empty() ? 0 : page[0], status);
            BuildEnclosureControlPage(device.get());
            break;
        }
    }
    MarkDeviceRemoved(device.get());
    ReleaseDevice(device.get());  // the domain array's reference
    return 0;
}
