// Reads the firmware package's tar archive (POSIX ustar, 512-byte blocks) and
// extracts the one file the upgrade needs, "jbod_fw.bin", into a directory.
// Everything else in the archive is skipped; nothing is ever written outside
// the directory and no link is ever created or followed.
#pragma once

#include <cstdint>
#include <filesystem>

namespace halvorin {

inline constexpr const char* kFirmwareFileName = "jbod_fw.bin";
inline constexpr uint64_t kMaxFirmwareFile = 32ull << 20;

// 0 once the end of the archive is reached (the file may be absent); -19 for
// a malformed or hostile archive (a short block, a bad header checksum, an
// absolute name or one with "..", an entry over the size limit, the file
// twice); -9 when the file cannot be written.
int ExtractFirmwareFile(const std::filesystem::path& archive,
                        const std::filesystem::path& directory,
                        uint64_t max_file_size = kMaxFirmwareFile);

}  // namespace halvorin
