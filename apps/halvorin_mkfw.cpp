// halvorin-mkfw: builds a firmware package (an LZMA-alone stream of a tar
// archive holding "jbod_fw.bin": header, image A, image B) and inspects one.

#include <getopt.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "base/result_code.h"
#include "enclosure/ops/firmware_package.h"
#include "enclosure/ops/lzma_stream.h"
#include "enclosure/ops/tar_reader.h"

namespace {

using namespace halvorin;

constexpr const char* kUsage =
    "Usage: halvorin-mkfw --model MODEL --image-a FILE --image-b FILE [--revision R] -o PACKAGE\n"
    "       halvorin-mkfw --inspect PACKAGE\n"
    "Build a Halvorin firmware package, or print and check one.\n"
    "\n"
    "  --model MODEL     the enclosure model the firmware is for (at most 20 characters)\n"
    "  --image-a FILE    the image downloaded first (buffer 2)\n"
    "  --image-b FILE    the image downloaded second (buffer 1)\n"
    "  --revision R      the firmware revision the images hold, as the enclosure\n"
    "                    reports it (2.0.8): an upgrade to it is then known to be done\n"
    "  -o, --output FILE where to write the package (- for standard output)\n"
    "  --inspect FILE    print the package's header and check it\n"
    "  -h, --help        show this help and exit\n"
    "  -V, --version     show the version and exit\n";

// Only for usage errors and the build path, which hold nothing that needs
// cleaning up; inspecting returns its status instead.
[[noreturn]] void Fail(const std::string& message, int code = 1) {
    std::fprintf(stderr, "halvorin-mkfw: %s\n", message.c_str());
    std::exit(code);
}

int Report(const std::string& message, int code) {
    std::fprintf(stderr, "halvorin-mkfw: %s\n", message.c_str());
    return code;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) Fail("cannot read " + path);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string Hex(const Md5Digest& digest) {
    std::string out;
    char byte[3];
    for (uint8_t b : digest) {
        std::snprintf(byte, sizeof byte, "%02x", b);
        out += byte;
    }
    return out;
}

int Build(const std::string& model, const std::string& a, const std::string& b,
          const std::string& revision, const std::string& output) {
    if (model.empty() || model.size() > kFirmwareModelSize)
        Fail("the model text must have 1 to 20 characters");
    const bool printable =
        std::all_of(revision.begin(), revision.end(), [](char c) { return c > ' ' && c < 0x7F; });
    if (!printable || revision.size() > 32)
        Fail("the revision must be at most 32 printable characters without blanks");
    const std::vector<uint8_t> image_a = ReadFile(a), image_b = ReadFile(b);
    // An enclosure would take an empty image and be left without firmware.
    if (image_a.empty()) Fail(a + " is empty: an image needs at least one byte");
    if (image_b.empty()) Fail(b + " is empty: an image needs at least one byte");
    const std::vector<uint8_t> package = BuildFirmwarePackage(model, image_a, image_b, revision);
    if (package.empty()) Fail("compression failed");
    // "-o -": the package goes to standard output, the summary to standard error.
    const bool to_stdout = output == "-";
    if (to_stdout) {
        if (std::fwrite(package.data(), 1, package.size(), stdout) != package.size() ||
            std::fflush(stdout) != 0)
            Fail("cannot write the package to standard output");
    } else {
        std::ofstream out(output, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(package.data()),
                  static_cast<std::streamsize>(package.size()));
        if (!out) Fail("cannot write " + output);
    }
    std::fprintf(to_stdout ? stderr : stdout, "%s: %zu bytes for model %s\n",
                 to_stdout ? "standard output" : output.c_str(), package.size(), model.c_str());
    return 0;
}

// Prints one image's place and digest, and whether its bytes match.
bool ShowImage(const char* label, const FirmwareImage& image, std::span<const uint8_t> file) {
    const bool inside = uint64_t{image.offset} + image.length <= file.size();
    const Md5Digest actual = inside ? Md5Of(file.subspan(image.offset, image.length)) : Md5Digest{};
    const bool good = inside && actual == image.md5;
    std::printf("image %s: offset %u, %u bytes, MD5 %s  %s\n", label, image.offset, image.length,
                Hex(image.md5).c_str(),
                !inside ? "BEYOND THE END OF THE FILE"
                : good  ? "ok"
                        : "DIGEST MISMATCH");
    return good;
}

std::string TrimmedLine(std::span<const uint8_t> bytes) {
    std::string text(bytes.begin(), bytes.end());
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    return text;
}

// Exit status 1 when the file cannot be used as a package at all (missing,
// unreadable, not a regular file), 2 when it is a damaged package.
int Inspect(const std::string& package) {
    std::vector<uint8_t> bytes, archive;
    if (auto p = ReadPackageFile(package, bytes); p.failed())
        return Report(package + ": " + p.text, p.result == kPackageOpenFailed ? 1 : 2);
    if (auto p = DecompressLzma(bytes, archive); p.failed())
        return Report(package + ": " + p.text, 2);
    std::span<const uint8_t> file;
    if (auto p = FindFirmwareFile(archive, file); p.failed())
        return Report(package + ": " + p.text, 2);
    if (file.size() < kFirmwareHeaderSize)
        return Report(package + ": jbod_fw.bin is shorter than its header", 2);
    const FirmwareHeader header = DecodeFirmwareHeader(file.first<kFirmwareHeaderSize>());
    const uint32_t check = FirmwareCrc(file.first(72));
    std::printf("package: %s (jbod_fw.bin, %zu bytes)\n", package.c_str(), file.size());
    std::printf("magic: 0x%08X  %s\n", header.magic,
                header.magic == kFirmwareMagic ? "ok" : "WRONG");
    std::printf("model: %s\n", header.ModelText().c_str());
    bool good = header.magic == kFirmwareMagic;
    good = ShowImage("A", header.a, file) && good;
    good = ShowImage("B", header.b, file) && good;
    if (header.a.length == 0 || header.b.length == 0) {
        std::printf("an image is EMPTY\n");
        good = false;
    }
    std::span<const uint8_t> revision;
    if (FindArchiveFile(archive, kFirmwareRevisionFileName, revision, kMaxRevisionFile).failed())
        std::printf("revision: not given\n");
    else
        std::printf("revision: %s\n", TrimmedLine(revision).c_str());
    std::printf("check value: 0x%08X  %s\n", header.check, header.check == check ? "ok" : "WRONG");
    good = good && header.check == check;
    std::printf("%s\n", good ? "package is sound" : "package is DAMAGED");
    return good ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
    enum { kModel = 1000, kImageA, kImageB, kRevision, kInspect };
    const option longs[] = {
        {"model", required_argument, nullptr, kModel},
        {"image-a", required_argument, nullptr, kImageA},
        {"image-b", required_argument, nullptr, kImageB},
        {"revision", required_argument, nullptr, kRevision},
        {"output", required_argument, nullptr, 'o'},
        {"inspect", required_argument, nullptr, kInspect},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };
    std::string model, a, b, revision, output, inspect;
    opterr = 0;
    int c = 0;
    while ((c = getopt_long(argc, argv, ":o:hV", longs, nullptr)) != -1) {
        switch (c) {
            case kModel:
                model = optarg;
                break;
            case kImageA:
                a = optarg;
                break;
            case kImageB:
                b = optarg;
                break;
            case kRevision:
                revision = optarg;
                break;
            case 'o':
                output = optarg;
                break;
            case kInspect:
                inspect = optarg;
                break;
            case 'h':
                std::fputs(kUsage, stdout);
                return 0;
            case 'V':
                std::printf("halvorin-mkfw %s\n", HALVORIN_VERSION);
                return 0;
            case ':':
                Fail(std::string("option ") + argv[optind - 1] + " needs a value (try --help)");
            default:
                Fail(std::string("unknown option '") + argv[optind - 1] + "' (try --help)");
        }
    }
    if (optind < argc) Fail(std::string("unexpected word '") + argv[optind] + "' (try --help)");
    const bool building =
        !model.empty() || !a.empty() || !b.empty() || !revision.empty() || !output.empty();
    if (!inspect.empty() && building) Fail("--inspect takes no build options (try --help)");
    if (!inspect.empty()) return Inspect(inspect);
    if (model.empty() || a.empty() || b.empty() || output.empty())
        Fail("--model, --image-a, --image-b and -o are needed (try --help)");
    return Build(model, a, b, revision, output);
}
