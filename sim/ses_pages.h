// The simulator's SES diagnostic pages, written from the SES layouts (not
// from the manager's decoders, so a misreading cannot hide in shared code).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/enclosure_state.h"

namespace halvorin::sim {

inline constexpr std::array<uint8_t, 7> kSupportedPages = {0x00, 0x01, 0x02, 0x05,
                                                           0x07, 0x0A, 0x0E};

// Indexes of the visible type descriptors in the order every page lists
// them: grouped by sub-enclosure, in the order of the enclosure descriptors.
std::vector<size_t> ConfigurationOrder(const EnclosureState& state);

std::vector<uint8_t> SupportedDiagnosticPages();
std::vector<uint8_t> ConfigurationPage(const EnclosureState& state);
std::vector<uint8_t> EnclosureStatusPage(const EnclosureState& state);
std::vector<uint8_t> ThresholdInPage(const EnclosureState& state);
std::vector<uint8_t> ElementDescriptorPage(const EnclosureState& state);
std::vector<uint8_t> AdditionalElementStatusPage(const EnclosureState& state);

// The 4-byte status element of one element as the status page reports it.
std::array<uint8_t, 4> StatusElement(const EnclosureState& state, size_t type_index,
                                     size_t element_index);

// Bytes an enclosure control page must have for the current configuration.
size_t ControlPageLength(const EnclosureState& state);

}  // namespace halvorin::sim
