#include "net/client/ses_client.h"

#include "net/client/ses_client_request.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>

#include <sys/socket.h>
#include <cstring>

#include <algorithm>
#include <cerrno>

#include "base/byte_order.h"
#include "base/host_name.h"
#include "base/result_code.h"
#include "base/utf16.h"
#include "net/protocol/host_address.h"

namespace halvorin {

CSesClient::CSesClient(std::string server_address, ClientOptions options)
    : server_address_(std::move(server_address)),
      options_(std::move(options)),
      loop_(options_.loop ? options_.loop : &ConnectionLoop::Shared()) {
    if (!options_.completions) completions_waiting_ = std::make_unique<Wakeup>();
    auto parsed = ParseHostAddress(server_address_, options_.default_port);
    address_valid_ = parsed.has_value();
    host_ = parsed ? parsed->host : server_address_;
    port_ = parsed ? parsed->port : options_.default_port;
    for (size_t i = 0; i < kRequestSlots; ++i)
        slots_[i].tag = static_cast<uint32_t>(i);
}

CSesClient::~CSesClient() {
    {
        std::lock_guard lock(mutex_);
        state_ = kStateClosed;
    }
    stop_ = true;
    if (attached_) loop_->Detach(this);
    ReleaseAttempt();
    if (options_.completions) options_.completions->Forget(this);
    // What is left goes without its handlers: the owner has gone.
    std::lock_guard lock(mutex_);
    for (Slot& slot : slots_)
        slot.pending.reset();
    completed_.clear();
}

int CSesClient::Start() {
    const int current = state_.load();
    if (current != kStateConstructed && current != kStateClosed) return kOk;
    if (attached_) {
        loop_->Detach(this);
        attached_ = false;
    }
    computer_name_ =
        options_.computer_name.empty() ? ManagerComputerName() : options_.computer_name;
    const bool signal_valid =
        options_.completions ? options_.completions->valid() : completions_waiting_->valid();
    if (!signal_valid) return kNoResource;
    stop_ = false;
    retry_time_ = 0;
    last_tick_ms_ = options_.clock->TickMs();
    state_ = kStateWaiting;
    if (!loop_->Attach(this)) {
        state_ = kStateConstructed;
        return kNoResource;
    }
    attached_ = true;
    ever_started_ = true;
    return kOk;
}

// Once the loop has let go, everything the connection thread owned is ours.
void CSesClient::Stop() {
    {
        std::lock_guard lock(mutex_);
        state_ = kStateClosed;
    }
    FailAll(kClosing);
    stop_ = true;
    if (attached_) {
        loop_->Detach(this);
        attached_ = false;
    }
    Disconnect();
    state_ = kStateClosed;
    resolution_.reset();
    finished_lookup_.reset();
    ReleaseAttempt();
    DeliverCompleted();
}

void CSesClient::Wake() {
    if (attached_) loop_->Wake(this);
}

// ---- requests ------------------------------------------------------------------

int CSesClient::SendScsiIn(const SES_ADDR& address, const Cdb& cdb, int timeout_s,
                           ReplyHandler handler, uint64_t connection) {
    SCSI_REQ req{address, cdb, kMaxDataIn, static_cast<uint32_t>(std::max(timeout_s, 0))};
    auto payload = EncodeScsiReq(req);
    return Enqueue(MSG_SCSI_IN, payload, timeout_s, std::move(handler), connection);
}

int CSesClient::SendScsiOut(const SES_ADDR& address, const Cdb& cdb, std::span<const uint8_t> data,
                            int timeout_s, ReplyHandler handler, uint64_t connection) {
    if (data.size() > kMaxPayload - kScsiReqSize) return kShortOrTooLarge;
    SCSI_REQ req{address, cdb, static_cast<uint32_t>(data.size()),
                 static_cast<uint32_t>(std::max(timeout_s, 0))};
    auto fixed = EncodeScsiReq(req);
    std::vector<uint8_t> payload(fixed.begin(), fixed.end());
    payload.insert(payload.end(), data.begin(), data.end());
    return Enqueue(MSG_SCSI_OUT, payload, timeout_s, std::move(handler), connection);
}

int CSesClient::Enqueue(uint8_t type, std::span<const uint8_t> payload, int timeout_s,
                        ReplyHandler handler, uint64_t connection) {
    if (payload.size() > kMaxPayload) return kShortOrTooLarge;
    auto request = std::make_unique<Request>();
    MSG_HDR header;
    header.type = type;
    header.request = 1;
    request->message = BuildMessage(header, payload);
    request->handler = std::move(handler);
    request->connection = connection;
    int slot;
    {
        std::lock_guard lock(mutex_);
        // A closed client would never end the request.
        if (state_ == kStateClosed) return kClosing;
        if (connection != kAnyConnection &&
            (connection != connection_generation_ || state_ != kStateReady))
            return kConnectionLost;
        slot = EnqueueLocked(std::move(request), timeout_s, false);
    }
    if (slot < 0) return slot;
    if (state_ == kStateReady) Wake();
    return kOk;
}

int CSesClient::EnqueueLocked(std::unique_ptr<Request> request, int timeout_s, bool hold_out) {
    const int offset = timeout_s <= 0 ? 1 : std::min(timeout_s, kMaxRequestTimeout);
    size_t index = kRequestSlots;
    for (size_t i = 0; i < kRequestSlots; ++i) {
        const size_t candidate = (search_position_ + i) % kRequestSlots;
        if (!slots_[candidate].pending) {
            index = candidate;
            break;
        }
    }
    if (index == kRequestSlots) return kNoResource;
    search_position_ = index;
    Slot& slot = slots_[index];
    slot.tag += kRequestSlots;
    put_be32(&request->message[4], slot.tag);
    request->slot = static_cast<uint16_t>(index);
    request->bucket = (offset + tick_counter_) & static_cast<int>(kTimeoutBuckets - 1);
    auto& bucket = buckets_[request->bucket];
    request->bucket_position = bucket.insert(bucket.end(), request.get());
    if (!hold_out) {
        request->queue_position = send_queue_.insert(send_queue_.end(), request.get());
        request->queued = true;
    }
    slot.pending = std::move(request);
    return static_cast<int>(index);
}

// Takes the request of a slot off its bucket and the send queue and parks it
// as completed. Also a reply to a request still queued (only a misbehaving
// agent can guess its tag) must not leave it linked anywhere.
void CSesClient::CompleteLocked(size_t index) {
    std::unique_ptr<Request> request = std::move(slots_[index].pending);
    if (request->bucket >= 0) {
        buckets_[request->bucket].erase(request->bucket_position);
        request->bucket = -1;
    }
    if (request->queued) {
        send_queue_.erase(request->queue_position);
        request->queued = false;
    }
    ParkCompletedLocked(std::move(request));
}

void CSesClient::ParkCompletedLocked(std::unique_ptr<Request> request) {
    const bool first = completed_.empty();
    completed_.push_back(std::move(request));
    if (first) NotifyCompletions();
}

void CSesClient::NotifyCompletions() {
    if (options_.completions)
        options_.completions->Notify(this);
    else
        completions_waiting_->Signal();
}

void CSesClient::FailSlotLocked(size_t index, int code) {
    Request& request = *slots_[index].pending;
    request.result = code;
    request.message.clear();
    request.reply.clear();
    CompleteLocked(index);
}

void CSesClient::FailAll(int code) {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < kRequestSlots; ++i) {
        if (slots_[i].pending) FailSlotLocked(i, code);
    }
}

