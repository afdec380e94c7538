#include "tools/render_windows/render_enclosure_view.h"

#include "tools/render_windows/render_output.h"

#include <QApplication>
#include <algorithm>
#include <cstdio>

#include "enclosure/model/element_naming.h"
#include "enclosure/model/element_types.h"
#include "enclosure/model/ses_dev.h"
#include "enclosure/model/ses_domain.h"
#include "enclosure/ops/control_operations.h"
#include "tests/support/loopback_manager.h"
#include "tests/support/synthetic_mouse.h"
#include "views/elem_list_box.h"

namespace halvorin {

namespace {

constexpr int kHistoryMinutes = 120;

sim::EventSpec Event(int64_t at, sim::EventAction action, size_t element,
                     std::optional<double> value = {}) {
    sim::EventSpec event;
    event.at_seconds = at;
    event.action = action;
    event.type = action == sim::EventAction::kPowerSupplyFail ? sim::kPowerSupply
                 : action == sim::EventAction::kFanSpeed      ? sim::kCooling
                                                              : sim::kTemperatureSensor;
    event.element = element;
    event.value = value;
    return event;
}

std::optional<sim::Scenario> SceneScenario(const char* file) {
    std::string error;
    auto scenario =
        sim::LoadScenario(std::string(HALVORIN_SOURCE_DIR) + "/sim/scenarios/" + file, error);
    if (!scenario) {
        std::fprintf(stderr, "halvorin-render-windows: %s\n", error.c_str());
        return {};
    }
    // Power supply 2 fails after 40 minutes, fan 3 slows to 65 % after an
    // hour, sensor 1 runs above its high warning for the last half hour and
    // sensor 2 above its high critical threshold for the last quarter.
    scenario->events.push_back(Event(40 * 60, sim::EventAction::kPowerSupplyFail, 1));
    scenario->events.push_back(Event(60 * 60, sim::EventAction::kFanSpeed, 2, 3900));
    scenario->events.push_back(Event(90 * 60, sim::EventAction::kTemperature, 0, 64));
    scenario->events.push_back(Event(105 * 60, sim::EventAction::kTemperature, 1, 78));
    return scenario;
}

// Switches on the identification LED of the first slot from `slot` (from 0)
// that holds a disk, as the operator's click does.
bool IdentifySlot(test::LoopbackManager& manager, CSubEnc* subenc, uint8_t slot) {
    uint8_t descriptor = kNoTypeDescriptor;
    if (FindTypeDescriptor(subenc->dev, subenc, kTypeArrayDeviceSlot, descriptor) < 0) return false;
    std::vector<Ref<CSesElem>> disks = ElementsOfType(subenc, descriptor);
    auto lit = std::find_if(disks.begin() + std::min<size_t>(slot, disks.size()), disks.end(),
                            [](const Ref<CSesElem>& e) { return (e->raw_status[0] & 0x0F) != 5; });
    bool done = false;
    int result = -1;
    if (lit != disks.end()) {
        (*lit)->pending_request |= kRequestIdentifyOn;
        if (SendEnclosureControl(subenc->dev, [&](int r) { result = r, done = true; }) < 0) {
            done = false;
        } else {
            // The status page is read again after the write; the LED shows then.
            manager.PollUntil([&] { return done && manager.domain()->client.quiet(); });
        }
    }
    return done && result >= 0;
}

void ExpandAll(CElemListBox& list) {
    for (int i = list.RowCount() - 1; i >= 0; --i) {
        CItemData* row = list.Row(i);
        if ((row->flags & ROW_GROUP_HEADER) && !(row->flags & ROW_EXPANDED)) list.ToggleGroup(i);
    }
}

int FirstRowOfType(CElemListBox& list, uint8_t type) {
    for (int i = 0; i < list.RowCount(); ++i) {
        const CItemData* row = list.Row(i);
        const ElementGroup* group = GroupAt(row->group_row);
        if ((row->flags & ROW_GROUP_HEADER) && group && group->type == type) return i;
    }
    return 0;
}

void HoverRow(CElemListBox& list, int row) {
    test::HoverAt(list, QRectF(list.RowRect(row)).center());
}

bool RenderScenario(const char* file, const QString& name, const QString& prefix) {
    auto scenario = SceneScenario(file);
    if (!scenario) return false;
    test::LoopbackManager manager({*scenario});
    std::string error;
    if (!manager.Start(error)) {
        std::fprintf(stderr, "halvorin-render-windows: %s\n", error.c_str());
        return false;
    }
    if (!manager.PollUntil([&] { return manager.AllRead(scenario->devices.size()); })) {
        std::fprintf(stderr, "halvorin-render-windows: the %s model did not load\n", file);
        return false;
    }
    for (int minute = 0; minute < kHistoryMinutes; ++minute)
        manager.Advance(60);
    std::vector<Ref<CSubEnc>> subencs = CollectSubEnclosures(manager.domain());
    if (subencs.empty() || !IdentifySlot(manager, subencs.front().get(), 2)) {
        return false;
    }
    CElemListBox list(&manager.registry());
    list.resize(1460, 960);
    list.show();
    list.ShowSubEnc(subencs.front().get());
    ExpandAll(list);
    list.RefreshPass();

    bool saved = SaveWidget(list, prefix + name + "-top.png");
    list.JumpToRow(FirstRowOfType(list, kTypePowerSupply));
    HoverRow(list, FirstRowOfType(list, kTypeCooling));
    saved = saved && SaveWidget(list, prefix + name + "-sensors.png");
    list.JumpToRow(FirstRowOfType(list, kTypeTemperature));
    saved = saved && SaveWidget(list, prefix + name + "-temperature.png");
    // A narrow pane shows the newest part of each chart.
    list.resize(760, 960);
    list.JumpToRow(FirstRowOfType(list, kTypeCooling));
    saved = saved && SaveWidget(list, prefix + name + "-narrow.png");
    // The agent goes away: the last values stay, washed out, not live.
    list.resize(1460, 960);
    list.JumpToRow(0);
    manager.StopAgent();
    manager.PollUntil([&] { return manager.domain()->client.state() != kStateReady; });
    list.RefreshPass();
    saved = saved && SaveWidget(list, prefix + name + "-unreachable.png");
    return saved;
}

}  // namespace

bool RenderEnclosureViews(const QString& prefix) {
    SetElementTypeNames(ElementTypeNamesFromStrings());
    return RenderScenario("jbod24.json", "enclosure-24", prefix) &&
           RenderScenario("jbod84-dual-path.json", "enclosure-84", prefix);
}

}  // namespace halvorin
