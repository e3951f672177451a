#include "run.h"

#include <cstring>
#include <sstream>

#include "tool_error.h"

namespace plughost {
namespace {

const char* stateName(int32_t state) {
    switch (state) {
    case 0: return "Static";
    case 1: return "OneChange";
    case 2: return "Streaming";
    default: return "invalid";
    }
}

bool isOutput(const PinInfo& pin) { return pin.direction == static_cast<int32_t>(sem::PinDirection::Output); }

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// How a host reports an input: unchanging, one step, or streaming.
struct InputPlan {
    sem::PinState initial;
    int64_t stepFrame;  // for one step: where the value changes; -1 otherwise
};

InputPlan planFor(const std::vector<float>& samples) {
    int64_t changes = 0, first = -1;
    for (size_t i = 1; i < samples.size(); ++i) {
        if (!sameBits(samples[i], samples[i - 1])) {
            if (changes++ == 0) first = static_cast<int64_t>(i);
        }
    }
    if (changes == 0) return {sem::PinState::Static, -1};
    if (changes == 1) return {sem::PinState::Static, first};
    return {sem::PinState::Streaming, -1};
}

bool looksLikeFile(const std::string& text) {
    const auto hash = text.rfind('#');
    const std::string path = hash == std::string::npos ? text : text.substr(0, hash);
    auto endsWith = [&](const char* suffix) {
        const size_t n = std::strlen(suffix);
        return path.size() >= n && path.compare(path.size() - n, n, suffix) == 0;
    };
    return endsWith(".wav") || endsWith(".WAV") || endsWith(".csv") || endsWith(".CSV");
}

}  // namespace

int32_t findPin(const ModuleInfo& module, const std::string& nameOrIndex) {
    for (const PinInfo& pin : module.pins)
        if (pin.name == nameOrIndex) return pin.index;
    char* end = nullptr;
    const long index = std::strtol(nameOrIndex.c_str(), &end, 10);
    if (!nameOrIndex.empty() && end && *end == '\0' && index >= 0 && index < static_cast<long>(module.pins.size()))
        return static_cast<int32_t>(index);
    std::string names;
    for (const PinInfo& pin : module.pins) names += (names.empty() ? "" : ", ") + pin.name;
    throw ToolError(ExitCode::UnknownPin, "unknown pin '" + nameOrIndex + "' (pins: " + names + ")");
}

std::unique_ptr<SignalSource> sourceFor(const std::string& text, double sampleRate) {
    try {
        return parseSource(text, sampleRate);
    } catch (const SourceError& error) {
        throw ToolError(looksLikeFile(text) ? ExitCode::BadAudioFile : ExitCode::BadSource, error.what());
    }
}

RunResult runModule(const Library& library, std::map<int32_t, std::unique_ptr<SignalSource>> sources,
                    const RunSettings& settings) {
    if (settings.frames <= 0) throw ToolError(ExitCode::Usage, "--frames must be at least 1");
    if (settings.blockSize <= 0) throw ToolError(ExitCode::Usage, "--block must be at least 1");
    if (!(settings.sampleRate > 0)) throw ToolError(ExitCode::Usage, "--rate must be above 0");

    RunResult result;
    result.module = describeModule(library);
    const auto pinCount = static_cast<int32_t>(result.module.pins.size());
    const auto frames = static_cast<size_t>(settings.frames);

    // Render every input whole first: the host must know which inputs stay constant.
    for (const PinInfo& pin : result.module.pins) {
        Trace trace{pin.name, isOutput(pin), std::vector<float>(frames, 0.0f)};
        if (!trace.isOutput) {
            auto found = sources.find(pin.index);
            if (found != sources.end())
                found->second->render(0, trace.samples.data(), static_cast<int32_t>(frames));
            else
                std::fill(trace.samples.begin(), trace.samples.end(),
                          defaultTextToSample(pin.hasDefault ? pin.defaultText.c_str() : nullptr));
        }
        result.traces.push_back(std::move(trace));
    }

    auto instance = makeInstance(library);
    std::vector<std::vector<float>> buffers(pinCount, std::vector<float>(static_cast<size_t>(settings.blockSize)));
    for (int32_t pin = 0; pin < pinCount; ++pin) instance->bindBuffer(pin, buffers[pin].data());
    instance->setSampleRate(static_cast<float>(settings.sampleRate));
    instance->setBlockSize(settings.blockSize);
    // A module may read its inputs in open: give them their first samples.
    for (int32_t pin = 0; pin < pinCount; ++pin)
        if (!result.traces[pin].isOutput) std::fill(buffers[pin].begin(), buffers[pin].end(), result.traces[pin].samples[0]);
    instance->open();

    std::map<int32_t, InputPlan> plans;
    for (int32_t pin = 0; pin < pinCount; ++pin) {
        if (result.traces[pin].isOutput) continue;
        plans[pin] = planFor(result.traces[pin].samples);
        result.sentStates[pin] = plans[pin].stepFrame >= 0 ? "OneChange" : stateName(static_cast<int32_t>(plans[pin].initial));
        instance->sendPinState(pin, plans[pin].initial);
    }

    std::vector<float> lastOutput(pinCount, 0.0f);
    std::vector<bool> seen(pinCount, false);
    for (size_t start = 0; start < frames; start += static_cast<size_t>(settings.blockSize)) {
        const auto n = static_cast<int32_t>(std::min(frames - start, static_cast<size_t>(settings.blockSize)));
        instance->sampleClock = static_cast<int32_t>(start);
        for (int32_t pin = 0; pin < pinCount; ++pin) {
            instance->blockStartClock[pin] = static_cast<int32_t>(start);
            if (!result.traces[pin].isOutput)
                std::copy_n(result.traces[pin].samples.begin() + static_cast<long>(start), n, buffers[pin].begin());
        }
        for (auto& [pin, plan] : plans) {
            if (plan.stepFrame >= static_cast<int64_t>(start) && plan.stepFrame < static_cast<int64_t>(start) + n) {
                instance->sampleClock = static_cast<int32_t>(plan.stepFrame);
                instance->sendPinState(pin, sem::PinState::OneChange);
                instance->sampleClock = static_cast<int32_t>(start);
            }
        }
        instance->process(0, n);
        for (int32_t pin = 0; pin < pinCount; ++pin) {
            if (!result.traces[pin].isOutput) continue;
            for (int32_t i = 0; i < n; ++i) {
                const float value = buffers[pin][i];
                result.traces[pin].samples[start + i] = value;
                if (!seen[pin] || !sameBits(value, lastOutput[pin])) {
                    if (seen[pin]) result.changes.push_back({pin, static_cast<int64_t>(start) + i, value});
                    seen[pin] = true;
                    lastOutput[pin] = value;
                }
            }
        }
    }
    for (const StateReport& report : instance->reports) {
        const std::string name = report.pin >= 0 && report.pin < pinCount ? result.module.pins[report.pin].name : "?";
        result.reports.push_back({report.pin, name, static_cast<int32_t>(report.state), report.clock});
    }
    instance->close();
    return result;
}

std::string summaryText(const RunResult& result, size_t maxChangesPerPin) {
    std::ostringstream out;
    out << result.module.id << " (" << result.module.library << ")\n";
    for (const auto& [pin, state] : result.sentStates)
        out << "  input  " << result.module.pins[pin].name << ": sent " << state << "\n";
    for (const TimedReport& report : result.reports)
        out << "  report " << report.pinName << ": " << stateName(report.state) << " at clock " << report.clock << "\n";
    for (const PinInfo& pin : result.module.pins) {
        if (!isOutput(pin)) continue;
        size_t count = 0;
        for (const OutputChange& change : result.changes) count += change.pin == pin.index;
        const std::vector<float>& samples = result.traces[pin.index].samples;
        out << "  output " << pin.name << ": starts at " << (samples.empty() ? 0.0f : samples[0]) << ", " << count
            << " change" << (count == 1 ? "" : "s") << "\n";
        size_t shown = 0;
        for (const OutputChange& change : result.changes) {
            if (change.pin != pin.index) continue;
            if (shown++ == maxChangesPerPin) {
                out << "    ... " << count - maxChangesPerPin << " more\n";
                break;
            }
            out << "    sample " << change.frame << " -> " << change.value << "\n";
        }
    }
    return out.str();
}

nlohmann::ordered_json summaryJson(const RunResult& result) {
    nlohmann::ordered_json json;
    json["library"] = result.module.library;
    json["id"] = result.module.id;
    json["frames"] = result.traces.empty() ? 0 : result.traces[0].samples.size();
    json["inputs"] = nlohmann::ordered_json::object();
    for (const auto& [pin, state] : result.sentStates) json["inputs"][result.module.pins[pin].name] = state;
    json["reports"] = nlohmann::ordered_json::array();
    for (const TimedReport& report : result.reports)
        json["reports"].push_back({{"pin", report.pin}, {"name", report.pinName}, {"state", report.state},
                                   {"stateName", stateName(report.state)}, {"clock", report.clock}});
    json["changes"] = nlohmann::ordered_json::array();
    for (const OutputChange& change : result.changes)
        json["changes"].push_back({{"pin", change.pin}, {"name", result.module.pins[change.pin].name},
                                   {"sample", change.frame}, {"value", change.value}});
    return json;
}

void writeOutputs(const RunResult& result, const std::string& wav, const std::string& csv, const std::string& svg,
                  double sampleRate) {
    try {
        if (!csv.empty()) writeCsv(csv, result.traces);
        if (!svg.empty())
            writeSvg(svg, result.traces, result.changes, result.module.id + " (" + result.module.name + ")",
                     static_cast<int>(sampleRate));
        if (!wav.empty()) {
            std::vector<Trace> outputs;
            for (const Trace& trace : result.traces)
                if (trace.isOutput) outputs.push_back(trace);
            writeWav(wav, outputs, static_cast<int>(sampleRate));
        }
    } catch (const WriteError& error) {
        throw ToolError(ExitCode::OutputNotWritable, error.what());
    }
}

}  // namespace plughost
