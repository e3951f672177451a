// The five deliverable classes, each with the reference model's settings for it.
#pragma once

#include "complementary/deliverables.h"
#include "fixed_threshold/deliverables.h"
#include "reference_latch.h"
#include "variable_threshold/deliverables.h"

namespace testing {

template <class Module, const LatchConfig& Config>
struct Subject {
    using Class = Module;
    static constexpr const LatchConfig& config = Config;
};
using OmbrelLatch = Subject<latch::OmbrelLatchModule, kOmbrelLatch>;
using KestrineN = Subject<latch::KestrineNModule, kKestrineN>;
using PSKestrineN = Subject<latch::PSKestrineNModule, kPSKestrineN>;
using OmbrelLatch2 = Subject<latch::OmbrelLatch2Module, kOmbrelLatch2>;
using Kestrine = Subject<latch::KestrineModule, kKestrine>;

}  // namespace testing
