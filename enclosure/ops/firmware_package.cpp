#include "enclosure/ops/firmware_package.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "base/result_code.h"
#include "base/unique_fd.h"
#include "base/utf16.h"
#include "enclosure/ops/tar_reader.h"

namespace halvorin {

namespace {

bool ModelMatches(const FirmwareHeader& header, const std::string& model_text) {
    const std::string packaged = header.ModelText();
    if (packaged.size() < model_text.size()) return false;
    for (size_t i = 0; i < model_text.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(packaged[i])) !=
            std::tolower(static_cast<unsigned char>(model_text[i]))) {
            return false;
        }
    }
    return true;
}

// Copies one image out and compares its digest. An image claimed beyond the
// end of the file cannot match.
PackageProblem CopyImage(std::span<const uint8_t> file, const FirmwareImage& image,
                         const char* label, std::vector<uint8_t>& out) {
    const std::string name = std::string("image ") + label;
    if (uint64_t{image.offset} + image.length > file.size())
        return Problem(kInvalidFirmware,
                       "damaged: " + name + " lies beyond the end of jbod_fw.bin");
    // The enclosure would take an empty image and be left without firmware.
    if (image.length == 0) return Problem(kInvalidFirmware, "damaged: " + name + " is empty");
    const auto bytes = file.subspan(image.offset, image.length);
    if (Md5Of(bytes) != image.md5)
        return Problem(kInvalidFirmware, "damaged: the MD5 digest of " + name + " does not match");
    out.assign(bytes.begin(), bytes.end());
    return PackageProblem::None();
}

std::string Reason(int error) {
    return std::strerror(error);
}

void PutOctal(uint8_t* field, size_t size, uint64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%0*llo", static_cast<int>(size - 1),
                  static_cast<unsigned long long>(value));
    std::memcpy(field, text, size - 1);
    field[size - 1] = 0;
}

void AppendTarMember(std::vector<uint8_t>& archive, const std::string& name,
                     const std::vector<uint8_t>& content) {
    const size_t start = archive.size();
    archive.resize(start + 512, 0);
    uint8_t* h = archive.data() + start;
    std::memcpy(h, name.data(), std::min<size_t>(name.size(), 99));
    PutOctal(h + 100, 8, 0644);
    PutOctal(h + 108, 8, 0);
    PutOctal(h + 116, 8, 0);
    PutOctal(h + 124, 12, content.size());
    PutOctal(h + 136, 12, 0);
    h[156] = '0';
    std::memcpy(h + 257, "ustar", 6);
    std::memcpy(h + 263, "00", 2);
    std::memset(h + 148, ' ', 8);
    unsigned sum = 0;
    for (size_t i = 0; i < 512; ++i)
        sum += h[i];
    std::snprintf(reinterpret_cast<char*>(h + 148), 8, "%06o", sum);
    h[155] = ' ';
    archive.insert(archive.end(), content.begin(), content.end());
    archive.resize((archive.size() + 511) / 512 * 512, 0);
}

// The revision line beside the images, when the package has one: printable
// ASCII, as an enclosure reports a revision.
PackageProblem ReadRevision(std::span<const uint8_t> archive, std::string& revision) {
    std::span<const uint8_t> file;
    const PackageProblem p =
        FindArchiveFile(archive, kFirmwareRevisionFileName, file, kMaxRevisionFile);
    if (p.result == kPackageOpenFailed) return PackageProblem::None();  // optional
    if (p.failed()) return p;
    std::string text(file.begin(), file.end());
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    const bool printable = !text.empty() && std::all_of(text.begin(), text.end(),
                                                        [](char c) { return c > ' ' && c < 0x7F; });
    if (!printable)
        return Problem(kInvalidFirmware,
                       "damaged: " + std::string(kFirmwareRevisionFileName) + " holds no revision");
    revision = std::move(text);
    return PackageProblem::None();
}

}  // namespace

PackageProblem VerifyFirmwareFile(std::span<const uint8_t> file, const std::string& model_text,
                                  UnpackedFirmware& out) {
    if (file.size() < kFirmwareHeaderSize)
        return Problem(kInvalidFirmware, "damaged: jbod_fw.bin is shorter than its header");
    const auto bytes = file.first<kFirmwareHeaderSize>();
    if (!IsValidFirmwareHeader(bytes))
        return Problem(kInvalidFirmware,
                       "damaged: the firmware header's magic or check value is wrong");
    out.header = DecodeFirmwareHeader(bytes);
    if (!ModelMatches(out.header, model_text))
        return Problem(kModelMismatch, "model mismatch: the firmware is for \"" +
                                           out.header.ModelText() + "\", the enclosure is \"" +
                                           model_text + "\"");
    if (auto p = CopyImage(file, out.header.a, "A", out.image_a); p.failed()) return p;
    return CopyImage(file, out.header.b, "B", out.image_b);
}

