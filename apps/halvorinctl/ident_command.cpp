// halvorinctl ident: the identification LED of one slot, chosen by the
// number a person reads off the enclosure or show, by position, or by disk.

#include "apps/halvorinctl/action_support.h"

#include <algorithm>
#include <cstring>

#include "apps/halvorinctl/command.h"
#include "apps/halvorinctl/enclosure_report.h"
#include "base/utf16.h"
#include "enclosure/model/display_name.h"
#include "enclosure/model/element_types.h"

namespace halvorin::ctl {

namespace {

std::optional<int> SlotNumberOf(const std::string& word) {
    if (word.empty() || word.size() > 3 || !std::all_of(word.begin(), word.end(), ::isdigit))
        return std::nullopt;
    const int number = std::stoi(word);
    return number <= 255 ? std::optional(number) : std::nullopt;
}

std::string DiskSerial(const CSesElem* slot) {
    const char* p = reinterpret_cast<const char*>(&slot->type_data[kDiskSerial]);
    return SanitizedUtf8(std::string(p, strnlen(p, 20)));
}

// The slot the operator means: by the SES device slot number the enclosure
// and `show` report, by position in the group (--index, from 1), or by the
// serial of the disk in it (--serial). Nothing, with the reason, when no slot
// or more than one answers.
CSesElem* ChooseSlot(const ActionContext& c, const std::vector<Ref<CSesElem>>& slots,
                     const std::optional<int>& number, std::string& why) {
    std::vector<CSesElem*> found;
    for (size_t i = 0; i < slots.size(); ++i) {
        CSesElem* slot = slots[i].get();
        const bool valid = slot->data_valid & kDataValid;
        const bool chosen = c.slot_index             ? *c.slot_index == int(i) + 1
                            : !c.disk_serial.empty() ? valid && DiskSerial(slot) == c.disk_serial
                            : !c.disk_sas_address.empty()
                                ? valid && HasDiskSasAddress(slot) &&
                                      Hex(slot->disk_sas_address.data(), 8) == c.disk_sas_address
                                : valid && slot->type_data[kSlotNumber] == *number;
        if (chosen) found.push_back(slot);
    }
    if (found.size() == 1) return found[0];
    if (c.slot_index) {
        why = "--index must be 1 to " + std::to_string(slots.size());
    } else if (!c.disk_serial.empty()) {
        why = found.empty() ? "no disk with serial " + c.disk_serial
                            : "more than one disk has serial " + c.disk_serial;
    } else if (!c.disk_sas_address.empty()) {
        why = found.empty() ? "no disk with SAS address " + c.disk_sas_address
                            : "more than one disk has SAS address " + c.disk_sas_address;
    } else {
        std::string numbers;
        for (const Ref<CSesElem>& slot : slots) {
            if (!(slot->data_valid & kDataValid)) continue;
            numbers += (numbers.empty() ? "" : ",") + std::to_string(slot->type_data[kSlotNumber]);
        }
        why = (found.empty() ? "no slot numbered " : "more than one slot numbered ") +
              std::to_string(*number) + " (the slot numbers are " + numbers + ")";
    }
    return nullptr;
}

int Ident(ActionContext& c, CSubEnc* subenc) {
    const bool by_disk_or_index =
        c.slot_index || !c.disk_serial.empty() || !c.disk_sas_address.empty();
    const size_t words = by_disk_or_index ? 3 : 4;
    const std::string& state = c.words.size() == words ? c.words.back() : std::string();
    if (state != "on" && state != "off") {
        return Usage(
            "usage: ident ENCLOSURE SLOT-NUMBER on|off, or ident ENCLOSURE on|off with "
            "--index N, --serial S or --sas-address A");
    }
    std::optional<int> number;
    if (!by_disk_or_index) {
        number = SlotNumberOf(c.words[2]);
        if (!number) return Usage("a slot number is 0 to 255, not \"" + c.words[2] + "\"");
    }
    std::string why;
    CSesElem* element = ChooseSlot(c, Slots(subenc), number, why);
    if (!element) return Usage(Who(c, subenc) + ": " + why);
    const bool on = state == "on";
    const OperatorAction action = on ? OperatorAction::kSlotLedOn : OperatorAction::kSlotLedOff;
    const int result = RunOperation(
        c, action, {ElementName(element), EnclosureDisplayName(subenc)},
        [&](OperationCallback cb) { return SetSlotIdentify(element, on, std::move(cb)); });
    if (result < 0) return Failed("identify", result);
    WaitForRereads(c, subenc->dev);
    const bool lit = element->state & kStateIdentifyOn;
    const std::string serial = DiskSerial(element);
    Say(c, Printf("%s: slot %d \"%s\"%s: identification LED is %s", Who(c, subenc).c_str(),
                  element->type_data[kSlotNumber], ElementDescriptor(element).c_str(),
                  serial.empty() ? ", no disk" : (", disk " + serial).c_str(), lit ? "on" : "off"));
    c.report["slot_number"] = element->type_data[kSlotNumber];
    c.report["descriptor"] = ElementDescriptor(element);
    c.report["disk_serial"] = serial;
    c.report["identify"] = lit;
    return lit == on ? 0 : kExitOperationFailed;
}

}  // namespace

extern const Command kCommandIdent = {
    "ident",
    "  ident ENCLOSURE SLOT on|off   switch the identification LED of the slot with\n"
    "                                that SES device slot number (as show prints it)\n"
    "  ident ENCLOSURE on|off --index N | --serial S | --sas-address A\n"
    "                                the same for the Nth slot of the group, or the\n"
    "                                slot holding the disk with that serial number\n"
    "                                or SAS address\n",
    {kOptIndex, kOptSerial, kOptSasAddress, kOptJson, kOptQuiet},
    NeedsEnclosure,
    [](ManagerSession& session, const CommandLine& line) {
        return RunAction(session, line, Ident);
    },
};

}  // namespace halvorin::ctl
