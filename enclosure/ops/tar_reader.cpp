#include "enclosure/ops/tar_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "base/result_code.h"
#include "base/unique_fd.h"

namespace halvorin {

namespace {

constexpr size_t kBlock = 512;
using Block = std::array<uint8_t, kBlock>;

// Header fields (offset, size).
constexpr size_t kNameField = 0, kNameSize = 100;
constexpr size_t kSizeField = 124, kSizeSize = 12;
constexpr size_t kChecksumField = 148, kChecksumSize = 8;
constexpr size_t kTypeField = 156;
constexpr size_t kMagicField = 257;
constexpr size_t kPrefixField = 345, kPrefixSize = 155;

enum class ReadResult { kBlock, kEnd, kShort };

ReadResult ReadBlock(int fd, Block& block) {
    size_t got = 0;
    while (got < kBlock) {
        const ssize_t n = ::read(fd, block.data() + got, kBlock - got);
        if (n < 0) return ReadResult::kShort;
        if (n == 0) return got == 0 ? ReadResult::kEnd : ReadResult::kShort;
        got += static_cast<size_t>(n);
    }
    return ReadResult::kBlock;
}

// An octal field: leading blanks and other non-octal characters skipped, then
// digits up to the field's end. Nothing when no digit is there.
std::optional<uint64_t> Octal(const Block& block, size_t offset, size_t size) {
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

bool ChecksumMatches(const Block& block) {
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
std::string Field(const Block& block, size_t offset, size_t size) {
    const char* p = reinterpret_cast<const char*>(block.data() + offset);
    return std::string(p, strnlen(p, size));
}

std::string EntryName(const Block& block) {
    std::string name = Field(block, kNameField, kNameSize);
    const bool ustar = std::memcmp(block.data() + kMagicField, "ustar", 5) == 0;
    const std::string prefix = ustar ? Field(block, kPrefixField, kPrefixSize) : "";
    return prefix.empty() ? name : prefix + "/" + name;
}

// Absolute names and ".." components could reach outside the directory.
bool IsUnsafeName(std::string_view name) {
    if (name.empty() || name.front() == '/') return !name.empty();
    size_t start = 0;
    while (start <= name.size()) {
        const size_t slash = std::min(name.find('/', start), name.size());
        if (name.substr(start, slash - start) == "..") return true;
        start = slash + 1;
    }
    return false;
}

bool IsWantedFile(std::string_view name) {
    return name == kFirmwareFileName || name == "./jbod_fw.bin";
}

bool IsRegularFile(uint8_t type) {
    return type == '0' || type == '\0' || type == '7';
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

int ExtractFirmwareFile(const std::filesystem::path& archive,
                        const std::filesystem::path& directory, uint64_t max_file_size) {
    UniqueFd in(::open(archive.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in.valid()) return kInvalidFirmware;
    bool extracted = false;
    Block block;
    while (true) {
        const ReadResult read = ReadBlock(in.get(), block);
        if (read != ReadResult::kBlock) return kInvalidFirmware;  // ended without its end marker
        if (std::all_of(block.begin(), block.end(), [](uint8_t b) { return b == 0; })) return kOk;
        if (!ChecksumMatches(block)) return kInvalidFirmware;
        const auto size = Octal(block, kSizeField, kSizeSize);
        if (!size) return kInvalidFirmware;
        const std::string name = EntryName(block);
        if (IsUnsafeName(name)) return kInvalidFirmware;
        const uint8_t type = block[kTypeField];
        // Only regular files carry data blocks we read; links, devices and
        // directories have none. Other types (pax headers, ...) carry data to skip.
        const bool has_data = !(type >= '1' && type <= '6');
        const uint64_t data_size = has_data ? *size : 0;

        UniqueFd out;
        if (IsRegularFile(type) && IsWantedFile(name)) {
            if (extracted || data_size > max_file_size) return kInvalidFirmware;
            const std::filesystem::path target = directory / kFirmwareFileName;
            out.reset(
                ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
            if (!out.valid()) return kGeneralFailure;
            extracted = true;
        }
        if (data_size > 8 * max_file_size) return kInvalidFirmware;  // not worth reading through
        for (uint64_t remaining = data_size; remaining > 0;) {
            if (ReadBlock(in.get(), block) != ReadResult::kBlock) return kInvalidFirmware;
            const size_t n = static_cast<size_t>(std::min<uint64_t>(remaining, kBlock));
            if (out.valid() && !WriteAll(out.get(), block.data(), n)) return kGeneralFailure;
            remaining -= n;
        }
    }
}

}  // namespace halvorin
