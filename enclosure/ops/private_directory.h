// A temporary directory only this upgrade uses (mkdtemp, mode 0700 under
// $TMPDIR or /tmp), removed with everything in it when the object goes, on
// every path out.
#pragma once

#include <filesystem>
#include <optional>

namespace halvorin {

class PrivateDirectory {
  public:
    static std::optional<PrivateDirectory> Create(const char* prefix = "halvorin-upgrade-");
    PrivateDirectory(PrivateDirectory&& other) noexcept;
    PrivateDirectory& operator=(PrivateDirectory&&) = delete;
    ~PrivateDirectory();

    const std::filesystem::path& path() const { return path_; }

  private:
    explicit PrivateDirectory(std::filesystem::path path) : path_(std::move(path)) {}
    std::filesystem::path path_;
};

}  // namespace halvorin
