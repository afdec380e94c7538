#include "tools/render_windows/render_enclosure_actions.h"

#include <QApplication>
#include <cstdio>

#include "enclosure/model/element_naming.h"
#include "enclosure/model/element_types.h"
#include "enclosure/model/ses_dev.h"
#include "enclosure/model/ses_domain.h"
#include "enclosure/model/zone_bits.h"
#include "tests/support/loopback_manager.h"
#include "tests/support/synthetic_mouse.h"
#include "tools/render_windows/render_output.h"
#include "views/elem_list_box.h"
#include "views/zoning_layout.h"

namespace halvorin {

namespace {

class Scene {
  public:
    bool Start(const char* file) {
        std::string error;
        auto scenario =
            sim::LoadScenario(std::string(HALVORIN_SOURCE_DIR) + "/sim/scenarios/" + file, error);
        if (!scenario) return Fail(error);
        manager_ = std::make_unique<test::LoopbackManager>(std::vector{*scenario});
        if (!manager_->Start(error)) return Fail(error);
        if (!manager_->PollUntil([&] { return manager_->AllRead(scenario->devices.size()); }))
            return Fail(std::string(file) + " did not load");
        std::vector<Ref<CSubEnc>> subencs = CollectSubEnclosures(manager_->domain());
        if (subencs.empty()) return Fail("no enclosure");
        subenc_ = subencs.front();
        list_ = std::make_unique<CElemListBox>(&manager_->registry());
        return true;
    }
    CElemListBox& list() { return *list_; }
    CSubEnc* subenc() { return subenc_.get(); }
    void Show(int width, int height) {
        list_->resize(width, height);
        list_->show();
        list_->ShowSubEnc(subenc_.get());
    }

  private:
    static bool Fail(const std::string& why) {
        std::fprintf(stderr, "halvorin-render-windows: %s\n", why.c_str());
        return false;
    }
    std::unique_ptr<test::LoopbackManager> manager_;
    Ref<CSubEnc> subenc_;
    std::unique_ptr<CElemListBox> list_;
};

bool RenderPanel(const QString& prefix) {
    Scene scene;
    if (!scene.Start("jbod24.json")) return false;
    bool saved = true;
    for (auto [width, name] : {std::pair(1400, "3"), std::pair(900, "2"), std::pair(520, "1")}) {
        scene.Show(width, 520);
        scene.list().SetFirmwarePath("/srv/firmware/m810/releases/2026-11/m810-fw-0420.pkg");
        saved = saved && SaveWidget(scene.list(), prefix + "panel-" + name + "-columns.png");
    }
    // An upgrade at 40 %, as the view finds it when it opens, then its failure.
    scene.subenc()->upgrade_state = 40;
    scene.Show(1100, 420);
    scene.list().ShowSubEnc(nullptr);
    scene.list().ShowSubEnc(scene.subenc());
    scene.list().SetFirmwarePath("/srv/firmware/m810/releases/2026-11/m810-fw-0420.pkg");
    saved = saved && SaveWidget(scene.list(), prefix + "panel-upgrade-40.png");
    scene.subenc()->upgrade_state = kInvalidFirmware;
    WaitFor([&] { return scene.list().FollowedUpgrades() == 0; });
    saved = saved && SaveWidget(scene.list(), prefix + "panel-upgrade-failed.png");
    scene.subenc()->upgrade_state = kUpgradeIdle;
    return saved;
}

// The keyboard on the fifth cell of the first port, its ring around it.
bool RenderZoningKeyboard(CElemListBox& list, int first_port, const QString& path) {
    list.activateWindow();
    list.setFocus();
    QApplication::processEvents();
    list.SetCurrentRow(first_port);
    list.SetCurrentControl(4);
    return SaveWidget(list, path);
}

// Opens the zoning group and clicks a few cells of the first two ports;
// with `keyboard_path`, shows the keyboard on a cell too.
bool RenderZoning(const char* file, const QString& path, const QString& keyboard_path = {}) {
    Scene scene;
    if (!scene.Start(file)) return false;
    scene.Show(1300, 900);
    CElemListBox& list = scene.list();
    for (int i = 0; i < list.RowCount(); ++i) {
        const CItemData* row = list.Row(i);
        const ElementGroup* group = GroupAt(row->group_row);
        if ((row->flags & ROW_GROUP_HEADER) && group && group->type == kTypeZoneEntry) {
            list.ToggleGroup(i);
            list.JumpToRow(i);
            break;
        }
    }
    list.repaint();
    int edited = 0, first_port = -1;
    for (int i = 0; i < list.RowCount() && edited < 2; ++i) {
        // The group's header is marked as zoning too: a click there would
        // fold the group away again.
        if ((list.Row(i)->flags & (ROW_ZONE | ROW_GROUP_HEADER)) != ROW_ZONE) continue;
        if (first_port < 0) first_port = i;
        for (int cell : {0, 3, 7}) {
            const QRect r = list.ZoneCellRect(i, cell + edited);
            if (!r.isEmpty()) test::ClickAt(list, r.center());
        }
        ++edited;
    }
    if (edited == 0 || !SaveWidget(list, path)) return false;
    return keyboard_path.isEmpty() || RenderZoningKeyboard(list, first_port, keyboard_path);
}

}  // namespace

bool RenderEnclosureActions(const QString& prefix) {
    SetElementTypeNames(ElementTypeNamesFromStrings());
    return RenderPanel(prefix) &&
           RenderZoning("jbod24.json", prefix + "zoning-24.png",
                        prefix + "zoning-24-keyboard.png") &&
           RenderZoning("jbod84-dual-path.json", prefix + "zoning-84.png");
}

}  // namespace halvorin
