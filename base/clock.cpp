#include "base/clock.h"

#include <chrono>
#include <ctime>

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

std::string Rfc3339Utc(int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

}  // namespace halvorin
