// Reads the firmware package's tar archive (POSIX ustar, 512-byte blocks) in
// memory and finds the one file the upgrade needs, "jbod_fw.bin", at the
// archive's top level. Everything else is skipped; nothing is written
// anywhere, so no name or link in the archive can reach the file system.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "enclosure/ops/package_problem.h"

namespace halvorin {

inline constexpr std::string_view kFirmwareFileName = "jbod_fw.bin";
// Optional beside it: the firmware revision the images hold, as the
// enclosure reports it ("2.0.8"), one line of text.
inline constexpr std::string_view kFirmwareRevisionFileName = "jbod_fw.rev";
inline constexpr uint64_t kMaxRevisionFile = 64;
inline constexpr uint64_t kMaxFirmwareFile = 32ull << 20;

// The file's bytes (a view into `archive`) once the whole archive has been
// read to its end marker. -16 when the archive has no such file; -19 for a
// malformed or hostile archive (a short block, a bad header checksum, an
// absolute name or one with "..", the file over the size limit or twice).
PackageProblem FindFirmwareFile(std::span<const uint8_t> archive, std::span<const uint8_t>& file,
                                uint64_t max_file_size = kMaxFirmwareFile);
// The same for any file at the top level (-16 when it is not there).
PackageProblem FindArchiveFile(std::span<const uint8_t> archive, std::string_view name,
                               std::span<const uint8_t>& file, uint64_t max_file_size);

}  // namespace halvorin
