// Cost of the module classes as a host sees it: each class's processEntry
// against the straightforward branchy loop of the rules and against a loop
// that only moves the same samples (the memory bound), in time per sample, on
// three kinds of signal; plus bytes per instance, makeModule + Open + Close,
// and one pin-state event.
#include <benchmark/benchmark.h>
#include <emmintrin.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "complementary/deliverables.h"
#include "fixed_threshold/deliverables.h"
#include "plughost/instance.h"
#include "sem/entry.h"
#include "variable_threshold/deliverables.h"

namespace {

// Samples per buffer: far more than a branch predictor learns, so noise stays noise.
constexpr int32_t kPool = 1 << 17;
constexpr float kThreshold = 0.333f;
enum Pin : int32_t { kSet = 0, kReset = 1, kOut = 2, kThresholdPin = 3, kNegOut = 4 };

// The pins' buffers, shared by every benchmark of one signal.
struct Buffers {
    std::vector<float> pins[5];
};

enum class Signal { Noise, Gates, Dither };
const char* nameOf(Signal signal) {
    switch (signal) {
    case Signal::Noise: return "noise";
    case Signal::Gates: return "gates";
    case Signal::Dither: return "dither";
    }
    return "";
}

std::vector<float> makeInput(Signal signal, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<float> samples;
    samples.reserve(kPool);
    switch (signal) {
    case Signal::Noise: {
        std::uniform_real_distribution<float> level(0.0f, 1.0f);
        while (samples.size() < kPool) samples.push_back(level(random));
        break;
    }
    case Signal::Gates: {
        // 0 V or 10 V held for hundreds to thousands of samples.
        bool high = false;
        while (samples.size() < kPool) {
            samples.insert(samples.end(), 200 + random() % 4000, high ? 1.0f : 0.0f);
            high = !high;
        }
        break;
    }
    case Signal::Dither: {
        std::uniform_real_distribution<float> offset(-0.002f, 0.002f);
        while (samples.size() < kPool) samples.push_back(kThreshold + offset(random));
        break;
    }
    }
    samples.resize(kPool);
    return samples;
}

Buffers& buffersFor(Signal signal) {
    static Buffers cache[3];
    Buffers& buffers = cache[static_cast<int>(signal)];
    if (buffers.pins[kSet].empty()) {
        buffers.pins[kSet] = makeInput(signal, 1);
        buffers.pins[kReset] = makeInput(signal, 2);
        // Noise moves the Threshold input too, so that each sample has its own;
        // the other signals hold it, as a knob does.
        if (signal == Signal::Noise) {
            std::mt19937 random(3);
            std::uniform_real_distribution<float> level(0.25f, 0.45f);
            for (int32_t i = 0; i < kPool; ++i) buffers.pins[kThresholdPin].push_back(level(random));
        } else {
            buffers.pins[kThresholdPin].assign(kPool, kThreshold);
        }
        buffers.pins[kOut].assign(kPool, 0.0f);
        buffers.pins[kNegOut].assign(kPool, 0.0f);
    }
    return buffers;
}

// The least a host answers; hostHandle points at it.
struct BenchHost {
    int32_t pinCount = 0;
    int64_t stateReports = 0;
};

intptr_t SEM_CDECL answerRequest(sem::ModuleRecord* record, int32_t opcode, int32_t, int32_t, void*, float) {
    auto& host = *static_cast<BenchHost*>(record->hostHandle);
    switch (static_cast<sem::HostOp>(opcode)) {
    case sem::HostOp::GetPinCount: return host.pinCount;
    case sem::HostOp::SetPinState: ++host.stateReports; return 0;
    default: return 0;
    }
}

struct ClassInfo {
    const char* name;
    sem::MakeModuleFunction makeModule;
    size_t instanceBytes;
    bool perSampleThreshold;
    bool complementary;
};

template <class Module>
ClassInfo classInfo(const char* name, bool perSample, bool complementary) {
    return {name, &sem::EntryPoints<Module>::makeModule, sizeof(Module), perSample, complementary};
}

const ClassInfo kClasses[] = {
    classInfo<latch::OmbrelLatchModule>("FixedThresholdLatch", false, false),
    classInfo<latch::KestrineNModule>("ComplementaryLatch", true, true),
    classInfo<latch::KestrineModule>("VariableThresholdLatch", true, false),
};

// An instance made, bound and opened as a host does it, closed at the end.
class OpenInstance {
public:
    OpenInstance(const ClassInfo& info, Buffers* buffers) {
        record = info.makeModule(0, 1, &answerRequest, &host);
        const std::vector<plughost::DescribedPin> pins = plughost::describePins(record);
        host.pinCount = static_cast<int32_t>(pins.size());
        for (size_t pin = 0; buffers && pin < pins.size(); ++pin)
            *static_cast<float**>(pins[pin].properties.variableAddress) = buffers->pins[pin].data();
        dispatch(sem::ModuleOp::Open);
    }
    ~OpenInstance() { dispatch(sem::ModuleOp::Close); }
    OpenInstance(const OpenInstance&) = delete;
    OpenInstance& operator=(const OpenInstance&) = delete;

