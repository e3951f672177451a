// processing.*: what processEntry does with its buffers, checked after every
// call, and whether the output depends on anything but the input.
#include <algorithm>

#include "check.h"
#include "drive.h"

namespace plughost::validate {
namespace {

constexpr int32_t kFrames = 8000;

struct Setup {
    Shape shape;
    Stream stream;
    Plan oneBlock;
};

Setup setup(CheckContext& context, bool extremes = false) {
    Setup s{shapeOf(context.library()), {}, {}};
    s.stream = makeStream(context.seed(), s.shape.inputs.size(), kFrames, extremes);
    s.oneBlock = {{0, kFrames}};
    return s;
}

void requireClean(const Faults& faults, const std::string& what) {
    if (faults.any()) fail(what + ": " + faults.describeFirst());
}

// The plans the per-call checks run: one block, then fixed and random splits with offsets.
std::vector<Plan> workload(Rng& rng) {
    return {{{0, kFrames}}, fixedPlan(kFrames, 17, 3), fixedPlan(kFrames, 1024, 100), randomPlan(rng, kFrames)};
}

std::string perCall(CheckContext& context, Fault fault, const char* passText) {
    const Setup s = setup(context);
    if (s.shape.outputs.empty() && (fault == Fault::Unwritten || fault == Fault::NonFinite))
        throw CheckSkipped("no AudioStream output");
    Rng rng(context.seed());
    int64_t calls = 0;
    for (const Plan& plan : workload(rng)) {
        const RunResult result = runPlan(context.library(), s.stream, plan);
        calls += static_cast<int64_t>(plan.size());
        if (result.faults.has(fault)) fail(result.faults.describe(fault));
    }
    // Empty and negative blocks, between real ones, must write nothing at all.
    Driver driver(context.library(), s.stream, {{0, 600}});
    driver.start();
    driver.processBlock(0, 300);
    for (int32_t frames : {0, -1, -300}) driver.processBlock(5, frames);
    driver.processBlock(0, 300);
    driver.close();
    if (driver.faults.has(fault)) fail(driver.faults.describe(fault));
    return format("%s (%lld calls, blocks of 1..4096 frames at offsets 0..255, and of 0 and fewer)", passText,
                  static_cast<long long>(calls + 5));
}

std::string outputsOverwritten(CheckContext& context) {
    return perCall(context, Fault::Unwritten, "every output sample of every block written");
}
std::string writesInsideBlock(CheckContext& context) {
    return perCall(context, Fault::OutOfBlock, "nothing written outside [offset, offset + frames)");
}
std::string inputsUntouched(CheckContext& context) {
    return perCall(context, Fault::InputChanged, "inputs bit-identical after every call");
}
std::string noRequests(CheckContext& context) {
    return perCall(context, Fault::RequestInProcess, "no host request from inside processEntry");
}
std::string outputsFinite(CheckContext& context) {
    return perCall(context, Fault::NonFinite, "every output sample finite");
}

std::string splits(CheckContext& context) {
    const Setup s = setup(context);
    const RunResult reference = runPlan(context.library(), s.stream, s.oneBlock);
    requireClean(reference.faults, "one block");
    Rng rng(context.seed());
    std::vector<std::pair<std::string, Plan>> plans;
    for (int32_t size : {1, 10, 17, 256, 1024, 4096, 2027})
        plans.emplace_back(format("blocks of %d", size), fixedPlan(kFrames, size));
    for (int i = 0; i < 3; ++i) plans.emplace_back(format("random split %d", i + 1), randomPlan(rng, kFrames));
    for (const auto& [name, plan] : plans) {
        const RunResult result = runPlan(context.library(), s.stream, plan);
        requireClean(result.faults, name);
        const std::string difference = compareOutputs(s.shape, result.outputs, reference.outputs, name.c_str(), "one block");
        require(difference.empty(), difference);
    }
    return format("%zu splits of %d frames give the one-block output bit for bit", plans.size(), kFrames);
}

std::string interleaved(CheckContext& context) {
    const Setup s = setup(context);
    const Stream other = makeStream(context.seed() ^ 0xA5A5A5A5u, s.shape.inputs.size(), kFrames);
    Rng rng(context.seed());
    const Plan planA = randomPlan(rng, kFrames, 700, 50), planB = randomPlan(rng, kFrames, 700, 50);
    const RunResult aloneA = runPlan(context.library(), s.stream, planA);
    const RunResult aloneB = runPlan(context.library(), other, planB);
    Driver a(context.library(), s.stream, planA), b(context.library(), other, planB);
    a.start();
    b.start();
    while (!a.done() || !b.done()) {
        a.step();
        b.step();
        if (rng.chance(0.3)) b.step();
    }
    a.close();
    b.close();
    requireClean(a.faults, "first instance");
    requireClean(b.faults, "second instance");
    std::string difference = compareOutputs(s.shape, a.outputs, aloneA.outputs, "two interleaved", "alone");
    require(difference.empty(), "first instance: " + difference);
    difference = compareOutputs(s.shape, b.outputs, aloneB.outputs, "two interleaved", "alone");
    require(difference.empty(), "second instance: " + difference);
    return "two instances on different inputs, blocks interleaved, each as alone";
}

std::string reopen(CheckContext& context) {
    const Setup s = setup(context);
    Rng rng(context.seed());
    const Plan plan = randomPlan(rng, kFrames);
    const RunResult first = runPlan(context.library(), s.stream, plan);
    const RunResult second = runPlan(context.library(), s.stream, plan);
    requireClean(first.faults, "first instance");
    requireClean(second.faults, "second instance");
    const std::string difference = compareOutputs(s.shape, second.outputs, first.outputs, "a new instance", "the closed one");
    require(difference.empty(), difference);
    return "close, make and open again reproduces the output";
}

std::string extremeInputs(CheckContext& context) {
    const Setup s = setup(context, true);
    Rng rng(context.seed());
    for (const Plan& plan : {s.oneBlock, randomPlan(rng, kFrames)}) {
        const RunResult result = runPlan(context.library(), s.stream, plan);
        requireClean(result.faults, "NaN, infinite and denormal inputs, " + planName(plan));
    }
    return "NaN, infinities, denormals and extremes in: outputs finite, every rule kept";
}

std::string sampleRates(CheckContext& context) {
    const Setup s = setup(context);
    DriveSettings settings;
    const RunResult reference = runPlan(context.library(), s.stream, s.oneBlock, settings);
    requireClean(reference.faults, "44100 Hz");
    const float rates[] = {8000, 11025, 16000, 22050, 32000, 48000, 88200, 96000, 176400, 192000, 384000, 768000};
    for (float rate : rates) {
        settings.sampleRate = rate;
        const RunResult result = runPlan(context.library(), s.stream, s.oneBlock, settings);
        const std::string name = format("%.0f Hz", static_cast<double>(rate));
        requireClean(result.faults, name);
        const std::string difference = compareOutputs(s.shape, result.outputs, reference.outputs, name.c_str(), "44100 Hz");
        require(difference.empty(), difference);
    }
    return "the same output at 8000 to 768000 Hz";
}

std::string blockSizes(CheckContext& context) {
    const Setup s = setup(context);
    const RunResult reference = runPlan(context.library(), s.stream, s.oneBlock);
    requireClean(reference.faults, "one block");
    for (int32_t size : {1, 2, 3, 16, 64, 100, 512, 1000, 4096, 8192}) {
        DriveSettings settings;
        settings.blockSize = size;
        const RunResult result = runPlan(context.library(), s.stream, fixedPlan(kFrames, std::min(size, kFrames)), settings);
        const std::string name = format("SetBlockSize(%d)", size);
        requireClean(result.faults, name);
        const std::string difference = compareOutputs(s.shape, result.outputs, reference.outputs, name.c_str(), "one block");
        require(difference.empty(), difference);
    }
    return "the same output for SetBlockSize 1 to 8192 and blocks of that size";
}

}  // namespace

void addProcessingChecks(std::vector<Check>& checks) {
    checks.push_back({"processing.outputs-overwritten", &outputsOverwritten, false});
    checks.push_back({"processing.writes-inside-block", &writesInsideBlock, false});
    checks.push_back({"processing.inputs-untouched", &inputsUntouched, false});
    checks.push_back({"processing.no-requests", &noRequests, false});
    checks.push_back({"processing.outputs-finite", &outputsFinite, false});
    checks.push_back({"processing.splits", &splits, false});
    checks.push_back({"processing.interleaved", &interleaved, false});
    checks.push_back({"processing.reopen", &reopen, false});
    checks.push_back({"processing.extreme-inputs", &extremeInputs, false});
    checks.push_back({"processing.sample-rates", &sampleRates, false});
    checks.push_back({"processing.block-sizes", &blockSizes, false});
}

}  // namespace plughost::validate
