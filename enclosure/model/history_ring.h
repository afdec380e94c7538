// The last 1024 readings of a sensor, one a minute (about 17 hours).
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace halvorin {

class HistoryRing {
  public:
    static constexpr size_t kCapacity = 1024;

    void Add(int16_t reading) {
        samples_[position_] = reading;
        position_ = (position_ + 1) % kCapacity;
        if (fill_ < kCapacity) ++fill_;
    }

    size_t fill() const { return fill_; }

    // The newest min(out.size(), fill) samples into out[0..k-1], oldest first.
    size_t Read(std::span<int16_t> out) const {
        const size_t k = std::min(out.size(), fill_);
        for (size_t i = 0; i < k; ++i) {
            out[i] = samples_[(position_ + kCapacity - k + i) % kCapacity];
        }
        return k;
    }

  private:
    std::array<int16_t, kCapacity> samples_{};
    size_t position_ = 0;
    size_t fill_ = 0;
};

}  // namespace halvorin
