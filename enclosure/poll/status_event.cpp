#include "enclosure/poll/status_event.h"

#include "base/string_table.h"
#include "base/text_format.h"
#include "enclosure/model/display_name.h"
#include "enclosure/model/element_types.h"
#include "enclosure/model/ses_dev.h"
#include "enclosure/poll/event_rule.h"

namespace halvorin {

namespace {

constexpr int kNumberSuffix = 152;  // " #%d"

}  // namespace

int GroupTitleId(uint8_t type) {
    switch (type) {
        case kTypeZoneEntry:
            return 58;
        case kTypeArrayDeviceSlot:
        case kTypeDeviceSlot:
            return 64;
        case kTypePowerSupply:
            return 68;
        case kTypeCooling:
            return 30;
        case kTypeTemperature:
            return 35;
        case kTypeVoltage:
            return 40;
        case kTypeExpanderEntry:
            return 50;
        case kTypePortEntry:
            return 72;
        default:
            return 0;
    }
}

std::optional<StatusEvent> DescribeStatusEvent(CSesElem* element, uint32_t state_bit) {
    CSubEnc* subenc = element->subenc;
    ELEM_TYPE_DESC descriptor;
    if (TypeDescriptorAt(subenc->dev, element->type_desc_index, descriptor) != kOk)
        return std::nullopt;
    const int title = GroupTitleId(descriptor.type);
    if (title == 0) return std::nullopt;
    const auto rule = FindEventRule(state_bit);
    if (!rule) return std::nullopt;

    const std::u16string suffix =
        descriptor.ordinal != 0
            ? FormatString(LoadString(kNumberSuffix), {int64_t{descriptor.ordinal}})
            : u"";
    const std::u16string label = FormatString(LoadString(title), {suffix});
    const std::u16string name = ToLower(ElementName(element));
    StatusEvent event;
    event.level = rule->level;
    event.source = EnclosureDisplayName(subenc);
    event.text = CapitalizeFirst(FormatString(LoadString(rule->message_id), {name, label}));
    return event;
}

}  // namespace halvorin
