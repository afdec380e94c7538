// The fixture of the enclosure action tests: an element list over a real
// model read from simulated enclosures through a real agent on loopback,
// with the operator events it logs and helpers to click its panel and cells.
#pragma once

#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "enclosure/model/element_naming.h"
#include "enclosure/model/ses_dev.h"
#include "enclosure/model/ses_domain.h"
#include "enclosure/ops/firmware_upgrade.h"
#include "shell/events/operator_event.h"
#include "sim/simulated_enclosure.h"
#include "tests/support/desktop_fixture.h"
#include "tests/support/loopback_manager.h"
#include "tests/support/sim_fixture.h"
#include "views/elem_list_box.h"
#include "views/item_data.h"
#include "views/system_info_panel.h"

namespace halvorin::test {

struct LoggedEvent {
    int level, id;
    QStringList arguments;
};

class EnclosureActionsTest : public test::DesktopTest {
  protected:
    void SetUp() override {
        DesktopTest::SetUp();
        UseApplicationLook();
        SetElementTypeNames(ElementTypeNamesFromStrings());
        InstallOperatorEventSink([this](int level, CSubEnc*, int id, const QStringList& args) {
            events_.push_back({level, id, args});
        });
    }
    void TearDown() override {
        InstallOperatorEventSink(nullptr);
        list_.reset();
        manager_.reset();
        DesktopTest::TearDown();
    }

    void Open(const std::string& file, int width = 1400,
              const std::function<void(sim::Scenario&)>& adjust = nullptr) {
        sim::Scenario scenario = test::LoadShippedScenario(file);
        if (adjust) adjust(scenario);
        manager_ = std::make_unique<test::LoopbackManager>(std::vector{scenario});
        std::string error;
        ASSERT_TRUE(manager_->Start(error)) << error;
        ASSERT_TRUE(
            manager_->PollUntil([&] { return manager_->AllRead(scenario.devices.size()); }));
        manager_->Advance(60);
        list_ = std::make_unique<CElemListBox>(&manager_->registry());
        UpgradeOptions options;
        options.activation_wait = std::chrono::milliseconds(0);
        list_->SetUpgradeOptions(options);
        list_->resize(width, 900);
        list_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(list_.get()));
        ShowPrimary();
        poll_.callOnTimeout([this] { manager_->Poll(); });
        poll_.start(2);
    }
    void ShowPrimary() {
        std::vector<Ref<CSubEnc>> subencs = CollectSubEnclosures(manager_->domain());
        ASSERT_FALSE(subencs.empty());
        list_->ShowSubEnc(subencs.front().get());
        list_->repaint();  // places the panel's hot spots
    }
    CSubEnc* Shown() { return list_->CurrentSubEnc(); }
    // A window's new size arrives through the window system, later.
    void Resize(int width) {
        list_->resize(width, 900);
        ASSERT_TRUE(WaitUntil([&] { return list_->width() == width; }));
        QApplication::processEvents();
    }
    sim::EnclosureState Sim() { return manager_->enclosure().Snapshot(); }

    void ClickSpot(uint32_t spot) {
        list_->repaint();
        const QRect r = list_->PanelSpotRect(spot);
        ASSERT_FALSE(r.isEmpty()) << std::hex << spot << " " << list_->RowRect(1).height() << " "
                                  << list_->Panel().SpotRect(spot).width();
        QTest::mouseClick(list_.get(), Qt::LeftButton, {}, r.center());
    }
    bool Logged(int id) const {
        return std::any_of(events_.begin(), events_.end(),
                           [id](const LoggedEvent& e) { return e.id == id; });
    }
    const LoggedEvent* Last() const { return events_.empty() ? nullptr : &events_.back(); }

    // Lets minutes of enclosure time pass while the list keeps its timers.
    void Minutes(int n) {
        poll_.stop();
        for (int i = 0; i < n; ++i)
            manager_->Advance(60);
        poll_.start(2);
        list_->RefreshPass();
    }

    int Header(uint8_t type) const {
        for (int i = 0; i < list_->RowCount(); ++i) {
            const CItemData* row = list_->Row(i);
            const ElementGroup* group = GroupAt(row->group_row);
            if ((row->flags & ROW_GROUP_HEADER) && group && group->type == type) return i;
        }
        return -1;
    }
    std::vector<int> ZoneRows() const {
        std::vector<int> rows;
        for (int i = 0; i < list_->RowCount(); ++i) {
            const uint32_t flags = list_->Row(i)->flags;
            if ((flags & (ROW_ZONE | ROW_GROUP_HEADER)) == ROW_ZONE) rows.push_back(i);
        }
        return rows;
    }
    void ClickCell(int row, int cell) {
        const QRect r = list_->ZoneCellRect(row, cell);
        ASSERT_FALSE(r.isEmpty()) << "cell " << cell;
        QTest::mouseClick(list_.get(), Qt::LeftButton, {}, r.center());
    }

    std::unique_ptr<test::LoopbackManager> manager_;
    std::unique_ptr<CElemListBox> list_;
    QTimer poll_;
    std::vector<LoggedEvent> events_;
};

}  // namespace halvorin::test
