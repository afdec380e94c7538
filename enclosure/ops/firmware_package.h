// A firmware package: an LZMA-alone stream of a tar archive holding
// "jbod_fw.bin", which is a FirmwareHeader followed by two images. Opening
// one unpacks it into a private directory and checks it against the
// enclosure's model before a single byte goes to the enclosure.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "enclosure/ops/firmware_header.h"
#include "enclosure/ops/lzma_stream.h"
#include "enclosure/ops/private_directory.h"

namespace halvorin {

inline constexpr size_t kMaxPackagePath = 260;

// The two images, copied out and checked, in the package's private directory.
struct UnpackedFirmware {
    PrivateDirectory directory;
    std::filesystem::path image_a, image_b;
    uint32_t length_a = 0, length_b = 0;
};

// Unpacks and checks a package for an enclosure of the given model text. On
// failure: -16 (package unreadable, no "jbod_fw.bin"), -19 (corrupt: archive,
// header, check value, image digests), -20 (another model), -6 or -9.
int UnpackFirmware(const std::string& package_path, const std::string& model_text,
                   std::optional<UnpackedFirmware>& out,
                   uint64_t archive_limit = kMaxFirmwareArchive);

// Checks "jbod_fw.bin" and copies its images into two files, computing each
// image's MD5 as it goes.
int VerifyFirmwareFile(const std::filesystem::path& file, const std::string& model_text,
                       const std::filesystem::path& image_a, const std::filesystem::path& image_b);

// Builds a package (what halvorin-mkfw writes and tests use).
std::vector<uint8_t> BuildFirmwareFile(const std::string& model,
                                       const std::vector<uint8_t>& image_a,
                                       const std::vector<uint8_t>& image_b);
std::vector<uint8_t> BuildTarArchive(const std::string& name, const std::vector<uint8_t>& content);
std::vector<uint8_t> BuildFirmwarePackage(const std::string& model,
                                          const std::vector<uint8_t>& image_a,
                                          const std::vector<uint8_t>& image_b);

}  // namespace halvorin
