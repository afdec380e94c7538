#include "enclosure/ops/private_directory.h"

#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

namespace halvorin {

std::optional<PrivateDirectory> PrivateDirectory::Create(const char* prefix) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data())) return std::nullopt;
    return PrivateDirectory(std::filesystem::path(buffer.data()));
}

PrivateDirectory::PrivateDirectory(PrivateDirectory&& other) noexcept
    : path_(std::move(other.path_)) {
    other.path_.clear();
}

PrivateDirectory::~PrivateDirectory() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);  // links inside are removed, never followed
}

}  // namespace halvorin
