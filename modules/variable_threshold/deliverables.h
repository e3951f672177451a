// The two deliverables built from VariableThresholdLatch.
#pragma once

#include "variable_threshold_about.h"
#include "variable_threshold_latch.h"

namespace latch {

struct OmbrelLatch2 {
    static constexpr ModuleTexts texts{"Ombrel_Latch2", "Dornes Ombrel_Latch2", kVariableThresholdAbout};
    static constexpr ThresholdPin thresholdPin{3, "3.333", nullptr};
};

struct Kestrine {
    static constexpr ModuleTexts texts{"Kestrine Gate", "Dorns Kestrine Latch3", kVariableThresholdAbout};
    static constexpr ThresholdPin thresholdPin{kInput, "3.33", "12,-12,12,-12"};
};

using OmbrelLatch2Module = VariableThresholdLatch<OmbrelLatch2>;
using KestrineModule = VariableThresholdLatch<Kestrine>;

}  // namespace latch
