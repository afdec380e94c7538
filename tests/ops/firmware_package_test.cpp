// Firmware packages, sound and hostile. Every unpack runs with TMPDIR set to a
// directory of the test's own, which must stay empty: packages are unpacked in
// memory, so nothing is ever written, nothing left behind.
#include "enclosure/ops/firmware_package.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "base/result_code.h"
#include "enclosure/ops/tar_reader.h"

namespace halvorin {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> Image(size_t size, uint8_t seed) {
    std::vector<uint8_t> image(size);
    for (size_t i = 0; i < size; ++i)
        image[i] = static_cast<uint8_t>(i * 13 + seed);
    return image;
}

// A tar entry written by hand, so a test can say exactly what a header holds.
struct Entry {
    std::string name;
    std::vector<uint8_t> content;
    char type = '0';
    std::string link = "";
    bool break_checksum = false;
};

std::vector<uint8_t> Tar(const std::vector<Entry>& entries, bool end_marker = true) {
    std::vector<uint8_t> out;
    for (const Entry& e : entries) {
        std::array<uint8_t, 512> h{};
        std::memcpy(h.data(), e.name.data(), std::min<size_t>(e.name.size(), 100));
        std::snprintf(reinterpret_cast<char*>(&h[100]), 8, "%07o", 0644);
        std::snprintf(reinterpret_cast<char*>(&h[124]), 12, "%011o",
                      static_cast<unsigned>(e.content.size()));
        h[156] = static_cast<uint8_t>(e.type);
        std::memcpy(&h[157], e.link.data(), std::min<size_t>(e.link.size(), 100));
        std::memcpy(&h[257],
                    "ustar\0"
                    "00",
                    8);
        std::memset(&h[148], ' ', 8);
        unsigned sum = 0;
        for (uint8_t b : h)
            sum += b;
        std::snprintf(reinterpret_cast<char*>(&h[148]), 8, "%06o",
                      sum + (e.break_checksum ? 1 : 0));
        out.insert(out.end(), h.begin(), h.end());
        out.insert(out.end(), e.content.begin(), e.content.end());
        out.resize((out.size() + 511) / 512 * 512, 0);
    }
    if (end_marker) out.resize(out.size() + 1024, 0);
    return out;
}

class PackageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        outside_ = fs::path(::testing::TempDir());
        scratch_ = outside_ / ("halvorin-pkg-" + std::to_string(::getpid()));
        fs::remove_all(scratch_);
        fs::create_directories(scratch_ / "tmp");
        saved_tmpdir_ = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
        ::setenv("TMPDIR", (scratch_ / "tmp").c_str(), 1);
    }
    void TearDown() override {
        if (saved_tmpdir_.empty())
            ::unsetenv("TMPDIR");
        else
            ::setenv("TMPDIR", saved_tmpdir_.c_str(), 1);
        fs::remove_all(scratch_);
    }

    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const fs::path path = scratch_ / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    // Unpacks, keeps the reason of a refusal, and checks that nothing was
    // written anywhere.
    int Unpack(const std::vector<uint8_t>& package, const std::string& model = "m810",
               uint64_t limit = kMaxFirmwareArchive) {
        const std::string path = Write("package.lzma", package);
        std::optional<UnpackedFirmware> firmware;
        const PackageProblem problem = UnpackFirmware(path, model, firmware, limit);
        problem_ = problem.text;
        EXPECT_EQ(problem.failed(), problem_ != "") << problem_;
        EXPECT_EQ(problem.failed(), !firmware.has_value());
        if (firmware) {
            unpacked_a_ = firmware->image_a;
            unpacked_b_ = firmware->image_b;
            revision_ = firmware->revision;
        }
        for (const auto& left : fs::recursive_directory_iterator(scratch_ / "tmp")) {
            ADD_FAILURE() << "left behind: " << left.path();
        }
        for (const auto& entry : fs::directory_iterator(scratch_)) {
            const std::string name = entry.path().filename();
            EXPECT_TRUE(name == "tmp" || name == "package.lzma") << "written outside: " << name;
        }
        return problem.result;
    }

    fs::path outside_;  // the temporary directory before TMPDIR was pointed into scratch_
    fs::path scratch_;
    std::string saved_tmpdir_;
    std::vector<uint8_t> unpacked_a_, unpacked_b_;
    std::string problem_;  // the reason of the last refusal
    std::string revision_;
};

