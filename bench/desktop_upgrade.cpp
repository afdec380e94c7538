// A 4 MiB firmware upgrade as the desktop runs it: the operator's click on
// Upgrade in the System Information panel, the package checked, the
// question answered, then every reply handled by the desktop's own poll
// driver as it arrives, until the panel has seen the upgrade end. The agent
// and the simulated enclosure run in this process on loopback.

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <random>

#include "bench/quick_run.h"
#include "enclosure/model/element_naming.h"
#include "enclosure/model/ses_domain.h"
#include "enclosure/ops/firmware_package.h"
#include "shell/theme/shared_look.h"
#include "shell/tree/poll_driver.h"
#include "shell/widgets/message_box.h"
#include "tests/support/loopback_manager.h"
#include "tests/support/synthetic_mouse.h"
#include "views/elem_list_box.h"
#include "views/system_info_panel.h"

using namespace halvorin;

namespace {

std::vector<uint8_t> RandomImage(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> image(size);
    for (uint8_t& byte : image)
        byte = uint8_t(random());
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    // The package's two images: 3 and 1 MiB, or 48 and 16 KiB with --quick.
    const size_t quarter = bench::TakeQuickFlag(argc, argv) ? 16 << 10 : 1 << 20;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    InstallLookWithFace("Roboto Regular");
    SetElementTypeNames(ElementTypeNamesFromStrings());

    const std::string path = "/tmp/halvorin-bench-desktop-fw.lzma";
    const auto package =
        BuildFirmwarePackage("m810", RandomImage(3 * quarter, 1), RandomImage(quarter, 2));
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(package.data()), std::streamsize(package.size()));

    std::string error;
    auto scenario =
        sim::LoadScenario(std::string(HALVORIN_SOURCE_DIR) + "/sim/scenarios/jbod24.json", error);
    if (!scenario) return 1;
    test::LoopbackManager manager({*scenario});
    if (!manager.Start(error) || !manager.PollUntil([&] { return manager.AllRead(1); })) {
        std::fprintf(stderr, "bench_desktop_upgrade: %s\n", error.c_str());
        return 1;
    }
    CPollDriver driver(manager.registry());
    CElemListBox list(&manager.registry());
    UpgradeOptions options;
    options.activation_wait = std::chrono::milliseconds(0);  // the enclosure's reboot is not ours
    list.SetUpgradeOptions(options);
    list.resize(1400, 900);
    list.show();
    std::vector<Ref<CSubEnc>> subencs = CollectSubEnclosures(manager.domain());
    list.ShowSubEnc(subencs.front().get());
    list.SetFirmwarePath(QString::fromStdString(path));
    for (int i = 0; i < 100 && list.PanelSpotRect(HS_UPGRADE).isEmpty(); ++i) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        list.repaint();  // the panel's buttons are where it painted them
    }

    // The operator answers the question as soon as it shows.
    QTimer answer;
    answer.callOnTimeout([&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<CMessageBox*>(widget);
            if (box && box->isVisible()) test::ClickAt(*box, box->FirstButton().center());
        }
    });
    answer.start(1);

    QElapsedTimer clock;
    clock.start();
    test::ClickAt(list, list.PanelSpotRect(HS_UPGRADE).center());  // returns once it started
    const double started = clock.elapsed() / 1000.0;
    while (list.FollowedUpgrades() > 0 && clock.elapsed() < 60000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double total = clock.elapsed() / 1000.0;
    std::printf("%zu KiB package (%zu bytes packed), pieces of 1 KiB, desktop loop:\n",
                4 * quarter >> 10, package.size());
    std::printf("  click to upgrade started (check, question answered): %.3f s\n", started);
    std::printf("  click to the panel seeing the end: %.2f s (target 2 s); %s\n", total,
                list.Panel().FirmwarePath().isEmpty() ? "completed" : "did not complete");
    std::printf("  poll steps woken by replies: %llu\n",
                static_cast<unsigned long long>(driver.woken_steps()));
    std::remove(path.c_str());
    return list.Panel().FirmwarePath().isEmpty() ? 0 : 1;
}
