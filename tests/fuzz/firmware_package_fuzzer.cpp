// Feeds arbitrary bytes to the firmware package reader at each of its three
// layers, since random bytes seldom survive the one above: the first byte
// picks the LZMA stream (the whole package), the tar archive, or the
// firmware file with its header and image digests.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "enclosure/ops/firmware_package.h"
#include "enclosure/ops/tar_reader.h"

using namespace halvorin;

namespace {

constexpr uint64_t kLimit = 8 << 20;  // enough for the corpus, small enough to stay quick

void ReadArchive(std::span<const uint8_t> archive) {
    std::span<const uint8_t> file;
    if (FindFirmwareFile(archive, file).failed()) return;
    UnpackedFirmware firmware;
    (void)VerifyFirmwareFile(file, "m810", firmware);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const std::span<const uint8_t> bytes(data + 1, size - 1);
    switch (data[0] % 3) {
        case 0: {
            std::optional<UnpackedFirmware> out;
            (void)UnpackFirmwareBytes(bytes, "m810", out, kLimit);
            break;
        }
        case 1:
            ReadArchive(bytes);
            break;
        default: {
            UnpackedFirmware firmware;
            (void)VerifyFirmwareFile(bytes, "m810", firmware);
            break;
        }
    }
    return 0;
}
