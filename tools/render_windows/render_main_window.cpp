#include "tools/render_windows/render_main_window.h"

#include <QApplication>
#include <QEnterEvent>
#include <QPainter>
#include <QSettings>
#include <cstdio>

#include "enclosure/model/element_types.h"
#include "enclosure/model/ses_dev.h"
#include "enclosure/poll/poll_step.h"
#include "net/ui/about_wnd.h"
#include "net/ui/caption_bar.h"
#include "shell/app/app_settings.h"
#include "shell/frame/main_wnd.h"
#include "shell/frame/right_pane.h"
#include "shell/theme/string_resources.h"
#include "shell/tree/enc_tree.h"
#include "shell/tree/left_pane.h"
#include "shell/widgets/flat_tool_button.h"
#include "sim/built_in_scenarios.h"
#include "tests/support/loopback_manager.h"
#include "tools/render_windows/render_output.h"
#include "views/elem_list_box.h"
#include "views/element_group_table.h"

namespace halvorin {

namespace {

constexpr size_t kDemoEnclosures = 3;

std::optional<std::vector<sim::Scenario>> DemoScenarios() {
    std::vector<sim::Scenario> scenarios;
    for (std::string_view text : sim::BuiltInDemoScenarios()) {
        std::string error;
        auto scenario = sim::ParseScenario(std::string(text), error);
        if (!scenario) {
            std::fprintf(stderr, "halvorin-render-windows: %s\n", error.c_str());
            return {};
        }
        scenarios.push_back(*scenario);
    }
    return scenarios;
}

void OpenGroup(CElemListBox& list, uint8_t type) {
    for (int i = 0; i < list.RowCount(); ++i) {
        const CItemData* row = list.Row(i);
        const ElementGroup* group = GroupAt(row->group_row);
        if ((row->flags & ROW_GROUP_HEADER) && group && group->type == type) {
            if (!(row->flags & ROW_EXPANDED)) list.ToggleGroup(i);
            return;
        }
    }
}

// The window with the About window drawn where it sits over it.
bool SaveWithAbout(CMainWnd& main, const QString& path) {
    auto* about = new CAboutWnd(&main);
    about->show();
    QImage scene = main.grab().toImage();
    {
        QPainter painter(&scene);
        painter.setClipRegion(about->mask().translated(about->pos() - main.pos()));
        painter.drawPixmap(about->pos() - main.pos(), about->grab());
    }
    about->close();
    if (!scene.save(path)) return false;
    std::printf("%s\n", qPrintable(path));
    return true;
}

}  // namespace

bool RenderMainWindow(const QString& prefix) {
    auto scenarios = DemoScenarios();
    if (!scenarios) return false;
    test::LoopbackManager agent(*scenarios);
    std::string error;
    if (!agent.StartAgent(error, kMainWindowAgentPort)) {
        std::fprintf(stderr, "halvorin-render-windows: %s\n", error.c_str());
        return false;
    }
    // Only the demo host: not what the other scenes added.
    QSettings(AppSettings::kOrganization, AppSettings::kApplication).remove("CONFIG/Domains");
    ManualClock clock;
    DomainRegistry registry(test::LoopbackManager::ManagerOptions(clock));
    // Every enclosure is read before the window opens: the tree then lists
    // them in the agent's order, not in the order their first reads ended.
    CSesDomain* host = registry.Acquire(agent.HostName());
    const bool read = host && WaitFor([&] {
                          PollStep(host);
                          return CollectSubEnclosures(host).size() == kDemoEnclosures;
                      });
    if (host) registry.Release(host);
    if (!read) {
        std::fprintf(stderr, "halvorin-render-windows: the demo enclosures were not read\n");
        return false;
    }
    ManagerSetup setup;
    setup.registry = &registry;
    setup.local_host = agent.HostName();
    setup.history_directory.clear();
    setup.clock = &clock;
    CMainWnd main(LoadQString(57344), setup);
    main.setGeometry(0, 0, 1400, 900);
    main.show();
    QApplication::processEvents();
    bool saved_welcome = SaveWidget(main, prefix + "main-wnd-welcome.png");
    CEncTree& tree = *main.LeftPane()->Tree();
    if (!WaitFor([&] {
            return tree.HostCount() == 1 && tree.SubEncsOf(tree.Host(0)).size() == kDemoEnclosures;
        })) {
        std::fprintf(stderr, "halvorin-render-windows: the demo enclosures did not come up\n");
        return false;
    }
    CSubEnc* demo = nullptr;
    for (CSubEnc* subenc : tree.SubEncsOf(tree.Host(0))) {
        if (std::string(subenc->system_name) == "DEMO-JBOD") demo = subenc;
    }
    if (!demo) return false;
    // The demo's second power supply fails at 90 s; the next full refresh
    // brings it in.
    agent.clock().AdvanceSeconds(100);
    clock.AdvanceSeconds(61);
    if (!WaitFor([&] { return SubEncInfo(demo).counters[kTypePowerSupply].failed == 1; })) {
        std::fprintf(stderr, "halvorin-render-windows: the demo's power supply did not fail\n");
        return false;
    }
    main.OnCommand(254);  // the dashboard
    QApplication::processEvents();
    bool saved = saved_welcome && SaveWidget(main, prefix + "main-wnd-dashboard.png");

    if (!tree.SelectSubEnc(demo)) return false;
    OpenGroup(*main.RightPane()->List(), kTypePowerSupply);
    QApplication::processEvents();
    saved = saved && SaveWidget(main, prefix + "main-wnd-enclosure.png");
    saved = saved && SaveWithAbout(main, prefix + "about-wnd.png");

    CCaptionBar& caption = *main.CaptionBar();
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(caption.Button(2), &enter);
    saved = saved && SaveWidget(caption, prefix + "caption-bar-close-hot.png");
    return saved;
}

}  // namespace halvorin
