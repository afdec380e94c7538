#include "enclosure/ops/tar_reader.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace halvorin {

namespace {

constexpr size_t kBlock = 512;
using Block = std::span<const uint8_t, kBlock>;

// Header fields (offset, size).
constexpr size_t kNameField = 0, kNameSize = 100;
constexpr size_t kSizeField = 124, kSizeSize = 12;
constexpr size_t kChecksumField = 148, kChecksumSize = 8;
constexpr size_t kTypeField = 156;
constexpr size_t kMagicField = 257;
constexpr size_t kPrefixField = 345, kPrefixSize = 155;

// An octal field: leading blanks and other non-octal characters skipped, then
// digits up to the field's end. Nothing when no digit is there.
std::optional<uint64_t> Octal(Block block, size_t offset, size_t size) {
    size_t i = offset;
    const size_t end = offset + size;
    while (i < end && (block[i] < '0' || block[i] > '7')) {
        if (block[i] & 0x80) return std::nullopt;  // a base-256 size: larger than we take
        ++i;
    }
    if (i == end) return std::nullopt;
    uint64_t value = 0;
    for (; i < end && block[i] >= '0' && block[i] <= '7'; ++i)
        value = value * 8 + (block[i] - '0');
    return value;
}

bool ChecksumMatches(Block block) {
    auto stored = Octal(block, kChecksumField, kChecksumSize);
    if (!stored) return false;
    uint64_t sum = 0;
    for (size_t i = 0; i < kBlock; ++i) {
        const bool in_field = i >= kChecksumField && i < kChecksumField + kChecksumSize;
        sum += in_field ? uint8_t{' '} : block[i];
    }
    return sum == *stored;
}

// A field up to its first zero byte or its end, whichever comes first.
std::string Field(Block block, size_t offset, size_t size) {
    const char* p = reinterpret_cast<const char*>(block.data() + offset);
    return std::string(p, strnlen(p, size));
}

std::string EntryName(Block block) {
    std::string name = Field(block, kNameField, kNameSize);
    const bool ustar = std::memcmp(block.data() + kMagicField, "ustar", 5) == 0;
    const std::string prefix = ustar ? Field(block, kPrefixField, kPrefixSize) : "";
    return prefix.empty() ? name : prefix + "/" + name;
}

// Absolute names and ".." components would reach outside the package; an
// archive that holds them is not one we trust with firmware.
bool IsUnsafeName(std::string_view name) {
    if (name.empty()) return false;
    if (name.front() == '/') return true;
    size_t start = 0;
    while (start <= name.size()) {
        const size_t slash = std::min(name.find('/', start), name.size());
        if (name.substr(start, slash - start) == "..") return true;
        start = slash + 1;
    }
    return false;
}

bool IsWantedFile(std::string_view name, std::string_view wanted) {
    return name == wanted || (name.starts_with("./") && name.substr(2) == wanted);
}

bool IsRegularFile(uint8_t type) {
    return type == '0' || type == '\0' || type == '7';
}

bool IsZero(Block block) {
    return std::all_of(block.begin(), block.end(), [](uint8_t b) { return b == 0; });
}

std::string MiB(uint64_t bytes) {
    return std::to_string(bytes >> 20) + " MiB";
}

}  // namespace

PackageProblem FindFirmwareFile(std::span<const uint8_t> archive, std::span<const uint8_t>& file,
                                uint64_t max_file_size) {
    return FindArchiveFile(archive, kFirmwareFileName, file, max_file_size);
}

PackageProblem FindArchiveFile(std::span<const uint8_t> archive, std::string_view wanted,
                               std::span<const uint8_t>& file, uint64_t max_file_size) {
    const std::string wanted_name(wanted);
    file = {};
    bool found = false;
    size_t at = 0;
    while (true) {
        if (archive.size() - at < kBlock)
            return Problem(kInvalidFirmware,
                           "damaged: the tar archive ends without its end marker");
        const Block block = archive.subspan(at).first<kBlock>();
        at += kBlock;
        if (IsZero(block)) break;
        if (!ChecksumMatches(block))
            return Problem(kInvalidFirmware, "damaged: a tar header's checksum is wrong");
        const auto size = Octal(block, kSizeField, kSizeSize);
        if (!size) return Problem(kInvalidFirmware, "damaged: a tar header has no valid size");
        const std::string name = EntryName(block);
        if (IsUnsafeName(name))
            return Problem(kInvalidFirmware,
                           "refused: the archive holds a name outside itself (" + name + ")");
        const uint8_t type = block[kTypeField];
        // Only regular files carry data blocks we read; links, devices and
        // directories have none. Other types (pax headers, ...) carry data to skip.
        const bool has_data = !(type >= '1' && type <= '6');
        const uint64_t data_size = has_data ? *size : 0;
        const uint64_t data_blocks = (data_size + kBlock - 1) / kBlock;
        if (data_blocks > (archive.size() - at) / kBlock)
            return Problem(kInvalidFirmware, "damaged: the tar archive ends inside an entry");
        if (IsRegularFile(type) && IsWantedFile(name, wanted)) {
            if (found)
                return Problem(kInvalidFirmware,
                               "refused: the archive holds " + wanted_name + " twice");
            if (data_size > max_file_size)
                return Problem(kInvalidFirmware,
                               "too large: " + wanted_name + " is over " + MiB(max_file_size));
            file = archive.subspan(at, static_cast<size_t>(data_size));
            found = true;
        }
        at += static_cast<size_t>(data_blocks * kBlock);
    }
    if (!found)
        return Problem(kPackageOpenFailed,
                       wanted == kFirmwareFileName
                           ? "no firmware image: the package holds no jbod_fw.bin"
                           : "the package holds no " + wanted_name);
    return PackageProblem::None();
}

}  // namespace halvorin
