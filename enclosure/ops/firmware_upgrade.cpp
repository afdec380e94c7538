#include "enclosure/ops/firmware_upgrade.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "base/result_code.h"
#include "base/unique_fd.h"
#include "enclosure/model/model_ref.h"
#include "enclosure/ops/firmware_package.h"
#include "enclosure/pages/cdb.h"
#include "enclosure/pages/control_pages.h"

namespace halvorin {

namespace {

constexpr uint8_t kDownloadMicrocodePage = 0x0E;
constexpr uint8_t kStatusIdle = 0x00;
constexpr uint8_t kStatusInProgress = 0x01;
constexpr uint8_t kStatusActivating = 0x10;

bool IsFinishedStatus(uint8_t status) {
    return status == 0x02 || status == 0x03 || (status >= 0x10 && status <= 0x13);
}

// The upgrade threads of the process, so that exit can wait for them.
struct Threads {
    std::mutex mutex;
    std::condition_variable_any stopping;
    bool stop = false;
    std::list<std::pair<std::thread, std::shared_ptr<std::atomic<bool>>>> running;

    void Reap() {
        std::list<std::pair<std::thread, std::shared_ptr<std::atomic<bool>>>> done;
        {
            std::lock_guard lock(mutex);
            for (auto it = running.begin(); it != running.end();) {
                auto next = std::next(it);
                if (*it->second) done.splice(done.end(), running, it);
                it = next;
            }
        }
        for (auto& [thread, finished] : done)
            thread.join();
    }
};

Threads& UpgradeThreads() {
    static Threads threads;
    return threads;
}

// The references the thread holds; released on the poll thread at the end.
struct Holds {
    Ref<CSesDomain> domain;
    Ref<CSesDev> device;
    Ref<CSubEnc> subenc;
};

// One request at a time, waited for: its handler runs in the poll step and
// wakes the thread.
class Exchange {
  public:
    explicit Exchange(CSesDomain* domain, SES_ADDR address) : domain_(domain), address_(address) {}

    int ReadStatusPage(std::vector<uint8_t>& page) {
        return Run(MSG_SCSI_IN, ReadSesPageCdb(kDownloadMicrocodePage), {}, &page);
    }
    int WriteControlPage(std::vector<uint8_t> page) {
        const Cdb cdb = WriteSesPageCdb(kDownloadMicrocodePage, static_cast<uint16_t>(page.size()));
        return Run(MSG_SCSI_OUT, cdb, std::move(page), nullptr);
    }

  private:
    struct Pending {
        std::mutex mutex;
        std::condition_variable done_changed;
        bool done = false;
        int result = 0;
        std::vector<uint8_t> payload;
    };

    int Run(uint8_t type, const Cdb& cdb, std::vector<uint8_t> data, std::vector<uint8_t>* reply) {
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
        const int sent = type == MSG_SCSI_IN
                             ? client.SendScsiIn(address_, cdb, timeout, handler)
                             : client.SendScsiOut(address_, cdb, data, timeout, handler);
        if (sent < 0) return sent;
        // The connection ends every request, at the latest with its timeout.
        std::unique_lock lock(pending->mutex);
        pending->done_changed.wait(lock, [&] { return pending->done; });
        if (reply) *reply = std::move(pending->payload);
        return pending->result;
    }

    CSesDomain* domain_;
    SES_ADDR address_;
};

class Upgrade {
  public:
    Upgrade(Holds holds, std::string path, UpgradeOptions options)
        : holds_(std::move(holds)),
          path_(std::move(path)),
          options_(options),
          exchange_(holds_.domain.get(), holds_.device->Address()) {}

    int Run() {
        std::string model;
        {
            std::lock_guard lock(holds_.subenc->mutex);
            model = holds_.subenc->model_text;
        }
        std::optional<UnpackedFirmware> firmware;
        if (int r = UnpackFirmware(path_, model, firmware, options_.archive_limit); r != kOk)
            return r;
        SetState(0);
        const uint64_t total = uint64_t{firmware->length_a} + firmware->length_b;
        uint64_t done = 0;
        int status = Download(firmware->image_a, kImageABuffer, kImageAMode, done, total);
        if (status < 0) return status;
        status = Download(firmware->image_b, kImageBBuffer, kImageBMode, done, total);
        if (status < 0) return status;
        if (status != kStatusActivating) return kGeneralFailure;
        SetState(kUpgradeActivating);
        WaitForActivation();
        return kUpgradeCompleted;
    }

    Holds TakeHolds() { return std::move(holds_); }
    CSubEnc* subenc() const { return holds_.subenc.get(); }
    CSesDev* device() const { return holds_.device.get(); }

  private:
    void SetState(int state) { holds_.subenc->upgrade_state = state; }

    // The descriptor of our sub-enclosure in the download status page.
    int ReadStatus(DownloadStatus& status) {
        std::vector<uint8_t> page;
        const int result = exchange_.ReadStatusPage(page);
        if (result < 0) return result;
        return DecodeDownloadStatus(page, holds_.subenc->id, status);
    }

