// The about text shared by the variable-threshold deliverables.
#pragma once

namespace latch {

inline constexpr const char* kVariableThresholdAbout =
    "by Dorne Velloway Sept 2006 \n\nTHIS MODULE IS AN UPFLANKED FLIPFLOP with variable THRESHOLD.\n******************************************************** \n An upFlanke is when an input from under crosses the Threshold to equal or over \n upFlanke at upSET puts the Output to high (5 Volts)\n upFlanke at upRESET takes the Output to 0 Volt. \n enjoy Patchmill !!! ";

}  // namespace latch
