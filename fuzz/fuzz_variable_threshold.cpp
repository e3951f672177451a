// The variable-threshold class with both Threshold pin descriptions: Ombrel_Latch2 (direction 3) and Kestrine (input).
#include "program.h"
#include "variable_threshold/deliverables.h"

namespace {
const fuzzing::Deliverable kDeliverables[] = {
    fuzzing::deliverable<latch::OmbrelLatch2Module>("Ombrel_Latch2", testing::kOmbrelLatch2),
    fuzzing::deliverable<latch::KestrineModule>("Kestrine", testing::kKestrine),
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::runProgram(data, size, kDeliverables, sizeof kDeliverables / sizeof kDeliverables[0]);
    return 0;
}
