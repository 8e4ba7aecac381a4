#include <gtest/gtest.h>

#include "sim/FaultPlan.h"

namespace RomCmd {
namespace Test {
namespace {

using Sim::FaultKind;
using Sim::FaultPlan;

struct SpecCase {
    const char* spec;
    bool valid;
    FaultKind kind;
    uint32_t nth;
    uint32_t value;
};

class FaultSpecTest : public ::testing::TestWithParam<SpecCase> {};

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

TEST_P(FaultSpecTest, ParsesOrRejectsWithAMessage) {
    const SpecCase& c = GetParam();
    FaultPlan plan;
    std::string error;
    ASSERT_EQ(plan.add(c.spec, &error), c.valid) << error;
    if (!c.valid) {
        EXPECT_NE(error.find(c.spec), std::string::npos) << error;
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
    Specs, FaultSpecTest,
    ::testing::Values(SpecCase{"nak@3", true, FaultKind::Nak, 3, 0},
                      SpecCase{"abort", true, FaultKind::Abort, 0, 1},
                      SpecCase{"abort=0@2", true, FaultKind::Abort, 2, 0},
                      SpecCase{"bad-ack@1", true, FaultKind::BadAck, 1, 0},
                      SpecCase{"bad-ack-start@4", true, FaultKind::BadAckStart, 4, 0},
                      SpecCase{"no-ack@2", true, FaultKind::NoAck, 2, 0},
                      SpecCase{"half-ack@2", true, FaultKind::HalfAck, 2, 0},
                      SpecCase{"vanish@9", true, FaultKind::Vanish, 9, 0},
                      SpecCase{"hangup@1", true, FaultKind::Hangup, 1, 0},
                      SpecCase{"bad-crc@2", true, FaultKind::BadCrc, 2, 0},
                      SpecCase{"bad-tag", true, FaultKind::BadTag, 0, 0},
                      SpecCase{"no-packet@7", true, FaultKind::NoPacket, 7, 0},
                      SpecCase{"cut-start@1", true, FaultKind::CutStart, 1, 0},
                      SpecCase{"cut-tag@1", true, FaultKind::CutTag, 1, 0},
                      SpecCase{"cut-length@1", true, FaultKind::CutLength, 1, 0},
                      SpecCase{"cut-payload@1", true, FaultKind::CutPayload, 1, 0},
                      SpecCase{"garbage", true, FaultKind::Garbage, 0, 7},
                      SpecCase{"garbage=0x20@3", true, FaultKind::Garbage, 3, 32},
                      SpecCase{"vanish-after@2", true, FaultKind::VanishAfter, 2, 0},
                      SpecCase{"short-data@2", true, FaultKind::ShortData, 2, 0},
                      SpecCase{"extra-data=100@1", true, FaultKind::ExtraData, 1, 100},
                      SpecCase{"nak@0", false, FaultKind::Nak, 0, 0},
                      SpecCase{"nak@", false, FaultKind::Nak, 0, 0},
                      SpecCase{"nak@-1", false, FaultKind::Nak, 0, 0},
                      SpecCase{"nak=3", false, FaultKind::Nak, 0, 0},
                      SpecCase{"garbage=many", false, FaultKind::Nak, 0, 0},
                      SpecCase{"garbage=5000", false, FaultKind::Nak, 0, 0},
                      SpecCase{"naak", false, FaultKind::Nak, 0, 0},
                      SpecCase{"", false, FaultKind::Nak, 0, 0},
                      SpecCase{"status=5", false, FaultKind::Nak, 0, 0},
                      SpecCase{"status=256:1", false, FaultKind::Nak, 0, 0},
                      SpecCase{"status=x:1", false, FaultKind::Nak, 0, 0}));

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
