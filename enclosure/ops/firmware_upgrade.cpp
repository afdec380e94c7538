#include "enclosure/ops/firmware_upgrade.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

#include "base/result_code.h"
#include "enclosure/model/model_ref.h"
#include "enclosure/ops/firmware_package.h"
#include "enclosure/ops/operation_holds.h"
#include "enclosure/pages/cdb.h"
#include "enclosure/pages/control_pages.h"

namespace halvorin {

namespace {

constexpr uint8_t kDownloadMicrocodePage = 0x0E;
// How often a waiting upgrade looks whether its connection is still there.
constexpr std::chrono::milliseconds kConnectionCheck{250};
constexpr uint8_t kStatusIdle = 0x00;
constexpr uint8_t kStatusInProgress = 0x01;
constexpr uint8_t kStatusActivating = 0x10;

bool IsFinishedStatus(uint8_t status) {
    return status == 0x02 || status == 0x03 || (status >= 0x10 && status <= 0x13);
}

// The upgrade threads of the process, so that exit can stop and join them.
struct Threads {
    using Entry = std::pair<std::jthread, std::shared_ptr<std::atomic<bool>>>;
    std::mutex mutex;
    std::list<Entry> running;

    void Reap() {
        std::list<Entry> done;
        {
            std::lock_guard lock(mutex);
            for (auto it = running.begin(); it != running.end();) {
                auto next = std::next(it);
                if (*it->second) done.splice(done.end(), running, it);
                it = next;
            }
        }
        // Joined here, outside the lock, as `done` goes.
    }
};

Threads& UpgradeThreads() {
    static Threads threads;
    return threads;
}

// The thread holds its enclosure's references (OperationHolds); they are
// released on the poll thread at the end.

// One request at a time, waited for: its handler runs in the poll step and
// wakes the thread. The whole upgrade belongs to the connection it started
// on: once that connection is gone, a piece may have been lost with it and
// the enclosure's state is unknown, so the upgrade ends (-10) rather than
// wait for a reconnection that may never come.
class Exchange {
  public:
    Exchange(CSesDomain* domain, SES_ADDR address, std::stop_token stop, std::chrono::seconds grace)
        : domain_(domain), address_(address), stop_(std::move(stop)), grace_(grace) {}

    int Begin() {
        CSesClient& client = domain_->client;
        if (client.state() != kStateReady) return kConnectionLost;
        generation_ = client.connection_generation();
        return kOk;
    }

    int ReadStatusPage(std::vector<uint8_t>& page) {
        return Run(MSG_SCSI_IN, ReadSesPageCdb(kDownloadMicrocodePage), {}, &page);
    }
    bool ConnectionGone() const {
        const CSesClient& client = domain_->client;
        return client.state() != kStateReady || client.connection_generation() != generation_;
    }
    int WriteControlPage(std::vector<uint8_t> page) {
        const Cdb cdb = WriteSesPageCdb(kDownloadMicrocodePage, static_cast<uint16_t>(page.size()));
        return Run(MSG_SCSI_OUT, cdb, std::move(page), nullptr);
    }

  private:
    struct Pending {
        std::mutex mutex;
        std::condition_variable_any done_changed;
        bool done = false;
        int result = 0;
        std::vector<uint8_t> payload;
    };

    int Run(uint8_t type, const Cdb& cdb, std::vector<uint8_t> data, std::vector<uint8_t>* reply) {
        if (ConnectionGone()) return kConnectionLost;
        // The handler owns what it writes to: it may run after we gave up.
        auto pending = std::make_shared<Pending>();
        auto handler = [pending](std::span<const uint8_t> payload, int result) {
            std::lock_guard lock(pending->mutex);
            pending->result = result;
            pending->payload.assign(payload.begin(), payload.end());
            pending->done = true;
            pending->done_changed.notify_all();
        };
        CSesClient& client = domain_->client;
        const int timeout = domain_->request_timeout;
        // Bound to the connection the upgrade started on: a piece must never
        // reach the enclosure after that connection is gone (another upgrade
        // may be under way by then).
        const int sent =
            type == MSG_SCSI_IN
                ? client.SendScsiIn(address_, cdb, timeout, handler, generation_)
                : client.SendScsiOut(address_, cdb, data, timeout, handler, generation_);
        if (sent < 0) return sent;
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::seconds(std::clamp(timeout, 1, kMaxRequestTimeout)) +
                              grace_;
        std::unique_lock lock(pending->mutex);
        while (!pending->done) {
            if (stop_.stop_requested()) return kClosing;
            if (ConnectionGone()) return kConnectionLost;
            if (std::chrono::steady_clock::now() >= deadline) return kTimedOut;
            pending->done_changed.wait_for(lock, stop_, kConnectionCheck,
                                           [&] { return pending->done; });
        }
        if (pending->result == kTimedOut && ConnectionGone()) return kConnectionLost;
        if (reply) *reply = std::move(pending->payload);
        return pending->result;
    }

