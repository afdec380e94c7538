// CSubEnc: one sub-enclosure of a device's configuration, and the elements
// it owns. Its mutex guards the element map, element reference counts, the
// per-type counters and the text fields. The upgrade state may be read and
// written from any thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/result_code.h"
#include "enclosure/model/ref.h"
#include "enclosure/model/ses_elem.h"

namespace halvorin {

class CSesDev;

// Capability bits.
enum Capability : uint16_t {
    kCapThresholdsFromNominal = 0x0001,  // voltage thresholds come from the nominal voltage
    kCapNoFirmwareUpgrade = 0x0002,
    kCapNoZoning = 0x0004,
    kCapStatusAfterDescriptors = 0x0008,  // gives the device flag 0x04
    kCapIdentLedControllable = 0x0010,
    kCapBuzzerMute = 0x0100,
    kCapRestart = 0x0200,
    kCapShutdown = 0x0400,
};
inline constexpr uint16_t kSupportedModelCapabilities = 0x0790;
inline constexpr uint16_t kUnsupportedModelCapabilities = 0x000F;

// Indicator bits, read from the vendor buffer.
enum Indicator : uint16_t { kIndicatorUidLed = 0x01, kIndicatorBuzzer = 0x02 };

inline constexpr int kUpgradeIdle = kClosing;  // -15: no upgrade ran

struct TypeCounter {
    uint16_t count = 0;
    uint16_t failed = 0;  // elements whose state has the failed bit
    bool operator==(const TypeCounter&) const = default;
};

class CSubEnc final : public CSesObj {
  public:
    CSubEnc(CSesDev* device, uint8_t id, const std::array<uint8_t, 8>& logical_id);
    ~CSubEnc() override;  // destroys the elements still in its map

    CSesDev* const dev;  // owner, not counted
    bool ready = true;
    const uint8_t id;  // 0 for the primary sub-enclosure
    uint8_t type_desc_count = 0;
    uint8_t vendor_text_length = 0;
    uint16_t capabilities = 0;
    uint16_t indicators = 0;
    std::array<uint8_t, 8> logical_id;
    // Text the device reports, made valid UTF-8 as it arrives (a byte that
    // is not becomes U+FFFD, three bytes): room for every byte to be one.
    char system_name[32 * 3 + 1] = {};
    char vendor[8 * 3 + 1] = {};
    char product[16 * 3 + 1] = {};
    char firmware_revision[5 * 3 + 1] = {};
    char model_text[256] = {};  // raw: compared with package and model names, never shown
    std::unordered_map<uint32_t, CSesElem*> elements;
    mutable std::mutex mutex;
    std::atomic<int> upgrade_state{kUpgradeIdle};
    std::array<TypeCounter, 32> counters{};
    uint8_t controller_number = 0;

    // False once a sweep or the device's removal took it out of the map;
    // read it under the device mutex, or on the thread that runs the poll step.
    bool InMap() const { return in_map_; }

  private:
    friend class ModelCounts;
    bool in_map_ = true;  // guarded by the device mutex
};

// ---- element references -----------------------------------------------------------

// The element with that key gains one reference; nothing when absent.
CSesElem* AcquireElem(CSubEnc* subenc, uint8_t type_desc_index, uint8_t element_index);
void RetainElem(CSesElem* element);
// At zero the element leaves the map (and the per-type counters) and is destroyed.
void ReleaseElem(CSesElem* element);

// The existing element gains a reference, or a new one enters the map (which
// holds its first reference) with one more for the caller; an existing element
// of another type is taken out of the map and replaced. A new element gets
// its default name and a history when its type keeps one; the descriptor text,
// when given, renames it. Nothing when memory runs out.
CSesElem* GetOrCreateElem(CSubEnc* subenc, uint8_t type_desc_index, uint8_t element_index,
                          uint8_t type, std::span<const uint8_t> descriptor = {});

// Takes every element whose key is not in `keep` out of the map and drops the
// map's reference: the configuration no longer has it. Whoever still holds
// one keeps it until they release it; it is destroyed then.
void SweepElements(CSubEnc* subenc, const std::vector<uint32_t>& keep);

// Every element of one type descriptor, in element index order.
std::vector<Ref<CSesElem>> ElementsOfType(CSubEnc* subenc, uint8_t type_desc_index);

// ---- copies for readers on other threads ----------------------------------------------

struct SubEncSummary {
    std::string vendor, product, firmware_revision, system_name;
    std::array<uint8_t, 8> logical_id{};
    std::array<TypeCounter, 32> counters{};
    uint16_t indicators = 0;
};
SubEncSummary SubEncInfo(const CSubEnc* subenc);

std::u16string ElementName(const CSesElem* element);
// The element's descriptor text, empty when the enclosure gives none.
std::string ElementDescriptor(const CSesElem* element);

}  // namespace halvorin
