// Pin descriptions written as table rows: only the words a row gives are
// written, every other word of the host's record keeps what it held.
#pragma once

#include <cstdint>

#include "sem/records.h"

namespace latch {

struct ModuleTexts {
    const char* id;
    const char* name;
    const char* about;
};

inline void fillTexts(const ModuleTexts& texts, sem::ModuleProperties* properties) {
    properties->id = texts.id;
    properties->name = texts.name;
    properties->about = texts.about;
}

template <class Module>
struct PinRow {
    const char* name;
    int32_t direction;
    int32_t datatype;
    const char* defaultValue;  // null: not written
    const char* extraText;     // null: not written
    float* Module::*variable;
};

inline constexpr int32_t kInput = static_cast<int32_t>(sem::PinDirection::Input);
inline constexpr int32_t kOutput = static_cast<int32_t>(sem::PinDirection::Output);
inline constexpr int32_t kAudio = static_cast<int32_t>(sem::PinDatatype::AudioStream);

// Writes row `index` of rows into properties; false (nothing written) for an index outside the table.
template <class Module, int32_t N>
bool describePin(const PinRow<Module> (&rows)[N], Module& module, int32_t index, sem::PinProperties* properties) {
    if (index < 0 || index >= N) return false;
    const PinRow<Module>& row = rows[index];
    properties->variableAddress = &(module.*row.variable);
    properties->direction = row.direction;
    properties->datatype = row.datatype;
    properties->name = row.name;
    if (row.defaultValue) properties->defaultValue = row.defaultValue;
    if (row.extraText) properties->extraText = row.extraText;
    return true;
}

}  // namespace latch
