#include "sim/tcmu/tcmu_lun.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>

#include "base/log.h"

namespace halvorin::sim {

namespace {

constexpr uint8_t kStatusCheckCondition = 0x02;
constexpr uint8_t kStatusTaskAborted = 0x40;
constexpr uint32_t kSimulatedTimeoutSeconds = 3600;  // the kernel times commands out, not us
constexpr int kLoopTickMs = 200;

// The ring does not say which way a command's data goes; the opcode does.
DataDirection DirectionOf(uint8_t opcode) {
    static constexpr uint8_t kDataOut[] = {
        0x0A, 0x2A, 0xAA, 0x8A,  // WRITE (6, 10, 12, 16)
        0x15, 0x55,              // MODE SELECT (6, 10)
        0x1D,                    // SEND DIAGNOSTIC
        0x3B,                    // WRITE BUFFER
        0x4C,                    // LOG SELECT
        0x5F,                    // PERSISTENT RESERVE OUT
        0xB5,                    // SECURITY PROTOCOL OUT
    };
    return std::find(std::begin(kDataOut), std::end(kDataOut), opcode) != std::end(kDataOut)
               ? DataDirection::kOut
               : DataDirection::kIn;
}

// Fixed-format sense for an answer the simulator could not give.
TcmuAnswer CheckCondition(uint16_t id, uint8_t key, uint8_t asc) {
    TcmuAnswer answer{id, kStatusCheckCondition, 0, std::vector<uint8_t>(18, 0)};
    answer.sense[0] = 0x70;
    answer.sense[2] = key;
    answer.sense[7] = 10;
    answer.sense[12] = asc;
    return answer;
}

std::string Hex(uint8_t byte) {
    static constexpr char kDigits[] = "0123456789abcdef";
    return {kDigits[byte >> 4], kDigits[byte & 15]};
}

void WaitForStop(std::stop_token stop) {
    std::mutex mutex;
    std::condition_variable_any never;
    std::unique_lock lock(mutex);
    never.wait(lock, stop, [] { return false; });
}

std::vector<uint8_t> Gather(const TcmuCommand& command) {
    std::vector<uint8_t> data;
    data.reserve(command.DataLength());
    for (const auto& piece : command.data)
        data.insert(data.end(), piece.begin(), piece.end());
    return data;
}

void Scatter(const std::vector<uint8_t>& data, size_t length, const TcmuCommand& command) {
    size_t done = 0;
    for (const auto& piece : command.data) {
        const size_t n = std::min(piece.size(), length - done);
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(done), n, piece.begin());
        done += n;
        if (done == length) break;
    }
}

}  // namespace

TcmuLun::TcmuLun(TcmuLunOptions options)
    : options_(std::move(options)),
      device_(options_.node, options_.map_size),
      ring_(device_.memory()),
      loop_([this](std::stop_token stop) { Loop(stop); }) {
    Log(options_.name + ": serving " + options_.node.string() +
        (ring_.TellsAborts() ? "" : " (the kernel does not pass aborts on)"));
}

TcmuLun::~TcmuLun() {
    loop_.request_stop();
    if (loop_.joinable()) loop_.join();
}

bool TcmuLun::Running() const {
    return running_;
}

void TcmuLun::Loop(std::stop_token stop) {
    try {
        // Commands queued before the device was opened raise no interrupt.
        bool readable = true;
        while (!stop.stop_requested()) {
            pollfd fds[2] = {{device_.fd(), POLLIN, 0}, {finished_signal_.fd(), POLLIN, 0}};
            if (::poll(fds, 2, readable ? 0 : kLoopTickMs) < 0 && errno != EINTR) break;
            if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
                Log(LogPriority::kWarning, options_.name + ": the device went away");
                break;
            }
            if (readable || (fds[0].revents & POLLIN)) {
                readable = false;
                ReadRing();
            }
            if (fds[1].revents & POLLIN) {
                finished_signal_.Drain();
                AnswerFinished();
            }
        }
    } catch (const std::exception& e) {
        Log(LogPriority::kError, options_.name + ": " + e.what());
    }
    StopAndAnswerTheRest();
    running_ = false;
}

