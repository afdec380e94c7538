// Firmware packages are LZMA-alone (".lzma") streams. Decompression writes a
// file and stops, failing, at a size limit, so a small package cannot expand
// into a disk-filling bomb.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace halvorin {

inline constexpr uint64_t kMaxFirmwareArchive = 64ull << 20;

// 0, or -16 (input unreadable), -19 (corrupt, truncated or over the limit),
// -9 (the output could not be written).
int DecompressLzmaFile(const std::filesystem::path& input, const std::filesystem::path& output,
                       uint64_t limit = kMaxFirmwareArchive);

// For building packages: the bytes as an LZMA-alone stream.
std::vector<uint8_t> CompressLzmaAlone(std::span<const uint8_t> bytes);

}  // namespace halvorin
