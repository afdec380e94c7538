// Firmware upgrade of an enclosure from a package, on a thread of its own
// (at most one per device). The thread unpacks and checks the package, then
// downloads image A to buffer 2 (mode 7) and image B to buffer 1 (mode 6) in
// 1024-byte pieces with the download microcode pages, resuming where the
// enclosure says it stopped. It reports only through the sub-enclosure's
// upgrade state: 0..99 while it runs, 100 during the activation wait, then
// its result (-22 completed, or a negative failure).
//
// The thread's requests travel like any other of the domain and their
// handlers run in the poll step, so the poll step must keep running. Nothing
// on the poll thread ever waits for an upgrade thread, and the thread never
// waits for the poll thread without a limit: a lost connection, a reply that
// does not come, or StopFirmwareUpgrades ends its wait.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "enclosure/ops/firmware_package.h"

namespace halvorin {

class CSubEnc;

inline constexpr uint8_t kImageABuffer = 2;
inline constexpr uint8_t kImageBBuffer = 1;
inline constexpr uint8_t kImageAMode = 7;
inline constexpr uint8_t kImageBMode = 6;
inline constexpr size_t kDownloadPiece = 1024;
inline constexpr int kMaxConsecutiveTimeouts = 20;
inline constexpr int kUpgradeActivating = 100;

struct UpgradeOptions {
    std::chrono::milliseconds activation_wait{10000};  // after the enclosure took both images
    uint64_t archive_limit = kMaxFirmwareArchive;
    // Beyond the request's own timeout: how long the thread waits for the
    // poll step to deliver an answer before it gives up with -7.
    std::chrono::seconds delivery_grace{10};
};

// 0 when the thread was started; -17 while an upgrade of this sub-enclosure
// runs, -21 while one runs on another sub-enclosure of the device, -6 when no
// thread could be started (the upgrade state then says so too).
int StartFirmwareUpgrade(CSubEnc* subenc, const std::string& package_path,
                         UpgradeOptions options = {});
// The same with a package the caller has already unpacked and checked.
int StartFirmwareUpgrade(CSubEnc* subenc, UnpackedFirmware firmware, UpgradeOptions options = {});

// Ends every upgrade (its state becomes -15 unless it had finished) and joins
// the threads. Prompt in every state: waits for answers and the activation
// wait are cut short. Called at application exit, before the domains stop.
void StopFirmwareUpgrades();

}  // namespace halvorin