    sem::ModuleRecord* record;
    BenchHost host;

private:
    void dispatch(sem::ModuleOp op) { record->dispatchEntry(record, static_cast<int32_t>(op), 0, 0, nullptr, 0.0f); }
};

void setPerSample(benchmark::State& state, int32_t frames) {
    state.counters["per_sample"] =
        benchmark::Counter(frames, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Runs process over consecutive blocks of the pools, as a host moves through a stream.
void timeBlocks(benchmark::State& state, sem::ProcessFunction process, void* object, int32_t frames) {
    int32_t offset = 0;
    for (auto _ : state) {
        process(object, offset, frames);
        benchmark::ClobberMemory();
        offset += frames;
        if (offset + frames > kPool) offset = 0;
    }
    setPerSample(state, frames);
}

void moduleProcess(benchmark::State& state, const ClassInfo& info, Signal signal, int32_t frames) {
    OpenInstance instance(info, &buffersFor(signal));
    timeBlocks(state, instance.record->processEntry, instance.record->object, frames);
}

// The rules written the straightforward way, with the same buffers.
struct Plain {
    const float* set;
    const float* reset;
    const float* threshold;
    float* out;
    float* negOut;
    float previousSet, previousReset, level;
};

Plain plainOver(Buffers& buffers) {
    return {buffers.pins[kSet].data(), buffers.pins[kReset].data(), buffers.pins[kThresholdPin].data(),
            buffers.pins[kOut].data(), buffers.pins[kNegOut].data(), 1.0f, 1.0f, 0.0f};
}

template <bool PerSample, bool Complementary>
void SEM_CDECL naiveProcess(void* object, int32_t offset, int32_t frames) {
    Plain& plain = *static_cast<Plain*>(object);
    float previousSet = plain.previousSet, previousReset = plain.previousReset, level = plain.level;
    for (int32_t i = offset; i < offset + frames; ++i) {
        const float threshold = PerSample ? plain.threshold[i] : kThreshold;
        const float set = plain.set[i], reset = plain.reset[i];
        if (set >= threshold && !(previousSet >= threshold)) level = 0.5f;
        if (reset >= threshold && !(previousReset >= threshold)) level = 0.0f;
        previousSet = set;
        previousReset = reset;
        plain.out[i] = level;
        if (Complementary) plain.negOut[i] = 0.5f - level;
    }
    plain.previousSet = previousSet;
    plain.previousReset = previousReset;
    plain.level = level;
}

// Reads the same inputs and writes the same outputs, doing next to nothing.
template <bool PerSample, bool Complementary>
void SEM_CDECL memoryBoundProcess(void* object, int32_t offset, int32_t frames) {
    Plain& plain = *static_cast<Plain*>(object);
    for (int32_t i = offset; i + 4 <= offset + frames; i += 4) {
        __m128 sum = _mm_or_ps(_mm_loadu_ps(plain.set + i), _mm_loadu_ps(plain.reset + i));
        if (PerSample) sum = _mm_and_ps(sum, _mm_loadu_ps(plain.threshold + i));
        _mm_storeu_ps(plain.out + i, sum);
        if (Complementary) _mm_storeu_ps(plain.negOut + i, _mm_andnot_ps(sum, _mm_set1_ps(0.5f)));
    }
}

template <template <bool, bool> class Pick>
sem::ProcessFunction pickFor(const ClassInfo& info) {
    if (!info.perSampleThreshold) return Pick<false, false>::function;
    return info.complementary ? Pick<true, true>::function : Pick<true, false>::function;
}
template <bool PerSample, bool Complementary>
struct Naive {
    static constexpr sem::ProcessFunction function = &naiveProcess<PerSample, Complementary>;
};
template <bool PerSample, bool Complementary>
struct MemoryBound {
    static constexpr sem::ProcessFunction function = &memoryBoundProcess<PerSample, Complementary>;
};

template <template <bool, bool> class Pick>
void plainProcess(benchmark::State& state, const ClassInfo& info, Signal signal, int32_t frames) {
    Plain plain = plainOver(buffersFor(signal));
    timeBlocks(state, pickFor<Pick>(info), &plain, frames);
}

void makeOpenClose(benchmark::State& state, const ClassInfo& info) {
    BenchHost host;
    host.pinCount = info.complementary ? 5 : info.perSampleThreshold ? 4 : 3;
    for (auto _ : state) {
        sem::ModuleRecord* record = info.makeModule(0, 1, &answerRequest, &host);
        record->dispatchEntry(record, static_cast<int32_t>(sem::ModuleOp::Open), 0, 0, nullptr, 0.0f);
        record->dispatchEntry(record, static_cast<int32_t>(sem::ModuleOp::Close), 0, 0, nullptr, 0.0f);
    }
}

// A PinStateChange on upSET, alternating Streaming and Static: the module
// recomputes and reports its output states.
void pinStateEvent(benchmark::State& state, const ClassInfo& info) {
    OpenInstance instance(info, &buffersFor(Signal::Noise));
    sem::HostEvent event{0, static_cast<int32_t>(sem::HostEventType::PinStateChange), 0, 0, kSet, 0};
    for (auto _ : state) {
        event.value = event.value == 0 ? static_cast<int32_t>(sem::PinState::Streaming) : 0;
        instance.record->eventEntry(instance.record->object, &event);
    }
    benchmark::DoNotOptimize(instance.host.stateReports);
}

void registerAll() {
    const Signal signals[] = {Signal::Noise, Signal::Gates, Signal::Dither};
    for (const ClassInfo& info : kClasses) {
        for (Signal signal : signals) {
            const std::string suffix = std::string(info.name) + "/" + nameOf(signal);
            const auto add = [&](const std::string& name, auto run) {
                benchmark::RegisterBenchmark(name.c_str(), [&info, signal, run](benchmark::State& state) {
                    run(state, info, signal, static_cast<int32_t>(state.range(0)));
                })->Arg(64)->Arg(1024)->Arg(65536);
            };
            add("BM_" + suffix, moduleProcess);
            add("BM_Naive" + suffix, plainProcess<Naive>);
            add("BM_MemoryBound" + suffix, plainProcess<MemoryBound>);
        }
        benchmark::RegisterBenchmark((std::string("BM_MakeOpenClose/") + info.name).c_str(),
                                     [&info](benchmark::State& state) { makeOpenClose(state, info); });
        benchmark::RegisterBenchmark((std::string("BM_PinStateEvent/") + info.name).c_str(),
                                     [&info](benchmark::State& state) { pinStateEvent(state, info); });
        benchmark::AddCustomContext(std::string("bytes/") + info.name, std::to_string(info.instanceBytes));
    }
    benchmark::AddCustomContext("bytes/Pin", std::to_string(sizeof(sem::Pin)));
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    registerAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