PackageProblem ReadPackageFile(const std::string& package_path, std::vector<uint8_t>& bytes,
                               uint64_t limit) {
    bytes.clear();
    if (package_path.empty()) return Problem(kPackageOpenFailed, "no package named");
    if (package_path.size() > kMaxPackagePath)
        return Problem(kPackageOpenFailed,
                       "the path is longer than " + std::to_string(kMaxPackagePath) + " bytes");
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    UniqueFd in(::open(package_path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!in.valid()) return Problem(kPackageOpenFailed, "cannot open it: " + Reason(errno));
    struct stat info {};
    if (::fstat(in.get(), &info) != 0)
        return Problem(kPackageOpenFailed, "cannot read it: " + Reason(errno));
    if (!S_ISREG(info.st_mode)) return Problem(kPackageOpenFailed, "not a regular file");
    if (static_cast<uint64_t>(info.st_size) > limit)
        return Problem(kInvalidFirmware, "too large: " + std::to_string(info.st_size) +
                                             " bytes, a package has at most " +
                                             std::to_string(limit >> 20) + " MiB");
    try {
        bytes.resize(static_cast<size_t>(info.st_size));
    } catch (const std::bad_alloc&) {
        return Problem(kOutOfMemory, "out of memory while reading it");
    }
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n =
            ::pread(in.get(), bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Problem(kPackageOpenFailed, "cannot read it: " + Reason(errno));
        if (n == 0) break;  // it shrank while we read it
        got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    return PackageProblem::None();
}

PackageProblem UnpackFirmware(const std::string& package_path, const std::string& model_text,
                              std::optional<UnpackedFirmware>& out, uint64_t archive_limit,
                              const std::atomic<bool>* stop) {
    out.reset();
    std::vector<uint8_t> package;
    if (auto p = ReadPackageFile(package_path, package, archive_limit); p.failed()) return p;
    return UnpackFirmwareBytes(package, model_text, out, archive_limit, stop);
}

PackageProblem UnpackFirmwareBytes(std::span<const uint8_t> package, const std::string& model_text,
                                   std::optional<UnpackedFirmware>& out, uint64_t archive_limit,
                                   const std::atomic<bool>* stop) {
    out.reset();
    std::vector<uint8_t> archive;
    if (auto p = DecompressLzma(package, archive, archive_limit, stop); p.failed()) return p;
    std::span<const uint8_t> file;
    if (auto p = FindFirmwareFile(archive, file); p.failed()) return p;
    if (stop && *stop) return {kClosing, "interrupted"};
    UnpackedFirmware firmware;
    if (auto p = VerifyFirmwareFile(file, model_text, firmware); p.failed()) return p;
    if (auto p = ReadRevision(archive, firmware.revision); p.failed()) return p;
    out.emplace(std::move(firmware));
    return PackageProblem::None();
}

std::vector<uint8_t> BuildFirmwareFile(const std::string& model,
                                       const std::vector<uint8_t>& image_a,
                                       const std::vector<uint8_t>& image_b) {
    FirmwareHeader header;
    std::copy_n(model.begin(), std::min(model.size(), kFirmwareModelSize), header.model.begin());
    header.a = {static_cast<uint32_t>(kFirmwareHeaderSize), static_cast<uint32_t>(image_a.size()),
                Md5Of(image_a)};
    header.b = {static_cast<uint32_t>(kFirmwareHeaderSize + image_a.size()),
                static_cast<uint32_t>(image_b.size()), Md5Of(image_b)};
    auto bytes = EncodeFirmwareHeader(header);
    header.check = FirmwareCrc(std::span<const uint8_t>(bytes.data(), 72));
    bytes = EncodeFirmwareHeader(header);
    std::vector<uint8_t> file(bytes.begin(), bytes.end());
    file.insert(file.end(), image_a.begin(), image_a.end());
    file.insert(file.end(), image_b.begin(), image_b.end());
    return file;
}

std::vector<uint8_t> BuildTarArchive(const std::string& name, const std::vector<uint8_t>& content) {
    return BuildTarArchive({{name, content}});
}

std::vector<uint8_t> BuildTarArchive(const std::vector<ArchiveMember>& members) {
    std::vector<uint8_t> archive;
    for (const auto& [name, content] : members)
        AppendTarMember(archive, name, content);
    archive.resize(archive.size() + 1024, 0);  // the end marker: two zero blocks
    return archive;
}

std::vector<uint8_t> BuildFirmwarePackage(const std::string& model,
                                          const std::vector<uint8_t>& image_a,
                                          const std::vector<uint8_t>& image_b,
                                          const std::string& revision) {
    std::vector<ArchiveMember> members = {
        {std::string(kFirmwareFileName), BuildFirmwareFile(model, image_a, image_b)}};
    if (!revision.empty()) {
        const std::string line = revision + "\n";
        members.push_back({std::string(kFirmwareRevisionFileName),
                           std::vector<uint8_t>(line.begin(), line.end())});
    }
    return CompressLzmaAlone(BuildTarArchive(members));
}

}  // namespace halvorin
