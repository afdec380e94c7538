// Hand-built SES pages for decoder tests, written straight from the page
// layouts (a third implementation, beside the simulator's and the decoders').
#pragma once

#include <array>
#include <string>
#include <vector>

#include "base/byte_order.h"

namespace halvorin::test {

struct SubEncSpec {
    uint8_t id = 0;
    uint8_t logical_last = 0;  // last byte of 50 01 02 03 04 05 06 xx
    std::string model = "m810";
};

struct TypeDescription {
    uint8_t type;
    uint8_t count;
    uint8_t subenc = 0;
    std::string text = "";
};

inline void SetLength(std::vector<uint8_t>& page) {
    put_be16(&page[2], static_cast<uint32_t>(page.size() - 4));
}

inline std::vector<uint8_t> Header(uint8_t code, uint32_t generation, uint8_t byte1 = 0) {
    std::vector<uint8_t> page = {code, byte1, 0, 0, 0, 0, 0, 0};
    put_be32(&page[4], generation);
    return page;
}

inline std::vector<uint8_t> ConfigurationPage(uint32_t generation,
                                              const std::vector<SubEncSpec>& subs,
                                              const std::vector<TypeDescription>& types) {
    auto page = Header(0x01, generation, static_cast<uint8_t>(subs.size() - 1));
    for (const SubEncSpec& s : subs) {
        uint8_t headers = 0;
        for (const TypeDescription& t : types)
            headers += t.subenc == s.id;
        std::vector<uint8_t> d = {0x11, s.id, headers, static_cast<uint8_t>(36 + s.model.size())};
        d.insert(d.end(), {0x50, 1, 2, 3, 4, 5, 6, s.logical_last});
        const std::string ident = "HALVRN  JB2412-12G      2071";
        d.insert(d.end(), ident.begin(), ident.end());
        d.insert(d.end(), s.model.begin(), s.model.end());
        page.insert(page.end(), d.begin(), d.end());
    }
    for (const TypeDescription& t : types)
        page.insert(page.end(), {t.type, t.count, t.subenc, uint8_t(t.text.size())});
    for (const TypeDescription& t : types)
        page.insert(page.end(), t.text.begin(), t.text.end());
    SetLength(page);
    return page;
}

// One descriptor text per element; `texts` may be shorter (the rest empty).
inline std::vector<uint8_t> ElementDescriptorPage(uint32_t generation,
                                                  const std::vector<TypeDescription>& types,
                                                  const std::vector<std::string>& texts = {}) {
    auto page = Header(0x07, generation);
    size_t next = 0;
    auto add = [&](const std::string& text) {
        page.insert(page.end(), {0, 0, 0, static_cast<uint8_t>(text.size())});
        page.insert(page.end(), text.begin(), text.end());
    };
    for (const TypeDescription& t : types) {
        add(t.text);
        for (int i = 0; i < t.count; ++i)
            add(next < texts.size() ? texts[next++] : "");
    }
    SetLength(page);
    return page;
}

// A status-shaped page (status 0x02, threshold 0x05): an overall element and
// then each element's 4 bytes per type, all zero unless given.
inline std::vector<uint8_t> ElementPage(uint8_t code, uint32_t generation,
                                        const std::vector<TypeDescription>& types,
                                        const std::vector<std::array<uint8_t, 4>>& elements = {}) {
    auto page = Header(code, generation);
    size_t next = 0;
    for (const TypeDescription& t : types) {
        page.insert(page.end(), 4, 0);
        for (int i = 0; i < t.count; ++i) {
            std::array<uint8_t, 4> e =
                next < elements.size() ? elements[next++] : std::array<uint8_t, 4>{};
            page.insert(page.end(), e.begin(), e.end());
        }
    }
    SetLength(page);
    return page;
}

// A vendor buffer region with entries.
inline std::vector<uint8_t> VendorRegion(uint8_t offset,
                                         const std::vector<std::vector<uint8_t>>& entries) {
    std::vector<uint8_t> region(12, 0);
    region[0] = offset;
    region[5] = static_cast<uint8_t>(entries.size());
    for (const auto& e : entries)
        region.insert(region.end(), e.begin(), e.end());
    put_be24(&region[1], static_cast<uint32_t>(region.size() - 4));
    return region;
}

}  // namespace halvorin::test
