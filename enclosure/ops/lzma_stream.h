// Firmware packages are LZMA-alone (".lzma") streams. They are unpacked in
// memory, never on disk, and decompression stops, failing, at a size limit,
// so a small package cannot expand into a memory-filling bomb.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <vector>

#include "enclosure/ops/package_problem.h"

namespace halvorin {

inline constexpr uint64_t kMaxFirmwareArchive = 64ull << 20;

// The decompressed bytes, or -19 (not LZMA, corrupt, truncated, or larger
// than `limit` once unpacked) or -3 (no memory), each with its reason; -15
// as soon as `stop` (looked at every megabyte) is set.
PackageProblem DecompressLzma(std::span<const uint8_t> input, std::vector<uint8_t>& output,
                              uint64_t limit = kMaxFirmwareArchive,
                              const std::atomic<bool>* stop = nullptr);

// For building packages: the bytes as an LZMA-alone stream.
std::vector<uint8_t> CompressLzmaAlone(std::span<const uint8_t> bytes);

}  // namespace halvorin
