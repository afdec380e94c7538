#include "net/protocol/ses_addr.h"

#include <algorithm>

#include "base/byte_order.h"
#include "base/utf16.h"

namespace halvorin {

namespace {

constexpr size_t kPathUnits = 32;
constexpr size_t kIdOffset = 64;
constexpr std::u16string_view kPathPrefix = u"\\\\.\\Scsi";

}  // namespace

std::u16string AdapterPathFor(uint32_t adapter_number) {
    return std::u16string(kPathPrefix) + Utf8ToUtf16(std::to_string(adapter_number)) + u":";
}

SES_ADDR SES_ADDR::Make(uint32_t adapter_number, const DeviceId& id, uint8_t path_id,
                        uint8_t target_id, uint8_t lun) {
    SES_ADDR addr;
    std::u16string path = AdapterPathFor(adapter_number);
    for (size_t i = 0; i < path.size() && i < kPathUnits - 1; ++i) {
        put_le16(&addr.bytes[i * 2], path[i]);
    }
    std::copy(id.begin(), id.end(), addr.bytes.begin() + kIdOffset);
    addr.bytes[72] = path_id;
    addr.bytes[73] = target_id;
    addr.bytes[74] = lun;
    return addr;
}

SES_ADDR SES_ADDR::FromBytes(std::span<const uint8_t, kSesAddrSize> raw) {
    SES_ADDR addr;
    std::copy(raw.begin(), raw.end(), addr.bytes.begin());
    return addr;
}

std::u16string SES_ADDR::AdapterPath() const {
    std::u16string path;
    for (size_t i = 0; i < kPathUnits; ++i) {
        char16_t unit = le16(&bytes[i * 2]);
        if (unit == 0) break;
        path += unit;
    }
    return path;
}

std::optional<uint32_t> SES_ADDR::AdapterNumber() const {
    std::u16string path = AdapterPath();
    if (path.size() < kPathPrefix.size() + 2 || !path.starts_with(kPathPrefix) ||
        path.back() != u':') {
        return std::nullopt;
    }
    uint64_t number = 0;
    for (size_t i = kPathPrefix.size(); i + 1 < path.size(); ++i) {
        if (path[i] < u'0' || path[i] > u'9') return std::nullopt;
        number = number * 10 + (path[i] - u'0');
        if (number > UINT32_MAX) return std::nullopt;
    }
    return static_cast<uint32_t>(number);
}

DeviceId SES_ADDR::Identifier() const {
    DeviceId id;
    std::copy_n(bytes.begin() + kIdOffset, kDeviceIdSize, id.begin());
    return id;
}

}  // namespace halvorin
