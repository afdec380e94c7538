// A SCSI host whose answers a test scripts: the hardware edge, faked.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

#include "enclosure/scsi/scsi_host.h"

namespace halvorin::test {

class ScriptedHost : public ScsiHost {
  public:
    using Handler = std::function<ScsiIoResult(const ScsiIo&, std::stop_token)>;

    ScriptedHost(std::vector<ScsiUnit> units, Handler handler)
        : units_(std::move(units)), handler_(std::move(handler)) {}

    std::vector<ScsiUnit> ListUnits() override {
        ++list_calls;
        return units_;
    }
    bool ServesAdapter(uint32_t adapter) const override {
        for (const ScsiUnit& u : units_) {
            if (u.adapter == adapter) return true;
        }
        return false;
    }
    ScsiIoResult Execute(const ScsiIo& io, std::stop_token stop) override {
        ++executions;
        {
            std::lock_guard lock(mutex_);
            cdbs_.push_back(io.cdb);
        }
        return handler_(io, stop);
    }
    std::vector<Cdb> Cdbs() const {
        std::lock_guard lock(mutex_);
        return cdbs_;
    }

    std::atomic<int> executions{0};
    std::atomic<int> list_calls{0};

  private:
    std::vector<ScsiUnit> units_;
    Handler handler_;
    mutable std::mutex mutex_;
    std::vector<Cdb> cdbs_;
};

// Answers that scripts put together.
inline ScsiIoResult Good(uint32_t transferred = 0) {
    ScsiIoResult r;
    r.outcome = ScsiIoResult::Outcome::kCompleted;
    r.transferred = transferred;
    return r;
}
inline ScsiIoResult WithStatus(uint8_t status) {
    ScsiIoResult r = Good();
    r.status = status;
    return r;
}
// CHECK CONDITION with fixed-format (0x70) or descriptor-format (0x72) sense.
inline ScsiIoResult CheckCondition(uint8_t sense_key, bool descriptor_format = false) {
    ScsiIoResult r = WithStatus(0x02);
    if (descriptor_format) {
        r.sense[0] = 0x72;
        r.sense[1] = sense_key;
        r.sense_length = 8;
    } else {
        r.sense[0] = 0x70;
        r.sense[2] = sense_key;
        r.sense_length = 18;
    }
    return r;
}

// Copies bytes into the data-in buffer and reports them transferred.
inline ScsiIoResult Answer(const ScsiIo& io, const std::vector<uint8_t>& bytes) {
    const size_t n = std::min(bytes.size(), io.data.size());
    std::copy_n(bytes.begin(), n, io.data.begin());
    return Good(static_cast<uint32_t>(n));
}

}  // namespace halvorin::test
