#include "base/clock.h"

#include <chrono>

namespace halvorin {

namespace {

class RealClock final : public Clock {
  public:
    int64_t NowSeconds() const override {
        using namespace std::chrono;
        return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
    }
    int64_t TickMs() const override {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
};

}  // namespace

Clock& SystemClock() {
    static RealClock clock;
    return clock;
}

}  // namespace halvorin
