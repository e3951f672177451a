// A fuzz input read as a program of host actions against the deliverables of
// one module class, each checked as it runs: outputs bit for bit against the
// reference model, every word of every buffer (guard zones and inputs
// included), the reports, the records the module writes, and stray requests.
// Any disagreement prints what differed and aborts, which the fuzzer keeps.
#pragma once

#include <cstddef>
#include <cstdint>

#include "reference_latch.h"
#include "sem/entry.h"

namespace fuzzing {

struct Deliverable {
    const char* name;
    sem::GetModulePropertiesFunction getModuleProperties;
    sem::MakeModuleFunction makeModule;
    testing::LatchConfig config;
};

template <class Module>
constexpr Deliverable deliverable(const char* name, testing::LatchConfig config) {
    return {name, &sem::EntryPoints<Module>::getModuleProperties, &sem::EntryPoints<Module>::makeModule, config};
}

void runProgram(const uint8_t* data, size_t size, const Deliverable* deliverables, size_t count);

}  // namespace fuzzing