void TcmuLun::ReadRing() {
    device_.Acknowledge();
    for (auto& entry : ring_.TakeNew()) {
        if (auto* command = std::get_if<TcmuCommand>(&entry))
            Start(std::move(*command));
        else
            Abort(std::get<TcmuAbort>(entry));
    }
    device_.Notify();  // padding and aborts given back
}

// Stops what still runs and answers it, so the kernel is not left waiting.
void TcmuLun::StopAndAnswerTheRest() {
    std::map<uint16_t, InFlight> remaining;
    {
        std::lock_guard lock(mutex_);
        remaining.swap(in_flight_);
    }
    for (auto& [id, command] : remaining)
        command.stop.request_stop();
    remaining.clear();  // joins
    try {
        AnswerFinished();
    } catch (const std::exception& e) {
        Log(LogPriority::kError, options_.name + ": " + e.what());
    }
}

void TcmuLun::Start(TcmuCommand command) {
    std::lock_guard lock(mutex_);
    InFlight& slot = in_flight_[command.id];
    const std::stop_token stop = slot.stop.get_token();
    slot.thread = std::jthread([this, stop, command = std::move(command)] {
        TcmuAnswer answer = Execute(command, stop);
        std::lock_guard lock(mutex_);
        finished_.push_back(std::move(answer));
        finished_signal_.Signal();
    });
}

void TcmuLun::Abort(const TcmuAbort& abort) {
    std::lock_guard lock(mutex_);
    for (uint16_t id : abort.ids) {
        Log(options_.name + ": the kernel aborts command " + std::to_string(id));
        if (auto it = in_flight_.find(id); it != in_flight_.end()) it->second.stop.request_stop();
    }
}

void TcmuLun::AnswerFinished() {
    std::vector<TcmuAnswer> answers;
    std::vector<InFlight> done;
    {
        std::lock_guard lock(mutex_);
        answers.swap(finished_);
        for (const TcmuAnswer& answer : answers) {
            if (auto node = in_flight_.extract(answer.id)) done.push_back(std::move(node.mapped()));
        }
    }
    done.clear();  // joins threads that have already handed over their answer
    for (const TcmuAnswer& answer : answers)
        ring_.Answer(answer);
    if (!answers.empty()) device_.Notify();
}

TcmuAnswer TcmuLun::Execute(const TcmuCommand& command, std::stop_token stop) {
    const auto started = std::chrono::steady_clock::now();
    if (options_.take_hold && options_.take_hold(command.cdb)) {
        Log(options_.name + ": holding command " + std::to_string(command.id) + " (opcode 0x" +
            Hex(command.cdb[0]) + ") until it is aborted");
        WaitForStop(stop);
        const auto held = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - started);
        Log(options_.name + ": command " + std::to_string(command.id) + " aborted after " +
            std::to_string(held.count()) + " ms");
        return TcmuAnswer{command.id, kStatusTaskAborted, 0, {}};
    }
    std::vector<uint8_t> data = Gather(command);
    const DataDirection direction = DirectionOf(command.cdb[0]);
    const ScsiIo io{options_.unit, command.cdb, direction, data, kSimulatedTimeoutSeconds};
    const ScsiIoResult result = options_.host->Execute(io, stop);
    if (stop.stop_requested()) return TcmuAnswer{command.id, kStatusTaskAborted, 0, {}};
    switch (result.outcome) {
        case ScsiIoResult::Outcome::kCompleted: {
            TcmuAnswer answer{command.id, result.status, 0, {}};
            const size_t sense_length = std::min<size_t>(result.sense_length, result.sense.size());
            answer.sense.assign(result.sense.begin(), result.sense.begin() + sense_length);
            if (direction == DataDirection::kIn) {
                answer.data_in_length = std::min<uint32_t>(result.transferred, data.size());
                Scatter(data, answer.data_in_length, command);
            }
            return answer;
        }
        case ScsiIoResult::Outcome::kNoDevice:              // restarting or shut down
            return CheckCondition(command.id, 0x02, 0x04);  // NOT READY, not ready
        case ScsiIoResult::Outcome::kTimedOut:
        case ScsiIoResult::Outcome::kFailed:
            break;
    }
    return CheckCondition(command.id, 0x04, 0x44);  // HARDWARE ERROR, internal target failure
}

}  // namespace halvorin::sim
