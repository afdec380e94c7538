// Time sources. Everything that measures time (request timeouts, refresh
// periods, simulated sensor drift) reads it through a Clock so tests can run
// an hour of behaviour in milliseconds with a ManualClock.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace halvorin {

class Clock {
  public:
    virtual ~Clock() = default;
    // Wall-clock time in whole seconds since 1970.
    virtual int64_t NowSeconds() const = 0;
    // Monotonic milliseconds; only differences mean anything.
    virtual int64_t TickMs() const = 0;
};

// The real clocks of the machine.
Clock& SystemClock();

// "2026-12-09T21:37:09Z": seconds since the epoch in RFC 3339, UTC.
std::string Rfc3339Utc(int64_t seconds);

// A clock that moves only when told to; safe to read from any thread.
class ManualClock : public Clock {
  public:
    explicit ManualClock(int64_t start_seconds = 1'700'000'000) : ms_(start_seconds * 1000) {}
    int64_t NowSeconds() const override { return ms_.load() / 1000; }
    int64_t TickMs() const override { return ms_.load(); }
    void AdvanceMs(int64_t ms) { ms_ += ms; }
    void AdvanceSeconds(int64_t s) { ms_ += s * 1000; }

  private:
    std::atomic<int64_t> ms_;
};

}  // namespace halvorin
