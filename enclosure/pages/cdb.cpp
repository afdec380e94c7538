#include "enclosure/pages/cdb.h"

#include "base/byte_order.h"

namespace halvorin {

namespace {

constexpr uint8_t kReceiveDiagnosticResults = 0x1C;
constexpr uint8_t kSendDiagnostic = 0x1D;
constexpr uint8_t kWriteBuffer = 0x3B;
constexpr uint8_t kReadBuffer = 0x3C;
constexpr uint8_t kPageCodeValid = 0x01;
constexpr uint8_t kPageFormat = 0x10;
constexpr uint8_t kVendorSpecificMode = 0x01;

}  // namespace

Cdb ReadSesPageCdb(uint8_t page) {
    return Cdb{kReceiveDiagnosticResults, kPageCodeValid, page, 0xFF, 0xFF, 0x00};
}

Cdb WriteSesPageCdb(uint8_t page, uint16_t parameter_length) {
    Cdb cdb{kSendDiagnostic, kPageFormat, page};
    put_be16(&cdb[3], parameter_length);
    return cdb;
}

Cdb ReadVendorBufferCdb(uint8_t offset, uint32_t allocation_length) {
    // Allocation lengths are multiples of 256 and travel as 0, L/256, 0.
    return Cdb{kReadBuffer,
               kVendorSpecificMode,
               kVendorBufferId,
               0,
               0,
               offset,
               0,
               static_cast<uint8_t>(allocation_length / 256),
               0,
               0};
}

Cdb WriteVendorBufferCdb(uint8_t offset, uint32_t parameter_length) {
    Cdb cdb{kWriteBuffer, kVendorSpecificMode, kVendorBufferId, 0, 0, offset};
    put_be24(&cdb[6], parameter_length);
    return cdb;
}

std::optional<Cdb> CdbForKind(uint32_t kind) {
    for (const ReadSource& source : kReadSources) {
        if (source.kind != kind) continue;
        return source.ses_page ? ReadSesPageCdb(source.code)
                               : ReadVendorBufferCdb(source.code, source.capacity);
    }
    return std::nullopt;
}

}  // namespace halvorin
