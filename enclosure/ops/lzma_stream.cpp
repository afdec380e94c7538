#include "enclosure/ops/lzma_stream.h"

#include <lzma.h>

#include <new>
#include <string>

namespace halvorin {

namespace {

constexpr uint64_t kDecoderMemoryLimit = 128ull << 20;
constexpr size_t kOutputStep = 1 << 20;

struct LzmaStream {
    lzma_stream stream = LZMA_STREAM_INIT;
    ~LzmaStream() { lzma_end(&stream); }
};

// The 13-byte header of an LZMA-alone stream as encoders write it: a valid
// properties byte, a dictionary size of 2^n or 2^n + 2^(n-1), and a size that
// is unknown or plausible. liblzma takes far more, so random bytes would
// otherwise pass for a package with a huge dictionary.
bool LooksLikeLzmaAlone(std::span<const uint8_t> input) {
    constexpr size_t kHeaderSize = 13;
    if (input.size() < kHeaderSize || input[0] >= 9 * 5 * 5) return false;
    uint32_t dictionary = 0;
    for (int i = 3; i >= 0; --i)
        dictionary = dictionary << 8 | input[1 + i];
    uint64_t size = 0;
    for (int i = 7; i >= 0; --i)
        size = size << 8 | input[5 + i];
    if (size != UINT64_MAX && size >= (uint64_t{1} << 38)) return false;
    if (dictionary == UINT32_MAX) return true;
    for (uint64_t power = 1; power <= UINT32_MAX; power <<= 1) {
        if (dictionary == power || dictionary == power + (power >> 1)) return true;
    }
    return false;
}

std::string MiB(uint64_t bytes) {
    return std::to_string(bytes >> 20) + " MiB";
}

PackageProblem DecoderProblem(lzma_ret ret, bool started) {
    switch (ret) {
        case LZMA_FORMAT_ERROR:
            return Problem(kInvalidFirmware, "not an LZMA package");
        case LZMA_MEMLIMIT_ERROR:
            return Problem(kInvalidFirmware, "too large: its LZMA stream needs more than " +
                                                 MiB(kDecoderMemoryLimit) + " to unpack");
        case LZMA_MEM_ERROR:
            return Problem(kOutOfMemory, "out of memory while unpacking");
        case LZMA_BUF_ERROR:
            return Problem(kInvalidFirmware, started ? "truncated: the LZMA stream ends early"
                                                     : "not an LZMA package (empty)");
        default:
            return Problem(kInvalidFirmware, "damaged: the LZMA stream is corrupt");
    }
}

}  // namespace

PackageProblem DecompressLzma(std::span<const uint8_t> input, std::vector<uint8_t>& output,
                              uint64_t limit, const std::atomic<bool>* stop) {
    output.clear();
    if (!LooksLikeLzmaAlone(input)) return Problem(kInvalidFirmware, "not an LZMA package");
    LzmaStream lzma;
    // The header names the dictionary size; a hostile one must not make us
    // allocate gigabytes.
    if (lzma_alone_decoder(&lzma.stream, kDecoderMemoryLimit) != LZMA_OK)
        return Problem(kOutOfMemory, "out of memory while unpacking");
    lzma.stream.next_in = input.data();
    lzma.stream.avail_in = input.size();
    try {
        while (true) {
            if (stop && *stop) {
                output.clear();
                return Problem(kClosing, "interrupted");
            }
            if (output.size() >= limit + 1) {
                output.clear();
                return Problem(kInvalidFirmware,
                               "too large: it unpacks to more than " + MiB(limit));
            }
            // One byte beyond the limit tells a stream that ends exactly there
            // from one that goes on.
            const size_t used = output.size();
            output.resize(std::min<uint64_t>(used + kOutputStep, limit + 1));
            lzma.stream.next_out = output.data() + used;
            lzma.stream.avail_out = output.size() - used;
            const lzma_ret ret = lzma_code(&lzma.stream, LZMA_FINISH);
            output.resize(output.size() - lzma.stream.avail_out);
            if (ret == LZMA_STREAM_END) {
                if (output.size() > limit) break;
                return PackageProblem::None();
            }
            if (ret != LZMA_OK) {
                const bool started = lzma.stream.total_in > 0 && !input.empty();
                output.clear();
                return DecoderProblem(ret, started);
            }
        }
    } catch (const std::bad_alloc&) {
        output.clear();
        return Problem(kOutOfMemory, "out of memory while unpacking");
    }
    output.clear();
    return Problem(kInvalidFirmware, "too large: it unpacks to more than " + MiB(limit));
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
