#include "views/element_group_table.h"

#include "enclosure/model/element_types.h"
#include "views/elem_list_box.h"

namespace halvorin {

// The row kinds, each in its own file of views/rows/.
const ElementRowKind& ZoningRowKind();
const ElementRowKind& SlotRowKind();
const ElementRowKind& PowerSupplyRowKind();
const ElementRowKind& SensorRowKind();
const ElementRowKind& ExpanderRowKind();
const ElementRowKind& PortRowKind();

namespace {

constexpr uint32_t kSlotRow = ROW_SLOT | ROW_TRACK_STATUS;
constexpr uint32_t kStatusRow = ROW_VALUE_AREA | ROW_TRACK_STATUS;
constexpr uint32_t kChartRow = ROW_HAS_CHART | kStatusRow;
constexpr uint32_t kThresholdChartRow = kChartRow | ROW_THRESHOLD_SCALE;

const ElementGroup kGroups[] = {
    {0, 0, 0, 0, 2, 0, 0, 0, 0, nullptr, ValueFormat::kNone, RowSize::kTwoLines},
    {kTypeZoneEntry, 8, 100, ROW_ZONE | ROW_INDENT_LINE, 58, 59, 60, 62, 0, ZoningRowKind,
     ValueFormat::kNone, RowSize::kZoning},
    {kTypeArrayDeviceSlot, 3, 0, kSlotRow, 64, 65, 66, 67, 0, SlotRowKind, ValueFormat::kNone,
     RowSize::kSlot},
    {kTypeDeviceSlot, 3, 0, kSlotRow, 64, 65, 66, 67, 0, SlotRowKind, ValueFormat::kNone,
     RowSize::kSlot},
    {kTypePowerSupply, 7, 0, kStatusRow, 68, 69, 70, 71, 0, PowerSupplyRowKind, ValueFormat::kNone,
     RowSize::kStatusIcons},
    {kTypeCooling, 1, 120, kChartRow, 30, 31, 32, 33, 34, SensorRowKind, ValueFormat::kWholeNumber,
     RowSize::kChart},
    {kTypeTemperature, 2, 100, kThresholdChartRow, 35, 36, 37, 38, 39, SensorRowKind,
     ValueFormat::kOneDecimal, RowSize::kChart},
    {kTypeVoltage, 4, 100, kThresholdChartRow, 40, 41, 42, 43, 44, SensorRowKind,
     ValueFormat::kTwoDecimals, RowSize::kChart},
    {kTypeExpanderEntry, 6, 100, kStatusRow, 50, 51, 52, 53, 0, ExpanderRowKind, ValueFormat::kNone,
     RowSize::kTwoLines},
    {kTypePortEntry, 9, 100, 0, 72, 73, 74, 75, 0, PortRowKind, ValueFormat::kNone, RowSize::kPort},
};

}  // namespace

std::span<const ElementGroup> ElementGroupTable() {
    return kGroups;
}

const ElementGroup* GroupAt(int index) {
    if (index < 0 || size_t(index) >= std::size(kGroups)) return nullptr;
    return &kGroups[index];
}

}  // namespace halvorin