    // One image: the final download status (positive), 0 when the enclosure
    // already has it, or a negative result code.
    int Download(const std::filesystem::path& file, uint8_t buffer, uint8_t mode, uint64_t& done,
                 uint64_t total) {
        UniqueFd in(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
        if (!in.valid()) return kPackageOpenFailed;
        const off_t length = ::lseek(in.get(), 0, SEEK_END);
        if (length < 0) return kGeneralFailure;
        DownloadStatus status;
        if (int r = ReadStatus(status); r < 0) return r;
        uint64_t offset = 0;
        if (status.status == kStatusInProgress) {
            if (status.expected_buffer_id != buffer) {
                done += static_cast<uint64_t>(length);  // the enclosure is past this image already
                return kOk;
            }
            offset = status.expected_offset;
        } else if (status.status != kStatusIdle) {
            return kUpgradeRunning;
        }
        std::array<uint8_t, kDownloadPiece> piece;
        int timeouts = 0;
        while (offset < static_cast<uint64_t>(length)) {
            const ssize_t n =
                ::pread(in.get(), piece.data(), piece.size(), static_cast<off_t>(offset));
            if (n < 0) return kGeneralFailure;
            if (n == 0) break;
            const DownloadPiece request{
                holds_.subenc->id,
                mode,
                buffer,
                static_cast<uint32_t>(offset),
                static_cast<uint32_t>(length),
                std::span<const uint8_t>(piece.data(), static_cast<size_t>(n))};
            const int result =
                exchange_.WriteControlPage(BuildDownloadControlPage(holds_.device.get(), request));
            if (result == kTimedOut) {
                if (++timeouts == kMaxConsecutiveTimeouts) return kTimedOut;
                continue;  // the same piece again
            }
            if (result < 0) return result;
            timeouts = 0;
            // 64-bit arithmetic: images of tens of megabytes overflow 32 bits here.
            SetState(static_cast<int>((done + offset) * 100 / std::max<uint64_t>(total, 1)));
            offset += static_cast<uint64_t>(n);
        }
        if (int r = ReadStatus(status); r < 0) return r;
        if (!IsFinishedStatus(status.status)) return kGeneralFailure;
        done += offset;
        return status.status;
    }

    void WaitForActivation() {
        Threads& threads = UpgradeThreads();
        std::unique_lock lock(threads.mutex);
        threads.stopping.wait_for(lock, options_.activation_wait, [&] { return threads.stop; });
    }

    Holds holds_;
    const std::string path_;
    const UpgradeOptions options_;
    Exchange exchange_;
};

void RunUpgradeThread(std::unique_ptr<Upgrade> upgrade,
                      std::shared_ptr<std::atomic<bool>> finished) {
    const int result = upgrade->Run();
    upgrade->subenc()->upgrade_state = result;
    upgrade->device()->SetFlags(0, kDeviceUpgrading);
    // The last reference on a domain must go on the poll thread, which owns
    // domains; hand them over. A closed client no longer polls: then here.
    auto holds = std::make_shared<Holds>(upgrade->TakeHolds());
    CSesDomain* domain = holds->domain.get();
    upgrade.reset();
    if (!domain->client.PostToOwner([holds]() mutable { holds.reset(); })) holds.reset();
    *finished = true;
}

}  // namespace

int StartFirmwareUpgrade(CSubEnc* subenc, const std::string& package_path, UpgradeOptions options) {
    UpgradeThreads().Reap();
    if (subenc->upgrade_state >= 0) return kBusy;
    CSesDev* device = subenc->dev;
    {
        std::lock_guard lock(device->mutex);
        if (device->flags & kDeviceUpgrading) return kUpgradeRunning;
        device->flags |= kDeviceUpgrading;
    }
    subenc->upgrade_state = 0;
    RetainDomain(device->domain);
    RetainDevice(device);
    RetainSubEnc(subenc);
    Holds holds{Ref<CSesDomain>::Adopt(device->domain), Ref<CSesDev>::Adopt(device),
                Ref<CSubEnc>::Adopt(subenc)};
    auto upgrade = std::make_unique<Upgrade>(std::move(holds), package_path, options);
    auto finished = std::make_shared<std::atomic<bool>>(false);
    Threads& threads = UpgradeThreads();
    try {
        std::lock_guard lock(threads.mutex);
        threads.stop = false;
        threads.running.emplace_back(std::thread(RunUpgradeThread, std::move(upgrade), finished),
                                     finished);
    } catch (const std::system_error&) {
        subenc->upgrade_state = kNoResource;
        device->SetFlags(0, kDeviceUpgrading);
        return kNoResource;  // the holds went with the upgrade object
    }
    return kOk;
}

void StopFirmwareUpgrades() {
    Threads& threads = UpgradeThreads();
    std::list<std::pair<std::thread, std::shared_ptr<std::atomic<bool>>>> all;
    {
        std::lock_guard lock(threads.mutex);
        threads.stop = true;
        threads.stopping.notify_all();
        all.swap(threads.running);
    }
    for (auto& [thread, finished] : all)
        thread.join();
}

}  // namespace halvorin
