// Samples compared and built by their bits: NaN payloads, signed zeros and
// signalling NaNs must survive, which no float comparison or x87 return keeps.
#pragma once

#include <cstdint>
#include <cstring>

namespace plughost {

inline uint32_t bitsOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

inline float floatOf(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace plughost
