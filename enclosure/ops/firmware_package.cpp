#include "enclosure/ops/firmware_package.h"

#include <fcntl.h>
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

constexpr size_t kCopyPiece = 1024;

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

// Copies one image into its own file, at most 1024 bytes at a time, and
// compares the digest of what was written. A short read (an image claimed
// beyond the end of the file) ends the copy, and the digest will not match.
int CopyImage(int source, const FirmwareImage& image, const std::filesystem::path& target) {
    UniqueFd out(::open(target.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out.valid()) return kGeneralFailure;
    Md5 md5;
    std::array<uint8_t, kCopyPiece> piece;
    uint64_t copied = 0;
    while (copied < image.length) {
        const size_t want =
            static_cast<size_t>(std::min<uint64_t>(kCopyPiece, image.length - copied));
        const ssize_t n =
            ::pread(source, piece.data(), want, static_cast<off_t>(image.offset + copied));
        if (n <= 0) break;
        if (::write(out.get(), piece.data(), static_cast<size_t>(n)) != n) break;
        md5.Update(std::span<const uint8_t>(piece.data(), static_cast<size_t>(n)));
        copied += static_cast<uint64_t>(n);
    }
    return copied == image.length && md5.Finish() == image.md5 ? kOk : kInvalidFirmware;
}

void PutOctal(uint8_t* field, size_t size, uint64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%0*llo", static_cast<int>(size - 1),
                  static_cast<unsigned long long>(value));
    std::memcpy(field, text, size - 1);
    field[size - 1] = 0;
}

}  // namespace

int VerifyFirmwareFile(const std::filesystem::path& file, const std::string& model_text,
                       const std::filesystem::path& image_a, const std::filesystem::path& image_b) {
    UniqueFd in(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!in.valid()) {
        if (errno == ENOENT) return kPackageOpenFailed;
        if (errno == EMFILE || errno == ENFILE) return kNoResource;
        return kGeneralFailure;
    }
    std::array<uint8_t, kFirmwareHeaderSize> bytes;
    if (::pread(in.get(), bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
        return kInvalidFirmware;
    if (!IsValidFirmwareHeader(bytes)) return kInvalidFirmware;
    const FirmwareHeader header = DecodeFirmwareHeader(bytes);
    if (!ModelMatches(header, model_text)) return kModelMismatch;
    if (int r = CopyImage(in.get(), header.a, image_a); r != kOk) return r;
    return CopyImage(in.get(), header.b, image_b);
}

int UnpackFirmware(const std::string& package_path, const std::string& model_text,
                   std::optional<UnpackedFirmware>& out, uint64_t archive_limit) {
    if (package_path.empty() || package_path.size() > kMaxPackagePath) return kPackageOpenFailed;
    {
        UniqueFd package(::open(package_path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!package.valid()) return kPackageOpenFailed;
    }
    auto directory = PrivateDirectory::Create();
    if (!directory) return kNoResource;
    const std::filesystem::path archive = directory->path() / "package.tar";
    if (int r = DecompressLzmaFile(package_path, archive, archive_limit); r != kOk) return r;
    if (int r = ExtractFirmwareFile(archive, directory->path()); r != kOk) return r;
    std::filesystem::remove(archive);
    UnpackedFirmware firmware{std::move(*directory), {}, {}, 0, 0};
    firmware.image_a = firmware.directory.path() / "image-a";
    firmware.image_b = firmware.directory.path() / "image-b";
    const std::filesystem::path file = firmware.directory.path() / kFirmwareFileName;
    if (int r = VerifyFirmwareFile(file, model_text, firmware.image_a, firmware.image_b); r != kOk)
        return r;
    std::filesystem::remove(file);
    std::error_code ignored;
    firmware.length_a =
        static_cast<uint32_t>(std::filesystem::file_size(firmware.image_a, ignored));
    firmware.length_b =
        static_cast<uint32_t>(std::filesystem::file_size(firmware.image_b, ignored));
    out.emplace(std::move(firmware));
    return kOk;
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
    std::vector<uint8_t> archive(512, 0);
    uint8_t* h = archive.data();
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
    archive.resize(archive.size() + 1024, 0);  // the end marker: two zero blocks
    return archive;
}

std::vector<uint8_t> BuildFirmwarePackage(const std::string& model,
                                          const std::vector<uint8_t>& image_a,
                                          const std::vector<uint8_t>& image_b) {
    return CompressLzmaAlone(
        BuildTarArchive(kFirmwareFileName, BuildFirmwareFile(model, image_a, image_b)));
}

}  // namespace halvorin