TEST_F(PackageTest, SoundPackageUnpacksIntoItsTwoImages) {
    const auto a = Image(3000, 1), b = Image(70000, 2);
    EXPECT_EQ(Unpack(BuildFirmwarePackage("m810", a, b)), kOk);
    EXPECT_EQ(unpacked_a_, a);
    EXPECT_EQ(unpacked_b_, b);
}

// The revision beside the images is optional; one that is there must be a
// revision. An empty image would leave the enclosure without firmware.
TEST_F(PackageTest, RevisionIsReadWhenGivenAndEmptyImagesAreRefused) {
    EXPECT_EQ(Unpack(BuildFirmwarePackage("m810", Image(10, 0), Image(10, 1), "2.0.8")), kOk);
    EXPECT_EQ(revision_, "2.0.8");
    revision_.clear();
    EXPECT_EQ(Unpack(BuildFirmwarePackage("m810", Image(10, 0), Image(10, 1))), kOk);
    EXPECT_EQ(revision_, "");
    const auto file = BuildFirmwareFile("m810", Image(10, 0), Image(10, 1));
    const auto with_revision = [&](const std::string& text) {
        return CompressLzmaAlone(
            BuildTarArchive({{"jbod_fw.bin", file},
                             {"jbod_fw.rev", std::vector<uint8_t>(text.begin(), text.end())}}));
    };
    EXPECT_EQ(Unpack(with_revision("\n")), kInvalidFirmware);
    EXPECT_EQ(Unpack(with_revision("2.0.8 beta\n")), kInvalidFirmware);
    EXPECT_EQ(Unpack(with_revision(std::string(100, '9'))), kInvalidFirmware);
    EXPECT_EQ(Unpack(BuildFirmwarePackage("m810", {}, Image(10, 1))), kInvalidFirmware);
    EXPECT_NE(problem_.find("image A is empty"), std::string::npos) << problem_;
    EXPECT_EQ(Unpack(BuildFirmwarePackage("m810", Image(10, 1), {})), kInvalidFirmware);
}

// A stop (the operator's Ctrl+C) ends the unpacking at once.
TEST_F(PackageTest, UnpackingEndsWhenStopped) {
    const std::string path =
        Write("package.lzma", BuildFirmwarePackage("m810", Image(10, 0), Image(10, 1)));
    std::atomic<bool> stop{true};
    std::optional<UnpackedFirmware> firmware;
    EXPECT_EQ(UnpackFirmware(path, "m810", firmware, kMaxFirmwareArchive, &stop).result, kClosing);
    EXPECT_FALSE(firmware);
}

TEST_F(PackageTest, ModelIsComparedWithoutCaseOverTheEnclosuresText) {
    EXPECT_EQ(Unpack(BuildFirmwarePackage("M810-rev2", Image(10, 0), Image(10, 1))), kOk);
    EXPECT_EQ(Unpack(BuildFirmwarePackage("m410", Image(10, 0), Image(10, 1))), kModelMismatch);
    EXPECT_EQ(Unpack(BuildFirmwarePackage("m81", Image(10, 0), Image(10, 1))), kModelMismatch);
}

TEST_F(PackageTest, DamagedHeadersAndImagesAreInvalid) {
    auto file = BuildFirmwareFile("m810", Image(100, 0), Image(100, 1));
    auto bad_check = file;
    bad_check[72] ^= 0xFF;
    EXPECT_EQ(Unpack(CompressLzmaAlone(Tar({{"jbod_fw.bin", bad_check}}))), kInvalidFirmware);
    auto bad_image = file;
    bad_image[80] ^= 1;  // inside image A: its digest no longer matches
    EXPECT_EQ(Unpack(CompressLzmaAlone(Tar({{"jbod_fw.bin", bad_image}}))), kInvalidFirmware);
    auto cut = file;
    cut.resize(150);  // image B claimed beyond the end of the file
    EXPECT_EQ(Unpack(CompressLzmaAlone(Tar({{"jbod_fw.bin", cut}}))), kInvalidFirmware);
    auto tiny = file;
    tiny.resize(60);  // not even a header
    EXPECT_EQ(Unpack(CompressLzmaAlone(Tar({{"jbod_fw.bin", tiny}}))), kInvalidFirmware);
}

