// The TCMU ring as the kernel fills and reaps it, on plain memory: the test
// plays the kernel's side (target_core_user) with the layout the bridge
// proves against the uapi header at build time.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "sim/tcmu/tcmu_layout.h"
#include "sim/tcmu/tcmu_ring.h"
#include "sim/tcmu/uio_devices.h"

namespace halvorin::sim {
namespace {

constexpr uint32_t kRingOffset = 128;
constexpr uint32_t kRingSize = 1024;
constexpr uint32_t kDataOffset = kRingOffset + kRingSize;
constexpr size_t kMemorySize = 8192;

struct Reaped {
    uint16_t id;
    uint8_t status;
    uint32_t read_len;
    uint8_t sense0;
    bool operator==(const Reaped&) const = default;
};

class FakeKernel {
  public:
    explicit FakeKernel(uint16_t flags = HALVORIN_TCMU_CAP_OOOC | HALVORIN_TCMU_CAP_TMR)
        : words_(kMemorySize / 8) {
        Put16(HALVORIN_TCMU_MB_VERSION, 2);
        Put16(HALVORIN_TCMU_MB_FLAGS, flags);
        Put32(HALVORIN_TCMU_MB_CMDR_OFF, kRingOffset);
        Put32(HALVORIN_TCMU_MB_CMDR_SIZE, kRingSize);
    }

    std::span<uint8_t> memory() { return {bytes(), kMemorySize}; }
    uint8_t* bytes() { return reinterpret_cast<uint8_t*>(words_.data()); }

    // A command with its CDB after its data pieces, as the kernel lays it out.
    uint32_t QueueCommand(uint16_t id, std::vector<uint8_t> cdb,
                          std::vector<std::pair<uint64_t, uint64_t>> pieces = {}) {
        const uint32_t header = HALVORIN_TCMU_REQ_IOV + 16 * uint32_t(pieces.size());
        const uint32_t length = Align8(std::max<uint32_t>(header + 16, 112));
        uint8_t* entry = Entry(head_, HALVORIN_TCMU_OP_CMD, length);
        Store16(entry + HALVORIN_TCMU_ENTRY_CMD_ID, id);
        Store32(entry + HALVORIN_TCMU_REQ_IOV_CNT, uint32_t(pieces.size()));
        Store64(entry + HALVORIN_TCMU_REQ_CDB_OFF, kRingOffset + head_ + header);
        for (size_t i = 0; i < pieces.size(); ++i) {
            Store64(entry + HALVORIN_TCMU_REQ_IOV + 16 * i, pieces[i].first);
            Store64(entry + HALVORIN_TCMU_REQ_IOV + 16 * i + 8, pieces[i].second);
        }
        std::memcpy(entry + header, cdb.data(), cdb.size());
        return Advance(length);
    }
    void QueuePadToTheEnd() {
        const uint32_t length = kRingSize - head_;
        Entry(head_, HALVORIN_TCMU_OP_PAD, length);
        Advance(length);
    }
    void QueueAbort(std::vector<uint16_t> ids) {
        const uint32_t length = Align8(HALVORIN_TCMU_TMR_CMD_IDS + 2 * uint32_t(ids.size()));
        uint8_t* entry = Entry(head_, HALVORIN_TCMU_OP_TMR, length);
        Store32(entry + HALVORIN_TCMU_TMR_CMD_CNT, uint32_t(ids.size()));
        for (size_t i = 0; i < ids.size(); ++i)
            Store16(entry + HALVORIN_TCMU_TMR_CMD_IDS + 2 * i, ids[i]);
        Advance(length);
    }
    // What the kernel completes when it looks: every entry up to the tail.
    std::vector<Reaped> Reap() {
        std::vector<Reaped> reaped;
        const uint32_t tail = Get32(HALVORIN_TCMU_MB_CMD_TAIL);
        while (cleaned_ != tail) {
            uint8_t* entry = bytes() + kRingOffset + cleaned_;
            const uint32_t len_op = Load32(entry);
            if ((len_op & 7) == HALVORIN_TCMU_OP_CMD) {
                EXPECT_EQ(entry[HALVORIN_TCMU_ENTRY_UFLAGS], HALVORIN_TCMU_UFLAG_READ_LEN);
                reaped.push_back(
                    {Load16(entry + HALVORIN_TCMU_ENTRY_CMD_ID), entry[HALVORIN_TCMU_RSP_STATUS],
                     Load32(entry + HALVORIN_TCMU_RSP_READ_LEN), entry[HALVORIN_TCMU_RSP_SENSE]});
            }
            cleaned_ = (cleaned_ + (len_op & ~7u)) % kRingSize;
        }
        return reaped;
    }
    uint32_t head() const { return head_; }
    // An idle ring whose kernel and bridge both stand at `head`.
    void SetHeadTo(uint32_t head) {
        head_ = cleaned_ = head;
        Put32(HALVORIN_TCMU_MB_CMD_HEAD, head);
        Put32(HALVORIN_TCMU_MB_CMD_TAIL, head);
    }
    uint32_t tail() { return Get32(HALVORIN_TCMU_MB_CMD_TAIL); }
    void Put16(size_t at, uint16_t v) { Store16(bytes() + at, v); }
    void Put32(size_t at, uint32_t v) { Store32(bytes() + at, v); }

