#include "sim/ses_pages.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "base/byte_order.h"
#include "sim/sensor_model.h"

namespace halvorin::sim {

namespace {

// Element status codes (byte 0, bits 3..0).
constexpr uint8_t kCodeOk = 0x01;
constexpr uint8_t kCodeCritical = 0x02;
constexpr uint8_t kCodeNoncritical = 0x03;
constexpr uint8_t kCodeNotInstalled = 0x05;

constexpr uint8_t kProtocolSas = 0x06;
constexpr uint8_t kEip = 0x10;

// Grows a page and fills in its length field (bytes 2..3) at the end.
class PageBuilder {
  public:
    explicit PageBuilder(uint8_t page_code, uint8_t byte1 = 0) : bytes_{page_code, byte1, 0, 0} {}
    void u8(uint8_t v) { bytes_.push_back(v); }
    void be16(uint16_t v) { bytes_.insert(bytes_.end(), {uint8_t(v >> 8), uint8_t(v)}); }
    void be32(uint32_t v) {
        bytes_.insert(bytes_.end(),
                      {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
    }
    void raw(const uint8_t* p, size_t n) { bytes_.insert(bytes_.end(), p, p + n); }
    template <size_t N>
    void raw(const std::array<uint8_t, N>& a) {
        raw(a.data(), N);
    }
    // Text in a fixed field, blank padded (SCSI ASCII fields).
    void padded(const std::string& text, size_t width) {
        for (size_t i = 0; i < width; ++i)
            bytes_.push_back(i < text.size() ? uint8_t(text[i]) : ' ');
    }
    void text(const std::string& t) { bytes_.insert(bytes_.end(), t.begin(), t.end()); }
    size_t size() const { return bytes_.size(); }
    uint8_t& at(size_t i) { return bytes_[i]; }
    std::vector<uint8_t> Finish() {
        put_be16(&bytes_[2], static_cast<uint32_t>(bytes_.size() - 4));
        return std::move(bytes_);
    }

  private:
    std::vector<uint8_t> bytes_;
};

bool IsSlot(uint8_t type) {
    return type == kDeviceSlot || type == kArrayDeviceSlot;
}

uint8_t WorstCode(uint8_t a, uint8_t b) {
    auto rank = [](uint8_t code) {
        switch (code) {
            case kCodeCritical:
                return 3;
            case kCodeNoncritical:
                return 2;
            case kCodeOk:
                return 1;
            default:
                return 0;
        }
    };
    return rank(a) >= rank(b) ? a : b;
}

uint8_t ClampByte(double v) {
    return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}
uint16_t ClampWord(double v) {
    return static_cast<uint16_t>(std::clamp(std::lround(v), 0L, 65535L));
}

std::array<uint8_t, 4> SlotStatus(const TypeState& type, const ElementState& e) {
    std::array<uint8_t, 4> s{};
    s[0] = e.disk ? kCodeOk : kCodeNotInstalled;
    if (type.type == kDeviceSlot) {
        s[1] = e.described.slot_number;  // SLOT ADDRESS
    } else if (e.disk && !e.fault_requested) {
        s[1] = 0x80;  // OK
    }
    if (e.ident) s[2] |= 0x02;            // IDENT
    if (e.fault_requested) s[3] |= 0x20;  // FAULT REQSTD
    return s;
}

std::array<uint8_t, 4> PowerSupplyStatus(const ElementState& e) {
    std::array<uint8_t, 4> s{kCodeOk, 0, 0, 0x20};  // RQSTED ON
    if (e.ident) s[1] |= 0x80;
    if (e.failed) s[3] |= 0x40;   // FAIL
    if (e.ac_fail) s[3] |= 0x02;  // AC FAIL
    if (e.dc_fail) s[3] |= 0x01;  // DC FAIL
    if (e.failed || e.ac_fail || e.dc_fail) s[0] = kCodeCritical;
    return s;
}

std::array<uint8_t, 4> CoolingStatus(const ElementState& e, double rpm) {
    const uint16_t speed = static_cast<uint16_t>(std::clamp(std::lround(rpm / 10), 0L, 0x7FFL));
    std::array<uint8_t, 4> s{kCodeOk, uint8_t(speed >> 8), uint8_t(speed), 0};
    if (e.ident) s[1] |= 0x80;
    if (e.failed || e.stopped) {
        s[0] = kCodeCritical;
        s[3] = 0x40;  // FAIL, speed code 0: stopped
    } else {
        s[3] = 0x20 | 0x03;  // RQSTED ON, a middle speed code
    }
    return s;
}

// A mini-SAS HD 4x receptacle over all its phys (physical link 0xFF), as
// most JBOD connectors report; FAIL is byte 3 bit 6.
std::array<uint8_t, 4> SasConnectorStatus(const ElementState& e) {
    constexpr uint8_t kMiniSasHd4x = 0x05;
    constexpr uint8_t kAllPhys = 0xFF;
    std::array<uint8_t, 4> s{kCodeOk, kMiniSasHd4x, kAllPhys, 0};
    if (e.ident) s[1] |= 0x80;
    if (e.failed) {
        s[0] = kCodeCritical;
        s[3] |= 0x40;
    }
    return s;
}

// Temperatures compare in degrees with the raw thresholds (degrees + 20).
std::array<uint8_t, 4> TemperatureStatus(const TypeState& type, const ElementState& e,
                                         double celsius) {
    std::array<uint8_t, 4> s{kCodeOk, 0, ClampByte(celsius + 20), 0};
    if (e.ident) s[1] |= 0x80;
    const Thresholds& t = type.thresholds;
    const double raw = celsius + 20;
    if (t.high_critical && raw >= t.high_critical)
        s[3] |= 0x08;  // OT FAILURE
    else if (t.high_warning && raw >= t.high_warning)
        s[3] |= 0x04;  // OT WARNING
    if (t.low_critical && raw <= t.low_critical)
        s[3] |= 0x02;  // UT FAILURE
    else if (t.low_warning && raw <= t.low_warning)
        s[3] |= 0x01;  // UT WARNING
    if (s[3] & 0x0A)
        s[0] = kCodeCritical;
    else if (s[3] & 0x05)
        s[0] = kCodeNoncritical;
    return s;
}

// Voltages and currents compare in 0.5 % steps of their nominal value.
std::array<uint8_t, 4> ElectricalStatus(const TypeState& type, const ElementState& e,
                                        double value) {
    const uint16_t hundredths = ClampWord(value * 100);
    std::array<uint8_t, 4> s{kCodeOk, 0, uint8_t(hundredths >> 8), uint8_t(hundredths)};
    if (e.ident) s[1] |= 0x80;
    const double nominal = e.described.nominal;
    if (nominal > 0) {
        const double deviation = (value - nominal) / nominal * 200;  // in 0.5 % steps
        const Thresholds& t = type.thresholds;
        if (t.high_critical && deviation >= t.high_critical)
            s[1] |= 0x02;  // CRIT OVER
        else if (t.high_warning && deviation >= t.high_warning)
            s[1] |= 0x08;  // WARN OVER
        if (type.type == kVoltageSensor) {
            if (t.low_critical && -deviation >= t.low_critical)
                s[1] |= 0x01;  // CRIT UNDER
            else if (t.low_warning && -deviation >= t.low_warning)
                s[1] |= 0x04;  // WARN UNDER
        }
    }
    if (s[1] & 0x03)
        s[0] = kCodeCritical;
    else if (s[1] & 0x0C)
        s[0] = kCodeNoncritical;
    return s;
}

// Additional element status applies to these types (SES: EIP descriptors).
bool HasAdditionalStatus(uint8_t type) {
    return type == kDeviceSlot || type == kArrayDeviceSlot || type == kEscElectronics ||
           type == kScsiTargetPort || type == kScsiInitiatorPort || type == kSasExpander;
}

void AppendProtocolInfo(PageBuilder& page, const TypeState& type, const ElementState& e,
                        const SasAddress& expander_address) {
    if (IsSlot(type.type)) {
        page.u8(1);     // one phy descriptor
        page.u8(0x00);  // descriptor type 0, all phys
        page.u8(0);
        page.u8(e.described.slot_number);
        // Phy descriptor: device type end device (1) with SSP target when a disk is there.
        page.u8(e.disk ? 0x10 : 0x00);
        page.u8(0);
        page.u8(0);
        page.u8(e.disk ? 0x08 : 0x00);
        page.raw(expander_address);  // attached SAS address
        SasAddress disk_address{};
        if (e.disk) {
            disk_address = {0x50, 0x00, 0xC5, 0x00, 0x00, 0x00, 0x10, e.described.slot_number};
        }
        page.raw(disk_address);
        page.u8(e.described.slot_number);  // phy identifier
        for (int i = 0; i < 7; ++i)
            page.u8(0);
    } else if (type.type == kSasExpander) {
        page.u8(e.described.phys);
        page.u8(0x40);  // descriptor type 1
        page.u8(0);
        page.u8(0);
        page.raw(e.described.sas_address);
        for (int i = 0; i < e.described.phys; ++i) {
            page.u8(0xFF);  // connector element index: none
            page.u8(0xFF);  // other element index: none
        }
    } else {
        page.u8(0);     // no phy descriptors
        page.u8(0x40);  // descriptor type 1
        page.u8(0);
        page.u8(0);
    }
}

SasAddress FirstExpanderAddress(const EnclosureState& state) {
    for (const TypeState& t : state.types) {
        if (t.type == kSasExpander && !t.elements.empty())
            return t.elements[0].described.sas_address;
    }
    return {};
}

}  // namespace

std::vector<size_t> ConfigurationOrder(const EnclosureState& state) {
    std::vector<size_t> ordered;
    const std::vector<size_t> visible = state.VisibleTypes();
    for (const SubEnclosureSpec& sub : state.subenclosures) {
        for (size_t i : visible) {
            if (state.types[i].subenclosure == sub.id) ordered.push_back(i);
        }
    }
    return ordered;
}

std::vector<uint8_t> SupportedDiagnosticPages() {
    PageBuilder page(0x00);
    page.raw(kSupportedPages);
    return page.Finish();
}

std::vector<uint8_t> ConfigurationPage(const EnclosureState& state) {
    const std::vector<size_t> visible = state.VisibleTypes();
    PageBuilder page(0x01, static_cast<uint8_t>(state.subenclosures.size() - 1));
    page.be32(state.generation);
    for (const SubEnclosureSpec& sub : state.subenclosures) {
        const auto headers = std::count_if(visible.begin(), visible.end(), [&](size_t i) {
            return state.types[i].subenclosure == sub.id;
        });
        page.u8(0x11);  // one enclosure services process, this one
        page.u8(sub.id);
        page.u8(static_cast<uint8_t>(headers));
        page.u8(static_cast<uint8_t>(36 + sub.model.size()));  // descriptor length - 4
        page.raw(sub.logical_id);
        page.padded(sub.vendor, 8);
        page.padded(sub.product, 16);
        page.padded(sub.revision, 4);
        page.text(sub.model);
    }
    const std::vector<size_t> ordered = ConfigurationOrder(state);
    for (size_t i : ordered) {
        const TypeState& t = state.types[i];
        page.u8(t.type);
        page.u8(static_cast<uint8_t>(t.elements.size()));
        page.u8(t.subenclosure);
        page.u8(static_cast<uint8_t>(t.text.size()));
    }
    for (size_t i : ordered)
        page.text(state.types[i].text);
    return page.Finish();
}

std::array<uint8_t, 4> StatusElement(const EnclosureState& state, size_t type_index,
                                     size_t element_index) {
    const TypeState& type = state.types[type_index];
    const ElementState& e = type.elements[element_index];
    switch (type.type) {
        case kDeviceSlot:
        case kArrayDeviceSlot:
            return SlotStatus(type, e);
        case kPowerSupply:
            return PowerSupplyStatus(e);
        case kCooling:
            return CoolingStatus(e, SensorReading(state, type_index, element_index));
        case kTemperatureSensor:
            return TemperatureStatus(type, e, SensorReading(state, type_index, element_index));
        case kVoltageSensor:
        case kCurrentSensor:
            return ElectricalStatus(type, e, SensorReading(state, type_index, element_index));
        case kSasConnector:
            return SasConnectorStatus(e);
        default: {
            std::array<uint8_t, 4> s{kCodeOk, 0, 0, 0};
            if (e.ident) s[1] |= 0x80;
            return s;
        }
    }
}

std::vector<uint8_t> EnclosureStatusPage(const EnclosureState& state) {
    PageBuilder page(0x02);
    page.be32(state.generation);
    uint8_t worst = kCodeOk;
    for (size_t ti : ConfigurationOrder(state)) {
        const TypeState& type = state.types[ti];
        const size_t overall = page.size();
        page.raw(std::array<uint8_t, 4>{kCodeOk, 0, 0, 0});
        uint8_t type_worst = kCodeOk;
        for (size_t ei = 0; ei < type.elements.size(); ++ei) {
            auto status = StatusElement(state, ti, ei);
            type_worst = WorstCode(type_worst, status[0] & 0x0F);
            page.raw(status);
        }
        page.at(overall) = type_worst;
        worst = WorstCode(worst, type_worst);
    }
    if (worst == kCodeCritical) page.at(1) |= 0x02;     // CRIT
    if (worst == kCodeNoncritical) page.at(1) |= 0x04;  // NON-CRIT
    return page.Finish();
}

std::vector<uint8_t> ThresholdInPage(const EnclosureState& state) {
    PageBuilder page(0x05);
    page.be32(state.generation);
    for (size_t ti : ConfigurationOrder(state)) {
        const TypeState& type = state.types[ti];
        const Thresholds& t = type.thresholds;
        const std::array<uint8_t, 4> bytes{t.high_critical, t.high_warning, t.low_warning,
                                           t.low_critical};
        for (size_t i = 0; i <= type.elements.size(); ++i)
            page.raw(bytes);  // overall, then each
    }
    return page.Finish();
}

std::vector<uint8_t> ElementDescriptorPage(const EnclosureState& state) {
    PageBuilder page(0x07);
    page.be32(state.generation);
    auto descriptor = [&](const std::string& text) {
        page.u8(0);
        page.u8(0);
        page.be16(static_cast<uint16_t>(text.size()));
        page.text(text);
    };
    for (size_t ti : ConfigurationOrder(state)) {
        const TypeState& type = state.types[ti];
        descriptor(type.text);  // overall descriptor
        for (const ElementState& e : type.elements)
            descriptor(e.described.descriptor);
    }
    return page.Finish();
}

std::vector<uint8_t> AdditionalElementStatusPage(const EnclosureState& state) {
    PageBuilder page(0x0A);
    page.be32(state.generation);
    const SasAddress expander = FirstExpanderAddress(state);
    // Element indexes count the individual elements of every type before this
    // one (EIIOE = 0: overall elements are not counted).
    size_t element_index = 0;
    for (size_t ti : ConfigurationOrder(state)) {
        const TypeState& type = state.types[ti];
        if (!HasAdditionalStatus(type.type)) {
            element_index += type.elements.size();
            continue;
        }
        for (const ElementState& e : type.elements) {
            const size_t start = page.size();
            page.u8(kEip | kProtocolSas);
            page.u8(0);  // length, filled below
            page.u8(0);  // EIIOE = 0
            page.u8(static_cast<uint8_t>(element_index++));
            AppendProtocolInfo(page, type, e, expander);
            page.at(start + 1) = static_cast<uint8_t>(page.size() - start - 2);
        }
    }
    return page.Finish();
}

size_t ControlPageLength(const EnclosureState& state) {
    size_t length = 8;
    for (size_t ti : state.VisibleTypes())
        length += (state.types[ti].elements.size() + 1) * 4;
    return length;
}

}  // namespace halvorin::sim