    CSesDomain* domain_;
    SES_ADDR address_;
    std::stop_token stop_;
    std::chrono::seconds grace_;
    uint64_t generation_ = 0;
};

// Where the images come from: a package to unpack on the thread, or images
// the caller has unpacked and checked already.
struct Source {
    std::string path;
    std::optional<UnpackedFirmware> firmware;
};

class Upgrade {
  public:
    Upgrade(OperationHolds holds, Source source, UpgradeOptions options)
        : holds_(std::move(holds)), source_(std::move(source)), options_(options) {}

    int Run(std::stop_token stop) {
        if (!source_.firmware) {
            std::string model;
            {
                std::lock_guard lock(holds_.subenc->mutex);
                model = holds_.subenc->model_text;
            }
            const PackageProblem problem =
                UnpackFirmware(source_.path, model, source_.firmware, options_.archive_limit);
            if (problem.failed()) return problem.result;
        }
        const UnpackedFirmware& firmware = *source_.firmware;
        SetState(0);
        Exchange exchange(holds_.domain.get(), holds_.device->Address(), stop,
                          options_.delivery_grace);
        if (int r = exchange.Begin(); r < 0) return r;
        const uint64_t total = uint64_t{firmware.image_a.size()} + firmware.image_b.size();
        uint64_t done = 0;
        int status = Download(exchange, firmware.image_a, kImageABuffer, kImageAMode, done, total);
        if (status < 0) return status;
        status = Download(exchange, firmware.image_b, kImageBBuffer, kImageBMode, done, total);
        if (status < 0) return status;
        if (status != kStatusActivating) return kGeneralFailure;
        SetState(kUpgradeActivating);
        return WaitForActivation(exchange, stop);
    }

    OperationHolds TakeHolds() { return std::move(holds_); }
    CSubEnc* subenc() const { return holds_.subenc.get(); }
    CSesDev* device() const { return holds_.device.get(); }

  private:
    void SetState(int state) { holds_.subenc->upgrade_state = state; }

    // The descriptor of our sub-enclosure in the download status page.
    int ReadStatus(Exchange& exchange, DownloadStatus& status) {
        std::vector<uint8_t> page;
        const int result = exchange.ReadStatusPage(page);
        if (result < 0) return result;
        return DecodeDownloadStatus(page, holds_.subenc->id, status);
    }

    // One image: the final download status (positive), 0 when the enclosure
    // already has it, or a negative result code.
    int Download(Exchange& exchange, std::span<const uint8_t> image, uint8_t buffer, uint8_t mode,
                 uint64_t& done, uint64_t total) {
        const uint64_t length = image.size();
        DownloadStatus status;
        if (int r = ReadStatus(exchange, status); r < 0) return r;
        uint64_t offset = 0;
        if (status.status == kStatusInProgress) {
            if (status.expected_buffer_id != buffer) {
                done += length;  // the enclosure is past this image already
                return kOk;
            }
            offset = status.expected_offset;
        } else if (status.status != kStatusIdle) {
            return kUpgradeRunning;
        }
        int timeouts = 0;
        while (offset < length) {
            const size_t n =
                static_cast<size_t>(std::min<uint64_t>(kDownloadPiece, length - offset));
            const DownloadPiece request{holds_.subenc->id,
                                        mode,
                                        buffer,
                                        static_cast<uint32_t>(offset),
                                        static_cast<uint32_t>(length),
                                        image.subspan(static_cast<size_t>(offset), n)};
            const int result =
                exchange.WriteControlPage(BuildDownloadControlPage(holds_.device.get(), request));
            if (result == kTimedOut) {
                if (++timeouts == kMaxConsecutiveTimeouts) return kTimedOut;
                continue;  // the same piece again
            }
            if (result < 0) return result;
            timeouts = 0;
            // 64-bit arithmetic: images of tens of megabytes overflow 32 bits here.
            SetState(static_cast<int>((done + offset) * 100 / std::max<uint64_t>(total, 1)));
            offset += n;
        }
        if (int r = ReadStatus(exchange, status); r < 0) return r;
        if (!IsFinishedStatus(status.status)) return kGeneralFailure;
        done += offset;
        return status.status;
    }