  private:
    static uint32_t Align8(uint32_t n) { return (n + 7) & ~7u; }
    static void Store16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
    static void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
    static void Store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }
    static uint16_t Load16(const uint8_t* p) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    static uint32_t Load32(const uint8_t* p) {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    uint32_t Get32(size_t at) { return Load32(bytes() + at); }
    uint8_t* Entry(uint32_t at, uint32_t op, uint32_t length) {
        uint8_t* entry = bytes() + kRingOffset + at;
        std::memset(entry, 0, length);
        Store32(entry, length | op);
        return entry;
    }
    uint32_t Advance(uint32_t length) {
        const uint32_t at = head_;
        head_ = (head_ + length) % kRingSize;
        Put32(HALVORIN_TCMU_MB_CMD_HEAD, head_);
        return at;
    }

    std::vector<uint64_t> words_;  // 8-byte aligned, as the kernel's page is
    uint32_t head_ = 0;
    uint32_t cleaned_ = 0;
};

TcmuAnswer Good(uint16_t id, uint32_t data_in = 0) {
    return {id, 0x00, data_in, {}};
}

TEST(TcmuRing, AnswersInAnyOrderReachTheKernelInRingOrderNamingTheirCommands) {
    FakeKernel kernel;
    std::memcpy(kernel.bytes() + kDataOffset, "abcdefgh", 8);
    kernel.QueueCommand(1, {0x1C, 0x01, 0x02, 0x00, 0x08},
                        {{kDataOffset, 5}, {kDataOffset + 5, 3}});
    kernel.QueueCommand(2, {0x00});
    kernel.QueueCommand(3, {0x12, 0x00, 0x00, 0x00, 0x24});
    TcmuRing ring(kernel.memory());

    const auto entries = ring.TakeNew();
    ASSERT_EQ(entries.size(), 3u);
    const auto& first = std::get<TcmuCommand>(entries[0]);
    EXPECT_EQ(first.id, 1);
    EXPECT_EQ(first.cdb[0], 0x1C);
    EXPECT_EQ(first.cdb[2], 0x02);
    ASSERT_EQ(first.data.size(), 2u);
    EXPECT_EQ(first.DataLength(), 8u);
    EXPECT_EQ(std::string(first.data[1].begin(), first.data[1].end()), "fgh");
    EXPECT_TRUE(ring.TakeNew().empty());  // nothing new

    // The slowest command (1) finishes last: the kernel still reaps in ring
    // order, each slot naming the command it completes.
    ring.Answer({3, 0x02, 0, {0x70}});
    EXPECT_EQ(kernel.Reap(), (std::vector<Reaped>{{3, 0x02, 0, 0x70}}));
    ring.Answer(Good(2));
    EXPECT_EQ(kernel.Reap(), (std::vector<Reaped>{{2, 0, 0, 0}}));
    EXPECT_NE(kernel.tail(), kernel.head());
    ring.Answer(Good(1, 5));
    EXPECT_EQ(kernel.Reap(), (std::vector<Reaped>{{1, 0, 5, 0}}));
    EXPECT_EQ(kernel.tail(), kernel.head());
    EXPECT_THROW(ring.Answer(Good(4)), std::runtime_error);  // nothing left to answer
}

TEST(TcmuRing, PaddingAndAbortsArePassedOverAndTheRingWraps) {
    FakeKernel kernel;
    kernel.SetHeadTo(kRingSize - 200);
    TcmuRing ring(kernel.memory());
    kernel.QueueCommand(7, {0x1C});  // 112 bytes, near the end
    kernel.QueuePadToTheEnd();
    kernel.QueueCommand(8, {0x1D});  // wrapped to the start
    kernel.QueueAbort({7, 9});

    const auto entries = ring.TakeNew();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(std::get<TcmuCommand>(entries[0]).id, 7);
    EXPECT_EQ(std::get<TcmuCommand>(entries[1]).id, 8);
    EXPECT_EQ(std::get<TcmuAbort>(entries[2]).ids, (std::vector<uint16_t>{7, 9}));
    EXPECT_TRUE(ring.TellsAborts());

    ring.Answer(Good(8));
    ring.Answer(Good(7));
    EXPECT_EQ(kernel.Reap(), (std::vector<Reaped>{{8, 0, 0, 0}, {7, 0, 0, 0}}));
    EXPECT_EQ(kernel.tail(), kernel.head());  // padding and the abort given back too
}

TEST(TcmuRing, RingsItCannotServeAndMalformedEntriesAreRefused) {
    struct Case {
        const char* what;
        std::function<void(FakeKernel&)> spoil;
        bool at_construction;
    };
    const std::vector<Case> cases = {
        {"another mailbox version", [](FakeKernel& k) { k.Put16(HALVORIN_TCMU_MB_VERSION, 1); },
         true},
        {"no out-of-order answers", [](FakeKernel& k) { k.Put16(HALVORIN_TCMU_MB_FLAGS, 0); },
         true},
        {"ring beyond the memory",
         [](FakeKernel& k) { k.Put32(HALVORIN_TCMU_MB_CMDR_SIZE, kMemorySize); }, true},
        {"tail beyond the ring",
         [](FakeKernel& k) { k.Put32(HALVORIN_TCMU_MB_CMD_TAIL, kRingSize); }, true},
        {"entry of length 0",
         [](FakeKernel& k) {
             k.QueueCommand(1, {0});
             k.Put32(kRingOffset, HALVORIN_TCMU_OP_CMD);
         },
         false},
        {"entry past the ring's end",
         [](FakeKernel& k) {
             k.QueueCommand(1, {0});
             k.Put32(kRingOffset, (kRingSize + 8) | HALVORIN_TCMU_OP_CMD);
         },
         false},
        {"more pieces than the entry holds",
         [](FakeKernel& k) {
             k.QueueCommand(1, {0});
             k.Put32(kRingOffset + HALVORIN_TCMU_REQ_IOV_CNT, 1000);
         },
         false},
        {"data outside the memory",
         [](FakeKernel& k) {
             k.QueueCommand(1, {0x1C}, {{kMemorySize - 4, 8}});
         },
         false},
        {"CDB outside the memory",
         [](FakeKernel& k) {
             k.QueueCommand(1, {0});
             k.Put32(kRingOffset + HALVORIN_TCMU_REQ_CDB_OFF, kMemorySize);
         },
         false},
        {"more aborted commands than the entry holds",
         [](FakeKernel& k) {
             k.QueueAbort({1});
             k.Put32(kRingOffset + HALVORIN_TCMU_TMR_CMD_CNT, 500);
         },
         false},
        {"head beyond the ring",
         [](FakeKernel& k) { k.Put32(HALVORIN_TCMU_MB_CMD_HEAD, kRingSize + 64); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeKernel kernel;
        if (c.at_construction) {
            c.spoil(kernel);
            EXPECT_THROW(TcmuRing{kernel.memory()}, std::runtime_error);
            continue;
        }
        TcmuRing ring(kernel.memory());
        c.spoil(kernel);
        EXPECT_THROW(ring.TakeNew(), std::runtime_error);
    }
}

TEST(TcmuBackstores, OnlyUioDevicesNamedForTheSimulatorAreServed) {
    const auto found = ParseUioName("tcm-user/1/enc1_0/halvorin/1/0");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->backstore, "enc1_0");
    EXPECT_EQ(found->scenario, 1u);
    EXPECT_EQ(found->device, 0u);
    for (const char* other :
         {"tcm-user/1/disk/other/0/0", "tcm-user/1/enc/halvorin/x/0", "tcm-user/1/enc/halvorin/0",
          "tcm-user/1/enc/halvorin/0/1/2", "uio_pdrv_genirq", "tcm-user/1/enc/halvorin/-1/0", ""}) {
        EXPECT_FALSE(ParseUioName(other)) << other;
    }
}

}  // namespace
}  // namespace halvorin::sim