TEST_F(PackageTest, NamesThatWouldLeaveTheDirectoryRefuseTheArchive) {
    const auto file = BuildFirmwareFile("m810", Image(10, 0), Image(10, 1));
    for (const char* name :
         {"../jbod_fw.bin", "../../evil", "/tmp/jbod_fw.bin", "a/../../jbod_fw.bin", ".."}) {
        EXPECT_EQ(Unpack(CompressLzmaAlone(Tar({{name, file}, {"jbod_fw.bin", file}}))),
                  kInvalidFirmware)
            << name;
    }
    EXPECT_FALSE(fs::exists(scratch_ / "evil"));
    EXPECT_FALSE(fs::exists(scratch_ / "jbod_fw.bin"));
}

TEST_F(PackageTest, LinksAreNeverCreatedNorFollowed) {
    const auto file = BuildFirmwareFile("m810", Image(10, 0), Image(10, 1));
    // A symbolic link named like the firmware, pointing at something to overwrite.
    const fs::path elsewhere = outside_ / ("halvorin-victim-" + std::to_string(::getpid()));
    fs::create_directories(elsewhere);
    const std::string victim = elsewhere / "victim";
    std::ofstream(victim) << "precious";
    EXPECT_EQ(
        Unpack(CompressLzmaAlone(Tar({{"jbod_fw.bin", {}, '2', victim}, {"jbod_fw.bin", file}}))),
        kOk);
    EXPECT_EQ(Unpack(CompressLzmaAlone(Tar({{"jbod_fw.bin", {}, '1', victim}}))),
              kPackageOpenFailed);
    std::ifstream in(victim);
    std::string text;
    in >> text;
    EXPECT_EQ(text, "precious");
    fs::remove_all(elsewhere);
}

TEST_F(PackageTest, OtherEntriesAreSkippedAndTheFirmwareMustBeThereOnce) {
    const auto file = BuildFirmwareFile("m810", Image(10, 0), Image(10, 1));
    EXPECT_EQ(Unpack(CompressLzmaAlone(Tar({{"README", {'h', 'i'}},
                                            {"docs", {}, '5'},
                                            {"docs/notes.txt", {'x'}},
                                            {"./jbod_fw.bin", file}}))),
              kOk);
    EXPECT_EQ(Unpack(CompressLzmaAlone(Tar({{"README", {'h', 'i'}}}))), kPackageOpenFailed);
    EXPECT_EQ(Unpack(CompressLzmaAlone(Tar({{"jbod_fw.bin", file}, {"jbod_fw.bin", file}}))),
              kInvalidFirmware);
    EXPECT_EQ(Unpack(CompressLzmaAlone(Tar({{"sub/jbod_fw.bin", file}}))),
              kPackageOpenFailed);  // not at the top
}

TEST_F(PackageTest, BrokenArchivesAndStreamsAreInvalid) {
    const auto file = BuildFirmwareFile("m810", Image(1000, 0), Image(1000, 1));
    auto no_end = Tar({{"jbod_fw.bin", file}}, false);
    EXPECT_EQ(Unpack(CompressLzmaAlone(no_end)), kInvalidFirmware);  // ends without its end marker
    auto short_block = Tar({{"jbod_fw.bin", file}});
    short_block.resize(short_block.size() - 1024 - 100);  // the data stops inside a block
    EXPECT_EQ(Unpack(CompressLzmaAlone(short_block)), kInvalidFirmware);
    EXPECT_EQ(Unpack(CompressLzmaAlone(Tar({{"jbod_fw.bin", file, '0', "", true}}))),
              kInvalidFirmware);
    auto stream = BuildFirmwarePackage("m810", Image(1000, 0), Image(1000, 1));
    stream.resize(stream.size() / 2);  // a truncated download of the package
    EXPECT_EQ(Unpack(stream), kInvalidFirmware);
    EXPECT_EQ(Unpack(std::vector<uint8_t>(500, 0x5A)), kInvalidFirmware);  // not LZMA at all
    EXPECT_EQ(Unpack({}), kInvalidFirmware);
}

