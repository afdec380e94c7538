#include "tools/render_windows/render_left_column.h"

#include <QApplication>
#include <QDateTime>
#include <cstdio>
#include <memory>

#include "enclosure/model/ses_domain.h"
#include "shell/events/event_list.h"
#include "shell/events/event_pane.h"
#include "shell/events/event_tool_bar.h"
#include "shell/tree/enc_tree.h"
#include "shell/tree/left_pane.h"
#include "shell/tree/left_tool_bar.h"
#include "shell/widgets/flat_tool_button.h"
#include "tests/support/loopback_manager.h"
#include "tests/support/synthetic_mouse.h"
#include "tools/render_windows/render_output.h"

namespace halvorin {

namespace {

// A port on loopback where nothing listens.
constexpr char16_t kUnreachableHost[] = u"127.0.0.1:9";

std::unique_ptr<test::LoopbackManager> StartAgent(const char* file, uint16_t port) {
    std::string error;
    auto scenario =
        sim::LoadScenario(std::string(HALVORIN_SOURCE_DIR) + "/sim/scenarios/" + file, error);
    if (!scenario) {
        std::fprintf(stderr, "halvorin-render-windows: %s\n", error.c_str());
        return nullptr;
    }
    auto agent = std::make_unique<test::LoopbackManager>(std::vector{*scenario});
    if (!agent->StartAgent(error, port)) {
        std::fprintf(stderr, "halvorin-render-windows: %s\n", error.c_str());
        return nullptr;
    }
    return agent;
}

CSesDomain* HostNamed(CEncTree& tree, const std::u16string& name) {
    for (int i = 0; i < tree.HostCount(); ++i) {
        if (tree.Host(i)->host_name == name) return tree.Host(i);
    }
    return nullptr;
}

bool RenderLeftPane(const QString& prefix) {
    auto jbod24 = StartAgent("jbod24.json", kLeftPaneAgentPorts[0]);
    auto jbod84 = StartAgent("jbod84-dual-path.json", kLeftPaneAgentPorts[1]);
    if (!jbod24 || !jbod84) return false;
    ManualClock clock;
    DomainRegistry registry(test::LoopbackManager::ManagerOptions(clock));
    CLeftPane pane(registry);
    pane.resize(360, 620);
    pane.show();
    for (const std::u16string& name :
         {jbod24->HostName(), jbod84->HostName(), std::u16string(kUnreachableHost)})
        pane.AddHost(QString::fromStdU16String(name));
    pane.StartPolling();
    CEncTree& tree = *pane.Tree();
    CSesDomain* unreachable = HostNamed(tree, kUnreachableHost);
    const bool ready = WaitFor([&] {
        return tree.SubEncsOf(HostNamed(tree, jbod24->HostName())).size() == 1 &&
               tree.SubEncsOf(HostNamed(tree, jbod84->HostName())).size() == 2 &&
               unreachable->client.state() == kStateUnreachable;
    });
    if (!ready) {
        std::fprintf(stderr, "halvorin-render-windows: the hosts of the tree did not come up\n");
        return false;
    }
    tree.BlinkTick();
    if (!tree.StatusTextShown(unreachable)) tree.BlinkTick();
    tree.SelectSubEnc(tree.SubEncsOf(HostNamed(tree, jbod84->HostName())).back());
    bool saved = SaveWidget(pane, prefix + "left-pane.png");

    test::PressAt(*pane.ToolBar()->Button(), pane.ToolBar()->Button()->rect().center());
    const QRect armed = tree.HostRowRect(HostNamed(tree, jbod24->HostName()));
    test::PressAt(*tree.viewport(), tree.ArmZone(armed).center());
    test::HoverAt(*tree.viewport(), tree.ArmZone(tree.HostRowRect(unreachable)).center());
    saved = saved && SaveWidget(pane, prefix + "left-pane-editing.png");
    return saved;
}

struct SceneEvent {
    int days_ago;
    int level;
    const char16_t* source;
    int message;
    QStringList arguments;
};

bool RenderEventPane(const QString& prefix) {
    // Noon on 2 January: the first events are from last year.
    const QDate today = QDate::currentDate();
    ManualClock clock(QDateTime(QDate(today.year(), 1, 2), QTime(12, 0)).toSecsSinceEpoch());
    CEventPane pane("", clock);
    pane.resize(360, 900);
    pane.show();
    const SceneEvent events[] = {
        {3, 0, u"JBOD-24-A", 20019, {"JBOD-24-A"}},
        {3, 0, u"JBOD-24-A", 20020, {"JBOD-24-A"}},
        {2,
         2,
         u"JBOD-84-REAR-SHELF-WITH-A-VERY-LONG-SYSTEM-NAME",
         20007,
         {"power supply 2", "power supply"}},
        {2,
         2,
         u"JBOD-84-REAR-SHELF-WITH-A-VERY-LONG-SYSTEM-NAME",
         20010,
         {"power supply 2", "power supply"}},
        {1, 1, u"JBOD-24-A", 20004, {"temperature sensor 3", "temperature sensor #2"}},
        {1,
         1,
         u"JBOD-24-A",
         20023,
         {"rack-7-upper-shelf-of-the-second-row-in-the-east-wing-of-the-data-centre-building"}},
        {0, 2, u"JBOD-84", 20007, {"cooling fan 5", "cooling device #2"}},
        {0, 1, u"JBOD-84", 20021, {"JBOD-84"}},
    };
    CEventList& list = *pane.List();
    for (int i = 0; i < 30; ++i) {
        const SceneEvent& e = events[i % std::size(events)];
        const int64_t time = clock.NowSeconds() - e.days_ago * 86400 + i * 97;
        list.AddEvent(time, e.level, QString::fromStdU16String(e.source), e.message, e.arguments,
                      CEventList::Position::kBottom);
    }
    QApplication::processEvents();  // the scroll bar catches up with the rows
    bool saved = SaveWidget(pane, prefix + "event-pane.png");
    test::PressAt(*pane.ToolBar()->Button(), pane.ToolBar()->Button()->rect().center());
    test::PressAt(list, list.ArmZone(3).center());
    test::HoverAt(list, list.DeleteZone(3).center());
    saved = saved && SaveWidget(pane, prefix + "event-pane-editing.png");
    return saved;
}

}  // namespace

bool RenderLeftColumn(const QString& prefix) {
    return RenderLeftPane(prefix) && RenderEventPane(prefix);
}

}  // namespace halvorin
