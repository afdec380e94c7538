#include "base/host_name.h"

#include <unistd.h>

#include <climits>

#include "base/utf16.h"

namespace halvorin {

namespace {

constexpr size_t kManagerNameLength = 15;

std::string RawHostName() {
    char buffer[HOST_NAME_MAX + 1] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0) return "localhost";
    return buffer;
}

}  // namespace

std::u16string FullComputerName() {
    return Utf8ToUtf16(RawHostName());
}

std::u16string ManagerComputerName() {
    std::string name = RawHostName();
    name = name.substr(0, name.find('.'));
    std::u16string wide = Utf8ToUtf16(name);
    if (wide.size() > kManagerNameLength) wide.resize(kManagerNameLength);
    return wide;
}

}  // namespace halvorin
