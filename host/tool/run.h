// Drives one instance over whole signals as a host does, block by block, and
// keeps every trace, state report and output change.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "describe.h"
#include "sources.h"
#include "writers.h"

namespace plughost {

struct RunSettings {
    int64_t frames = 48000;
    double sampleRate = 48000.0;
    int32_t blockSize = 512;
};

struct TimedReport {
    int32_t pin;
    std::string pinName;
    int32_t state;
    int32_t clock;
};

struct RunResult {
    ModuleInfo module;
    std::vector<Trace> traces;  // every pin, in pin order
    std::vector<OutputChange> changes;
    std::vector<TimedReport> reports;
    std::map<int32_t, std::string> sentStates;  // input pin -> what the host told the module, e.g. "Static"
};

// Finds a pin by name or by index text; throws ToolError(UnknownPin).
int32_t findPin(const ModuleInfo& module, const std::string& nameOrIndex);

// Parses a source for a pin; throws ToolError(BadSource or BadAudioFile).
std::unique_ptr<SignalSource> sourceFor(const std::string& text, double sampleRate);

// Runs the module with the given sources per input pin; pins without one get
// their default text's value.
RunResult runModule(const Library& library, std::map<int32_t, std::unique_ptr<SignalSource>> sources,
                    const RunSettings& settings);

std::string summaryText(const RunResult& result, size_t maxChangesPerPin = 20);
nlohmann::ordered_json summaryJson(const RunResult& result);

// Writes the requested files; throws ToolError(OutputNotWritable) on failure.
void writeOutputs(const RunResult& result, const std::string& wav, const std::string& csv, const std::string& svg,
                  double sampleRate);

}  // namespace plughost
