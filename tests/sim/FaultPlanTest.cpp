#include <gtest/gtest.h>

#include "sim/FaultPlan.h"

namespace RomCmd {
namespace Test {
namespace {

using Sim::FaultKind;
using Sim::FaultPlan;

struct FaultTextCase {
    const char* text;
    bool valid;
    FaultKind kind;
    uint32_t nth;
    uint32_t value;
};

class FaultTextTest : public ::testing::TestWithParam<FaultTextCase> {};

const Sim::Fault* anyFault(const FaultPlan& plan, uint32_t n) {
    if (auto f = plan.hostPacketFault(n)) {
        return f;
    }
    if (auto f = plan.devicePacketFault(n)) {
        return f;
    }
    if (auto f = plan.dataPacketFault(n)) {
        return f;
    }
    return plan.readCommandFault(n);
}

TEST_P(FaultTextTest, ParsesOrRejectsWithAMessage) {
    const FaultTextCase& c = GetParam();
    FaultPlan plan;
    std::string error;
    ASSERT_EQ(plan.add(c.text, &error), c.valid) << error;
    if (!c.valid) {
        EXPECT_NE(error.find(c.text), std::string::npos) << error;
        EXPECT_TRUE(plan.empty());
        return;
    }
    const uint32_t hit = c.nth ? c.nth : 5;
    const Sim::Fault* f = anyFault(plan, hit);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->kind, c.kind);
    EXPECT_EQ(f->value, c.value);
    if (c.nth) {
        EXPECT_EQ(anyFault(plan, c.nth + 1), nullptr);
        EXPECT_EQ(anyFault(plan, c.nth - 1), nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FaultTextTest,
    ::testing::Values(FaultTextCase{"nak@3", true, FaultKind::Nak, 3, 0},
                      FaultTextCase{"abort", true, FaultKind::Abort, 0, 1},
                      FaultTextCase{"abort=0@2", true, FaultKind::Abort, 2, 0},
                      FaultTextCase{"bad-ack@1", true, FaultKind::BadAck, 1, 0},
                      FaultTextCase{"bad-ack-start@4", true, FaultKind::BadAckStart, 4, 0},
                      FaultTextCase{"no-ack@2", true, FaultKind::NoAck, 2, 0},
                      FaultTextCase{"half-ack@2", true, FaultKind::HalfAck, 2, 0},
                      FaultTextCase{"vanish@9", true, FaultKind::Vanish, 9, 0},
                      FaultTextCase{"hangup@1", true, FaultKind::Hangup, 1, 0},
                      FaultTextCase{"bad-crc@2", true, FaultKind::BadCrc, 2, 0},
                      FaultTextCase{"bad-tag", true, FaultKind::BadTag, 0, 0},
                      FaultTextCase{"no-packet@7", true, FaultKind::NoPacket, 7, 0},
                      FaultTextCase{"cut-start@1", true, FaultKind::CutStart, 1, 0},
                      FaultTextCase{"cut-tag@1", true, FaultKind::CutTag, 1, 0},
                      FaultTextCase{"cut-length@1", true, FaultKind::CutLength, 1, 0},
                      FaultTextCase{"cut-payload@1", true, FaultKind::CutPayload, 1, 0},
                      FaultTextCase{"garbage", true, FaultKind::Garbage, 0, 7},
                      FaultTextCase{"garbage=0x20@3", true, FaultKind::Garbage, 3, 32},
                      FaultTextCase{"vanish-after@2", true, FaultKind::VanishAfter, 2, 0},
                      FaultTextCase{"short-data@2", true, FaultKind::ShortData, 2, 0},
                      FaultTextCase{"extra-data=100@1", true, FaultKind::ExtraData, 1, 100},
                      FaultTextCase{"nak@0", false, FaultKind::Nak, 0, 0},
                      FaultTextCase{"nak@", false, FaultKind::Nak, 0, 0},
                      FaultTextCase{"nak@-1", false, FaultKind::Nak, 0, 0},
                      FaultTextCase{"nak=3", false, FaultKind::Nak, 0, 0},
                      FaultTextCase{"garbage=many", false, FaultKind::Nak, 0, 0},
                      FaultTextCase{"garbage=5000", false, FaultKind::Nak, 0, 0},
                      FaultTextCase{"naak", false, FaultKind::Nak, 0, 0},
                      FaultTextCase{"", false, FaultKind::Nak, 0, 0},
                      FaultTextCase{"status=5", false, FaultKind::Nak, 0, 0},
                      FaultTextCase{"status=256:1", false, FaultKind::Nak, 0, 0},
                      FaultTextCase{"status=x:1", false, FaultKind::Nak, 0, 0}));

TEST(FaultPlanStatus, MatchesCodeAndOccurrence) {
    FaultPlan plan;
    std::string error;
    ASSERT_TRUE(plan.add("status=5:1001008@2", &error)) << error;
    ASSERT_TRUE(plan.add("status=0x7:1001004", &error)) << error;
    struct Case {
        uint8_t code;
        uint32_t n;
        bool hit;
        uint32_t status;
    };
    for (const Case& c :
         {Case{5, 1, false, 0}, Case{5, 2, true, 1001008}, Case{5, 3, false, 0},
          Case{7, 1, true, 1001004}, Case{7, 9, true, 1001004}, Case{4, 2, false, 0}}) {
        uint32_t status = 0;
        EXPECT_EQ(plan.statusFault(c.code, c.n, &status), c.hit) << int(c.code) << "/" << c.n;
        if (c.hit) {
            EXPECT_EQ(status, c.status);
        }
    }
}

}  // namespace
}  // namespace Test
}  // namespace RomCmd
