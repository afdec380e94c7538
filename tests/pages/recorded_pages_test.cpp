// Page sets recorded by `halvorinctl capture` decoded offline, and every page
// of them cut short: a page the decoders refuse must leave the model exactly
// as it was, and one they accept must be one whose cut lost only padding.
#include <algorithm>
#include <sstream>

#include "base/byte_order.h"
#include "base/result_code.h"
#include "enclosure/pages/cdb.h"
#include "enclosure/pages/page_decoder.h"
#include "sim/scenario.h"
#include "tests/pages/pages_fixture.h"

namespace halvorin {
namespace {

constexpr int64_t kNow = 1'000'000;

template <typename Map>
std::vector<uint8_t> Found(const Map& map, uint32_t key) {
    auto it = map.find(key);
    return it == map.end() ? std::vector<uint8_t>{} : it->second;
}

// The bytes recorded for one read; none when the device refused it.
std::vector<uint8_t> RecordedBytesOf(const sim::RecordedBytes& recorded, const ReadSource& read) {
    return read.ses_page ? Found(recorded.pages, read.code)
                         : Found(recorded.vendor_regions, read.code);
}

// The first n bytes, with the length field saying that the page (or region)
// ends there: the decoder has to find the fault inside it.
std::vector<uint8_t> EndedAt(std::span<const uint8_t> whole, size_t n, bool ses_page) {
    std::vector<uint8_t> cut(whole.begin(), whole.begin() + n);
    if (n >= 4 && ses_page) put_be16(&cut[2], static_cast<uint32_t>(n - 4));
    if (n >= 4 && !ses_page) put_be24(&cut[1], static_cast<uint32_t>(n - 4));
    return cut;
}

template <typename Array>
void Hex(std::ostream& out, const Array& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (auto b : bytes) {
        const auto byte = static_cast<uint8_t>(b);
        text += {kDigits[byte >> 4], kDigits[byte & 15]};
    }
    out << text;
}

void DescribeElement(std::ostream& out, const CSesElem& e) {
    out << "  element " << e.key() << " type " << int(e.type) << " state " << e.state << " nominal "
        << e.nominal << " valid " << e.data_valid << " thresholds " << int(e.thresholds_set);
    for (int16_t t : e.thresholds)
        out << ' ' << t;
    out << " name " << std::string(e.name.begin(), e.name.end()) << " descriptor " << e.descriptor
        << " status ";
    Hex(out, e.raw_status);
    out << " data ";
    Hex(out, e.type_data);
    out << " disk ";
    Hex(out, e.disk_sas_address);
    out << " history " << (e.history ? e.history->fill() : 0) << '\n';
}

void DescribeSubEnclosure(std::ostream& out, CSubEnc& s) {
    std::lock_guard lock(s.mutex);
    out << "sub-enclosure " << int(s.id) << ' ' << s.vendor << ' ' << s.product << ' '
        << s.firmware_revision << " name " << s.system_name << " model " << s.model_text
        << " capabilities " << s.capabilities << " indicators " << s.indicators << " types "
        << int(s.type_desc_count) << " counters";
    for (const TypeCounter& c : s.counters)
        out << ' ' << c.count << '/' << c.failed;
    out << '\n';
    std::vector<const CSesElem*> elements;
    for (const auto& [key, element] : s.elements)
        elements.push_back(element);
    std::sort(elements.begin(), elements.end(),
              [](const CSesElem* a, const CSesElem* b) { return a->key() < b->key(); });
    for (const CSesElem* e : elements)
        DescribeElement(out, *e);
}

// Everything the decoders write, as text, so that two states compare whole.
std::string Describe(CSesDev* device) {
    std::ostringstream out;
    out << "generation ";
    Hex(out, device->Generation());
    out << " types " << int(device->type_desc_count) << " elements " << device->element_count
        << " flags " << device->Flags() << '\n';
    for (const ELEM_TYPE_DESC& d : device->type_descs) {
        out << "type " << int(d.type) << ' ' << int(d.possible_elements) << ' ' << int(d.ordinal)
            << ' ' << int(d.flags) << ' ' << d.text << " of " << (d.subenc ? int(d.subenc->id) : -1)
            << '\n';
    }
    std::vector<Ref<CSubEnc>> subencs = SnapshotSubEnclosures(device);
    for (const Ref<CSubEnc>& s : subencs)
        DescribeSubEnclosure(out, *s);
    return out.str();
}

class RecordedPagesTest : public test::PagesTest,
                          public ::testing::WithParamInterface<const char*> {
  protected:
    void SetUp() override {
        test::PagesTest::SetUp();
        std::string error;
        auto scenario = sim::LoadScenario(
            std::string(HALVORIN_SOURCE_DIR) + "/tests/data/" + GetParam(), error);
        ASSERT_TRUE(scenario && scenario->recorded) << error;
        recorded_ = *scenario->recorded;
        configuration_ = RecordedBytesOf(recorded_, kReadSources[0]);
    }

    int Decode(uint32_t kind, std::span<const uint8_t> bytes,
               std::span<const uint8_t> configuration) {
        return DecodeReply(dev_.get(), kind, static_cast<int>(bytes.size()), bytes,
                           static_cast<int>(configuration.size()), configuration, kNow);
    }

    // Every recorded read after the configuration page, in chain order.
    void DecodeAll() {
        for (const ReadSource& read : kReadSources) {
            if (read.kind == kReadConfiguration) continue;
            const auto bytes = RecordedBytesOf(recorded_, read);
            if (bytes.empty()) continue;
            ASSERT_EQ(Decode(read.kind, bytes, configuration_), kOk) << "read kind " << read.kind;
        }
    }

    sim::RecordedBytes recorded_;
    std::vector<uint8_t> configuration_;
};

TEST_P(RecordedPagesTest, DecodeIntoTheEnclosureTheyWereRecordedFrom) {
    ASSERT_NO_FATAL_FAILURE(DecodeAll());
    const bool wide = std::string(GetParam()).find("84") != std::string::npos;
    std::vector<Ref<CSubEnc>> subencs = SnapshotSubEnclosures(dev_.get());
    ASSERT_EQ(subencs.size(), wide ? 2u : 1u);
    const SubEncSummary primary = SubEncInfo(subencs[0].get());
    EXPECT_EQ(primary.vendor, "HALVRN");
    EXPECT_EQ(
        primary.counters[kTypeArrayDeviceSlot].count + primary.counters[kTypeDeviceSlot].count,
        wide ? 84 : 24);
    EXPECT_EQ(primary.system_name, wide ? "LAB-JBOD-84" : "");
    // Every slot learned its disk from the vendor region and its number from page 0x0A.
    uint8_t slots = kNoTypeDescriptor;
    for (uint8_t type : {kTypeArrayDeviceSlot, kTypeDeviceSlot}) {
        if (slots == kNoTypeDescriptor) FindTypeDescriptor(dev_.get(), Sub(), type, slots);
    }
    CSesElem* first_slot = Elem(slots, 0);
    ASSERT_NE(first_slot, nullptr);
    EXPECT_TRUE(first_slot->data_valid & kDataValid);
}

TEST_P(RecordedPagesTest, APageCutShortIsRefusedWithoutATraceOrLostOnlyPadding) {
    const auto descriptors = RecordedBytesOf(recorded_, kReadSources[1]);
    // Cut as received (the length field says more than came) and as a page
    // whose length field says it ends there.
    // Padding after what the length field counts is cut only once.
    const auto cuts = [](std::span<const uint8_t> whole, bool ses_page, auto check) {
        const size_t counted =
            whole.size() < 4 ? 0 : (ses_page ? be16(&whole[2]) : be24(&whole[1])) + 4;
        for (size_t n = 0; n < std::min(whole.size(), counted + 1); ++n) {
            check(std::vector<uint8_t>(whole.begin(), whole.begin() + n), n);
            check(EndedAt(whole, n, ses_page), n);
        }
    };

    // On an empty device: a configuration cut anywhere leaves no sub-enclosure behind.
    const std::string empty = Describe(dev_.get());
    cuts(configuration_, true, [&](const std::vector<uint8_t>& cut, size_t n) {
        if (Decode(kReadElementDescriptors, descriptors, cut) < 0) {
            ASSERT_EQ(Describe(dev_.get()), empty) << "configuration cut at " << n;
        }
    });
    ASSERT_EQ(Decode(kReadElementDescriptors, descriptors, configuration_), kOk);

    ASSERT_NO_FATAL_FAILURE(DecodeAll());
    const std::string decoded = Describe(dev_.get());
    cuts(configuration_, true, [&](const std::vector<uint8_t>& cut, size_t n) {
        const int result = Decode(kReadElementDescriptors, descriptors, cut);
        ASSERT_EQ(Describe(dev_.get()), decoded) << "configuration cut at " << n << ": " << result;
    });
    for (const ReadSource& read : kReadSources) {
        if (read.kind == kReadConfiguration) continue;
        const auto whole = RecordedBytesOf(recorded_, read);
        cuts(whole, read.ses_page, [&](const std::vector<uint8_t>& cut, size_t n) {
            const int result = Decode(read.kind, cut, configuration_);
            ASSERT_EQ(Describe(dev_.get()), decoded) << "read kind " << read.kind << " cut at " << n
                                                     << " of " << whole.size() << ": " << result;
        });
    }
}

INSTANTIATE_TEST_SUITE_P(Captures, RecordedPagesTest,
                         ::testing::Values("jbod24-recorded.json", "jbod84-recorded.json"));

}  // namespace
}  // namespace halvorin