TEST_F(PackageTest, DecompressionBombIsStoppedAtTheLimit) {
    // 8 MiB of zeros packs into a few kilobytes.
    const auto bomb = CompressLzmaAlone(std::vector<uint8_t>(8 << 20, 0));
    EXPECT_LT(bomb.size(), 64u * 1024);
    EXPECT_EQ(Unpack(bomb, "m810", 1 << 20), kInvalidFirmware);
}

TEST_F(PackageTest, EntryOverTheSizeLimitIsInvalid) {
    const auto archive = Tar({{"jbod_fw.bin", std::vector<uint8_t>(5000, 1)}});
    std::span<const uint8_t> file;
    const PackageProblem problem = FindFirmwareFile(archive, file, 4096);
    EXPECT_EQ(problem.result, kInvalidFirmware);
    EXPECT_NE(problem.text.find("too large"), std::string::npos) << problem.text;
}

// Each refusal names its cause; the command-line tools print these words.
TEST_F(PackageTest, RefusalsSayWhatIsWrong) {
    const auto file = BuildFirmwareFile("m810", Image(10, 0), Image(10, 1));
    const struct {
        std::vector<uint8_t> package;
        uint64_t limit;
        int result;
        const char* says;
    } cases[] = {
        {CompressLzmaAlone(std::vector<uint8_t>(3 << 20, 0)), 1 << 20, kInvalidFirmware,
         "too large"},
        {std::vector<uint8_t>(3 << 20, 0x5A), 1 << 20, kInvalidFirmware, "too large"},
        {CompressLzmaAlone(Tar({{"README", {'h', 'i'}}})), kMaxFirmwareArchive, kPackageOpenFailed,
         "no firmware image"},
        {std::vector<uint8_t>(500, 0x5A), kMaxFirmwareArchive, kInvalidFirmware,
         "not an LZMA package"},
        {BuildFirmwarePackage("m410", Image(10, 0), Image(10, 1)), kMaxFirmwareArchive,
         kModelMismatch, "m410"},
        {CompressLzmaAlone(Tar({{"jbod_fw.bin", file}}, false)), kMaxFirmwareArchive,
         kInvalidFirmware, "end marker"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Unpack(c.package, "m810", c.limit), c.result) << c.says;
        EXPECT_NE(problem_.find(c.says), std::string::npos) << problem_;
    }
}

TEST_F(PackageTest, MissingOrOverlongPackagePathCannotBeOpened) {
    std::optional<UnpackedFirmware> firmware;
    EXPECT_EQ(UnpackFirmware((scratch_ / "nothing.lzma").string(), "m810", firmware).result,
              kPackageOpenFailed);
    EXPECT_EQ(UnpackFirmware(std::string(300, 'x'), "m810", firmware).result, kPackageOpenFailed);
    EXPECT_TRUE(fs::is_empty(scratch_ / "tmp"));
}

// A FIFO would block the reader for ever and a device could be endless:
// anything but a regular file is refused before a byte is read.
TEST_F(PackageTest, OnlyRegularFilesAreRead) {
    const std::string fifo = scratch_ / "fifo.lzma";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path :
         {fifo, std::string(scratch_ / "tmp"), std::string("/dev/zero")}) {
        std::optional<UnpackedFirmware> firmware;
        const PackageProblem problem = UnpackFirmware(path, "m810", firmware);
        EXPECT_EQ(problem.result, kPackageOpenFailed) << path;
        EXPECT_EQ(problem.text, "not a regular file") << path;
    }
}

}  // namespace
}  // namespace halvorin
