// The fixed-threshold class: Ombrel Latch.
#include "fixed_threshold/deliverables.h"
#include "program.h"

namespace {
const fuzzing::Deliverable kDeliverables[] = {
    fuzzing::deliverable<latch::OmbrelLatchModule>("Ombrel Latch", testing::kOmbrelLatch),
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::runProgram(data, size, kDeliverables, sizeof kDeliverables / sizeof kDeliverables[0]);
    return 0;
}
