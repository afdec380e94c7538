#include "enclosure/ops/lzma_stream.h"

#include <fcntl.h>
#include <lzma.h>
#include <unistd.h>

#include <array>

#include "base/result_code.h"
#include "base/unique_fd.h"

namespace halvorin {

namespace {

constexpr uint64_t kDecoderMemoryLimit = 128ull << 20;

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

struct LzmaStream {
    lzma_stream stream = LZMA_STREAM_INIT;
    ~LzmaStream() { lzma_end(&stream); }
};

}  // namespace

int DecompressLzmaFile(const std::filesystem::path& input, const std::filesystem::path& output,
                       uint64_t limit) {
    UniqueFd in(::open(input.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in.valid()) return kPackageOpenFailed;
    UniqueFd out(
        ::open(output.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out.valid()) return kGeneralFailure;
    LzmaStream lzma;
    // The header names the dictionary size; a hostile one must not make us
    // allocate gigabytes.
    if (lzma_alone_decoder(&lzma.stream, kDecoderMemoryLimit) != LZMA_OK) return kNoResource;

    std::array<uint8_t, 65536> in_buffer, out_buffer;
    uint64_t written = 0;
    lzma_action action = LZMA_RUN;
    lzma.stream.next_out = out_buffer.data();
    lzma.stream.avail_out = out_buffer.size();
    while (true) {
        if (lzma.stream.avail_in == 0 && action == LZMA_RUN) {
            const ssize_t n = ::read(in.get(), in_buffer.data(), in_buffer.size());
            if (n < 0) return kInvalidFirmware;
            lzma.stream.next_in = in_buffer.data();
            lzma.stream.avail_in = static_cast<size_t>(n);
            if (n == 0) action = LZMA_FINISH;
        }
        const lzma_ret ret = lzma_code(&lzma.stream, action);
        const size_t produced = out_buffer.size() - lzma.stream.avail_out;
        if (lzma.stream.avail_out == 0 || ret == LZMA_STREAM_END) {
            written += produced;
            if (written > limit) return kInvalidFirmware;
            if (!WriteAll(out.get(), out_buffer.data(), produced)) return kGeneralFailure;
            lzma.stream.next_out = out_buffer.data();
            lzma.stream.avail_out = out_buffer.size();
        }
        if (ret == LZMA_STREAM_END) return kOk;
        if (ret != LZMA_OK) return kInvalidFirmware;  // corrupt, or the input ended early
    }
}

std::vector<uint8_t> CompressLzmaAlone(std::span<const uint8_t> bytes) {
    LzmaStream lzma;
    lzma_options_lzma options;
    lzma_lzma_preset(&options, 6);
    if (lzma_alone_encoder(&lzma.stream, &options) != LZMA_OK) return {};
    std::vector<uint8_t> out(bytes.size() + bytes.size() / 2 + 4096);
    lzma.stream.next_in = bytes.data();
    lzma.stream.avail_in = bytes.size();
    lzma.stream.next_out = out.data();
    lzma.stream.avail_out = out.size();
    while (true) {
        const lzma_ret ret = lzma_code(&lzma.stream, LZMA_FINISH);
        if (ret == LZMA_STREAM_END) break;
        if (ret != LZMA_OK) return {};
        if (lzma.stream.avail_out == 0) {
            const size_t used = out.size();
            out.resize(out.size() * 2);
            lzma.stream.next_out = out.data() + used;
            lzma.stream.avail_out = out.size() - used;
        }
    }
    out.resize(out.size() - lzma.stream.avail_out);
    return out;
}

}  // namespace halvorin
