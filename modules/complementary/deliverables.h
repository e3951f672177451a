// The two deliverables built from ComplementaryLatch.
#pragma once

#include "complementary_latch.h"
#include "variable_threshold_about.h"

namespace latch {

struct KestrineN {
    static constexpr LatchPriority priority = LatchPriority::ResetWins;
    static constexpr ModuleTexts texts{
        "Kestrine_n",
        "Dorns Kestrine_n",
        kVariableThresholdAbout,
    };
};

struct PSKestrineN {
    static constexpr LatchPriority priority = LatchPriority::SetWins;
    static constexpr ModuleTexts texts{
        "pSKestrine_n",
        "Dorns pSKestrine_n",
        "by Dorne Velloway Sept 2006 \n\nTHIS MODULE IS AN\n UPFLANKED FLIPFLOP with variable THRESHOLD\n and priority at SET\n******************************************************** \n An upFlanke is when an input from under crosses the Threshold to equal or over \n upFlanke at upSET puts the Output to high (5 Volts)\n upFlanke at upRESET takes the Output to 0 Volt. \n enjoy Patchmill !!! ",
    };
};

using KestrineNModule = ComplementaryLatch<KestrineN>;
using PSKestrineNModule = ComplementaryLatch<PSKestrineN>;

}  // namespace latch
