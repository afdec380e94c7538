#include "shell/tree/poll_driver.h"

#include <QElapsedTimer>

#include "enclosure/model/domain_registry.h"
#include "tests/support/desktop_fixture.h"
#include "tests/support/loopback_manager.h"
#include "tests/support/sim_fixture.h"

namespace halvorin {
namespace {

using test::WaitUntil;

TEST(PollDriver, RepliesAreHandledAsTheyArriveAndGoneHostsAreLetGo) {
    test::LoopbackManager manager({test::LoadShippedScenario("jbod24.json")});
    std::string error;
    ASSERT_TRUE(manager.Start(error)) << error;
    CPollDriver driver(manager.registry());
    int steps = 0;
    QObject::connect(&driver, &CPollDriver::Stepped, [&] { ++steps; });
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(WaitUntil([&] { return manager.AllRead(1); }, 10000));
    // The whole read chain took many round trips; at one per 100 ms tick it
    // would have taken seconds. The wake-ups carried it.
    EXPECT_GT(driver.woken_steps(), 10u);
    EXPECT_GT(steps, 10);
    EXPECT_EQ(driver.watched(), 1u);

    ASSERT_EQ(manager.registry().Remove(manager.domain()), 0);
    driver.Tick();
    EXPECT_EQ(driver.watched(), 0u);
}

}  // namespace
}  // namespace halvorin
