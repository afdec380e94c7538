// One program per user: a second start reaches the first over its local
// socket, and a socket left behind by a crash does not keep a start out.
#include "shell/app/single_instance.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <cstring>
#include <thread>

#include "tests/support/temp_path.h"

namespace halvorin {
namespace {

// What a crashed instance leaves: a socket file nobody listens on.
void LeaveStaleSocket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
}

TEST(SingleInstance, ASecondStartBringsTheFirstForwardAndACrashLeavesNoLock) {
    const std::string path = test::UniqueTempPath("instance");
    const QString name = QString::fromStdString(path);
    LeaveStaleSocket(path);
    EXPECT_FALSE(SingleInstance(name).HandOverToRunning());

    SingleInstance first(name);
    QString error;
    ASSERT_TRUE(first.Listen(&error)) << error.toStdString();
    QSignalSpy raised(&first, &SingleInstance::RaiseRequested);
    std::atomic<int> handed_over{-1};
    std::thread second([&] { handed_over = SingleInstance(name).HandOverToRunning() ? 1 : 0; });
    EXPECT_TRUE(raised.wait(3000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return handed_over >= 0; }, 3000));
    second.join();
    EXPECT_EQ(handed_over, 1);
}

}  // namespace
}  // namespace halvorin
