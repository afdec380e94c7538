// A firmware package: an LZMA-alone stream of a tar archive holding
// "jbod_fw.bin", which is a FirmwareHeader followed by two images. Opening
// one unpacks it in memory and checks it against the enclosure's model before
// a single byte goes to the enclosure. Nothing of it is ever written to disk,
// so nothing can be left behind, not even when the process is killed.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "enclosure/ops/firmware_header.h"
#include "enclosure/ops/lzma_stream.h"
#include "enclosure/ops/package_problem.h"

namespace halvorin {

inline constexpr size_t kMaxPackagePath = 260;

// The two images, copied out of the package and checked.
struct UnpackedFirmware {
    FirmwareHeader header;
    std::vector<uint8_t> image_a, image_b;
    std::string revision;  // what the images hold, when the package says; else empty
};

// Reads a package file whole: -16 when the path is empty or too long, the
// file cannot be opened, or it is not a regular file (a FIFO, a device or a
// directory is refused without reading a byte); -19 when it is larger than
// `limit`.
PackageProblem ReadPackageFile(const std::string& package_path, std::vector<uint8_t>& bytes,
                               uint64_t limit = kMaxFirmwareArchive);

// Reads, unpacks and checks a package for an enclosure of the given model
// text. On failure: -16 (package unreadable or without "jbod_fw.bin"), -19
// (corrupt or too large: stream, archive, header, check value, image
// digests), -20 (another model), -3; -15 once `stop` is set.
PackageProblem UnpackFirmware(const std::string& package_path, const std::string& model_text,
                              std::optional<UnpackedFirmware>& out,
                              uint64_t archive_limit = kMaxFirmwareArchive,
                              const std::atomic<bool>* stop = nullptr);

// The same for the bytes of a package already read.
PackageProblem UnpackFirmwareBytes(std::span<const uint8_t> package, const std::string& model_text,
                                   std::optional<UnpackedFirmware>& out,
                                   uint64_t archive_limit = kMaxFirmwareArchive,
                                   const std::atomic<bool>* stop = nullptr);

// Checks "jbod_fw.bin" and copies its images out, comparing each image's MD5.
PackageProblem VerifyFirmwareFile(std::span<const uint8_t> file, const std::string& model_text,
                                  UnpackedFirmware& out);

// Builds a package (what halvorin-mkfw writes and tests use).
std::vector<uint8_t> BuildFirmwareFile(const std::string& model,
                                       const std::vector<uint8_t>& image_a,
                                       const std::vector<uint8_t>& image_b);
using ArchiveMember = std::pair<std::string, std::vector<uint8_t>>;
std::vector<uint8_t> BuildTarArchive(const std::string& name, const std::vector<uint8_t>& content);
std::vector<uint8_t> BuildTarArchive(const std::vector<ArchiveMember>& members);
// `revision`, when given, goes beside the images (see kFirmwareRevisionFileName).
std::vector<uint8_t> BuildFirmwarePackage(const std::string& model,
                                          const std::vector<uint8_t>& image_a,
                                          const std::vector<uint8_t>& image_b,
                                          const std::string& revision = "");

}  // namespace halvorin
