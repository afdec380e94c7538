#include "base/string_table.h"

#include <map>
#include <mutex>

namespace halvorin {

namespace {

std::mutex& LookupMutex() {
    static std::mutex mutex;
    return mutex;
}

StringLookup& Lookup() {
    static StringLookup lookup;
    return lookup;
}

const std::map<int, std::u16string>& CoreTexts() {
    static const std::map<int, std::u16string> texts = {
        {30, u"cooling device%s"},
        {35, u"temperature sensor%s"},
        {40, u"voltage sensor%s"},
        {45, u"current sensor%s"},
        {50, u"SAS expander%s"},
        {54, u"SAS connector%s"},
        {58, u"SAS zoning"},
        {61, u"SAS port %s"},
        {64, u"device slot%s"},
        {68, u"power supply%s"},
        {72, u"SAS port"},
        {110, u"%d/%d/%d %02d:%02d:%02d"},
        {111, u"%d/%d %02d:%02d:%02d"},
        {125, u"Are you sure to shutdown the device?"},
        {126,
         u"The storage device would be temporarily inaccessiable during restart. Are you sure to "
         u"restart the device?"},
        {129, u"Are you sure to upgrade the firmware?"},
        {151, u"%s-%02X%02X%02X%02X%02X%02X%02X%02X"},
        {152, u" #%d"},
        {161, u"No resource!"},
        {162, u"An invalid file path was given."},
        {163, u"An invalid file was given."},
        {164, u"Model mismatched."},
        {165, u"The firmware is being upgraded."},
        {166, u"Device disconnected."},
        {167, u"Upgrade failed!"},
        {168, u"Upgrade completes successfully."},
        {20001, u"%s of %s is below low critical threshold."},
        {20002, u"%s of %s is above high critical threshold."},
        {20003, u"%s of %s is below low warning threshold."},
        {20004, u"%s of %s is above high warning threshold."},
        {20005, u"%s of %s is below low critical threshold."},
        {20006, u"%s of %s is above high critical threshold."},
        {20007, u"%s of %s has failed."},
        {20009, u"%s of %s is unable to supply the specified D.C. power."},
        {20010, u"%s of %s is not receiving the specified A.C. power."},
        {20011, u"%s of %s has detected a temperature above safe operating range."},
        {20012, u"%s of %s has detected a temperature above normal operating range."},
        {20013, u"An overcurrent condition has been detected at %s output of %s."},
        {20014, u"An overvoltage condition has been detected at %s output of %s."},
        {20015, u"An undervoltage condition has been detected at %s output of %s."},
        {20016, u"The hot spare indicator has been turned on at %s of %s."},
        {20017, u"The in critical array indicator has been turned on at %s of %s."},
        {20018, u"The in failed array indicator has been turned on at %s of %s."},
        {20019, u"%s starts firmware upgrade."},
        {20020, u"%s completes firmware upgrade."},
        {20021, u"Firmware upgrade in %s failed."},
        {20023, u"System name was changed to %s."},
    };
    return texts;
}

}  // namespace

std::u16string CoreEnglishString(int id) {
    auto it = CoreTexts().find(id);
    return it == CoreTexts().end() ? std::u16string() : it->second;
}

void SetStringLookup(StringLookup lookup) {
    std::lock_guard lock(LookupMutex());
    Lookup() = std::move(lookup);
}

std::u16string LoadString(int id) {
    std::lock_guard lock(LookupMutex());
    return Lookup() ? Lookup()(id) : CoreEnglishString(id);
}

}  // namespace halvorin
