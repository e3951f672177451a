// The deliverable built from FixedThresholdLatch.
#pragma once

#include "fixed_threshold_latch.h"

namespace latch {

struct OmbrelLatch {
    static constexpr ModuleTexts texts{
        "Ombrel Latch",
        "Dorns Ombrel Latch",
        "by Dorne V. Sept 2006 \n This Module is an upFlanked FlipFlop\n ****************************************** \n an upFlanke here is when the level comes from under the Threshold \n and goes over or equal to it.\n  In this Module the Threshold is fixed at 3.333 Volt.",
    };
};

using OmbrelLatchModule = FixedThresholdLatch<OmbrelLatch>;

}  // namespace latch
