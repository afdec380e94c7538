#include "base/wakeup.h"

#include <sys/eventfd.h>

#include <cstdint>

namespace halvorin {

Wakeup::Wakeup() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

void Wakeup::Signal() {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fd_.get(), &one, sizeof one);
}

void Wakeup::Drain() {
    uint64_t count = 0;
    [[maybe_unused]] ssize_t n = ::read(fd_.get(), &count, sizeof count);
}

}  // namespace halvorin
