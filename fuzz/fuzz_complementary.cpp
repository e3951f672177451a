// The complementary class with both priorities: KestrineN (reset wins) and pSKestrineN (set wins).
#include "complementary/deliverables.h"
#include "program.h"

namespace {
const fuzzing::Deliverable kDeliverables[] = {
    fuzzing::deliverable<latch::KestrineNModule>("KestrineN", testing::kKestrineN),
    fuzzing::deliverable<latch::PSKestrineNModule>("pSKestrineN", testing::kPSKestrineN),
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::runProgram(data, size, kDeliverables, sizeof kDeliverables / sizeof kDeliverables[0]);
    return 0;
}