void CSesClient::DeliverCompleted() {
    if (state_ == kStateConstructed) return;
    std::vector<std::unique_ptr<Request>> finished;
    {
        std::lock_guard lock(mutex_);
        finished.swap(completed_);
        // Readable exactly while completed_ is not empty: quiet it, and the
        // next completion signals again. Nothing to read when it was empty. A
        // shared signal is quieted by the owner's Take.
        if (!finished.empty() && completions_waiting_) completions_waiting_->Drain();
    }
    for (auto& request : finished) {
        if (request->handler) request->handler(request->reply, request->result);
    }
}

bool CSesClient::PostToOwner(std::function<void()> task) {
    auto request = std::make_unique<Request>();
    request->handler = [task = std::move(task)](std::span<const uint8_t>, int) { task(); };
    std::lock_guard lock(mutex_);
    if (state_ == kStateClosed) return false;
    ParkCompletedLocked(std::move(request));
    return true;
}

void CSesClient::SetReadyHandler(std::function<void()> handler) {
    ready_handler_ = std::move(handler);
}

int32_t CSesClient::tick_counter() const {
    std::lock_guard lock(mutex_);
    return tick_counter_;
}

uint64_t CSesClient::connection_generation() const {
    std::lock_guard lock(mutex_);
    return connection_generation_;
}

bool CSesClient::quiet() const {
    std::lock_guard lock(mutex_);
    if (!completed_.empty()) return false;
    return std::none_of(slots_.begin(), slots_.end(),
                        [](const Slot& slot) { return slot.pending != nullptr; });
}

size_t CSesClient::pending_requests() const {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const Slot& slot : slots_)
        n += slot.pending ? 1 : 0;
    return n;
}

}  // namespace halvorin

namespace halvorin {}  // namespace halvorin