    // -22 once the wait is over; -24 as soon as the connection is lost
    // meanwhile (the agent went away: what the enclosure runs is unknown);
    // -15 when the wait was cut short by a stop.
    int WaitForActivation(const Exchange& exchange, std::stop_token stop) {
        std::mutex mutex;
        std::condition_variable_any never;
        std::unique_lock lock(mutex);
        const auto end = std::chrono::steady_clock::now() + options_.activation_wait;
        while (std::chrono::steady_clock::now() < end) {
            if (exchange.ConnectionGone()) return kActivationUnknown;
            const auto left = end - std::chrono::steady_clock::now();
            never.wait_for(lock, stop,
                           std::min<std::chrono::steady_clock::duration>(left, kConnectionCheck),
                           [] { return false; });
            if (stop.stop_requested()) return kClosing;
        }
        return exchange.ConnectionGone() ? kActivationUnknown : kUpgradeCompleted;
    }

    OperationHolds holds_;
    Source source_;
    const UpgradeOptions options_;
};

void RunUpgradeThread(std::stop_token stop, std::unique_ptr<Upgrade> upgrade,
                      std::shared_ptr<std::atomic<bool>> finished) {
    const int result = upgrade->Run(stop);
    upgrade->subenc()->upgrade_state = result;
    upgrade->device()->SetFlags(0, kDeviceUpgrading);
    // The last reference on a domain must go on the poll thread, which owns
    // domains; hand them over. A closed client no longer polls: then here.
    auto holds = std::make_shared<OperationHolds>(upgrade->TakeHolds());
    CSesDomain* domain = holds->domain.get();
    upgrade.reset();
    if (!domain->client.PostToOwner([holds]() mutable { holds.reset(); })) holds.reset();
    *finished = true;
}

int StartUpgrade(CSubEnc* subenc, Source source, UpgradeOptions options) {
    UpgradeThreads().Reap();
    if (subenc->upgrade_state >= 0) return kBusy;
    CSesDev* device = subenc->dev;
    {
        std::lock_guard lock(device->mutex);
        if (device->flags & kDeviceUpgrading) return kUpgradeRunning;
        device->flags |= kDeviceUpgrading;
    }
    subenc->upgrade_state = 0;
    auto upgrade = std::make_unique<Upgrade>(HoldFor(device, subenc), std::move(source), options);
    auto finished = std::make_shared<std::atomic<bool>>(false);
    Threads& threads = UpgradeThreads();
    try {
        std::lock_guard lock(threads.mutex);
        threads.running.emplace_back(std::jthread(RunUpgradeThread, std::move(upgrade), finished),
                                     finished);
    } catch (const std::system_error&) {
        subenc->upgrade_state = kNoResource;
        device->SetFlags(0, kDeviceUpgrading);
        return kNoResource;  // the holds went with the upgrade object
    }
    return kOk;
}

}  // namespace

int StartFirmwareUpgrade(CSubEnc* subenc, const std::string& package_path, UpgradeOptions options) {
    return StartUpgrade(subenc, Source{package_path, std::nullopt}, options);
}

int StartFirmwareUpgrade(CSubEnc* subenc, UnpackedFirmware firmware, UpgradeOptions options) {
    return StartUpgrade(subenc, Source{"", std::move(firmware)}, options);
}

void StopFirmwareUpgrades() {
    std::list<Threads::Entry> all;
    {
        Threads& threads = UpgradeThreads();
        std::lock_guard lock(threads.mutex);
        all.swap(threads.running);
    }
    for (auto& [thread, finished] : all)
        thread.request_stop();
    all.clear();  // joins each
}

}  // namespace halvorin
