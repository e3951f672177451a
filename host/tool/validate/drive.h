// Drives instances the way a host does while watching every processing call:
// guarded, patterned buffers; outputs pre-filled with a tagged NaN; inputs
// compared bit for bit; requests made from inside processEntry noted.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "plughost/float_bits.h"
#include "plughost/instance.h"
#include "plughost/library.h"

namespace plughost::validate {

// xoshiro128** seeded through splitmix64: the same seed gives the same run on every target.
class Rng {
public:
    explicit Rng(uint64_t seed);
    uint32_t next();
    int32_t range(int32_t low, int32_t high);  // inclusive
    float uniform(float low, float high);
    bool chance(double probability);

private:
    uint32_t s[4];
};

// Output words not yet written by the module: a quiet NaN with a payload of its own.
inline constexpr uint32_t kUnwrittenBits = 0x7FC0DEADu;
// Every word the module must not write: another quiet NaN.
inline constexpr uint32_t kGuardBits = 0x7FC0BEEFu;
inline constexpr int32_t kGuardWords = 64;

std::string floatText(float value);
const char* hostOpName(int32_t opcode);

// The pins the battery drives: AudioStream pins get buffers; direction 1 is
// an output, every other direction an input.
struct Shape {
    std::vector<DescribedPin> pins;
    std::vector<int32_t> inputs;   // AudioStream inputs, by pin index
    std::vector<int32_t> outputs;  // AudioStream outputs, by pin index
    std::string pinName(int32_t pin) const;
    bool isOutput(int32_t pin) const;
};
Shape shapeOf(const Instance& instance);
Shape shapeOf(const Library& library);  // through one short-lived instance

// One input stream per input pin, all of the same length.
struct Stream {
    int32_t frames = 0;
    std::vector<std::vector<float>> inputs;
};
// Seeded noise in [-1, 1] mixed with steady stretches; with extremes set, NaN,
// infinities, denormals and the largest magnitudes are scattered through it.
Stream makeStream(uint64_t seed, size_t inputCount, int32_t frames, bool extremes = false);

struct Block {
    int32_t offset;
    int32_t frames;
};
using Plan = std::vector<Block>;
Plan fixedPlan(int32_t frames, int32_t size, int32_t offset = 0);
Plan randomPlan(Rng& rng, int32_t frames, int32_t maxSize = 4096, int32_t maxOffset = 255);
std::string planName(const Plan& plan);

// What went wrong in processing calls: the first of each kind, and how often.
enum class Fault { Unwritten, OutOfBlock, InputChanged, RequestInProcess, NonFinite };
inline constexpr size_t kFaultKinds = 5;
struct Faults {
    std::array<std::string, kFaultKinds> first;
    std::array<int64_t, kFaultKinds> count{};
    void add(Fault fault, const std::string& detail);
    bool any() const;
    bool has(Fault fault) const { return count[static_cast<size_t>(fault)] > 0; }
    std::string describe(Fault fault) const;  // first detail plus how many more
    std::string describeFirst() const;         // of the first kind found, in Fault order
};

struct DriveSettings {
    float sampleRate = 44100.0f;
    int32_t blockSize = 0;       // 0: the largest block of the plan
    int32_t hostPinCount = -1;   // -1: as described
    bool openTwice = false;
};

// One instance with a buffer per AudioStream pin the host counts. Buffers are
// bound at construction, before Open, with every input holding its first sample.
class Driver {
public:
    Driver(const Library& library, const Stream& stream, Plan plan, DriveSettings settings = {});
    ~Driver();
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;

    Instance& instance() { return *inst; }
    const Shape& shape() const { return pinShape; }
    // SetSampleRate, SetBlockSize, Open, then Streaming on every input pin.
    void start();
    // Runs the plan's next block; false once the plan is done.
    bool step();
    void runAll();
    void close();
    bool done() const { return nextBlock >= plan.size(); }
    // Processes frames at offset from the stream's current position and moves it on.
    void processBlock(int32_t offset, int32_t frames);
    // Moves on to the start of the stream again (for drivers that loop a short stream).
    void rewind() { position = 0; }
    // Clocks for events between blocks: the next block's first sample, at offset 0.
    void clockForEvents();
    int32_t streamPosition() const { return position; }

    // One vector per output pin of the shape, the samples of every block in order.
    std::vector<std::vector<float>> outputs;
    Faults faults;

private:
    struct Buffer {
        int32_t pin;
        bool output;
        std::vector<uint32_t> words;  // guard, capacity, guard
        float* data() { return reinterpret_cast<float*>(words.data() + kGuardWords); }
    };

    std::unique_ptr<Instance> inst;
    Shape pinShape;
    const Stream& stream;
    Plan plan;
    DriveSettings settings;
    int32_t capacity = 1;
    std::vector<Buffer> buffers;
    std::vector<uint32_t> snapshot;
    size_t nextBlock = 0;
    int32_t position = 0;
    int64_t calls = 0;
};

struct RunResult {
    std::vector<std::vector<float>> outputs;
    Faults faults;
};
RunResult runPlan(const Library& library, const Stream& stream, const Plan& plan, DriveSettings settings = {});

// Empty when equal bit for bit; else where the first difference is.
std::string compareOutputs(const Shape& shape, const std::vector<std::vector<float>>& got,
                           const std::vector<std::vector<float>>& expected, const char* gotName,
                           const char* expectedName);

// Fails the check when any request named a record no live instance owns.
void requireNoStrayRequests(const char* when);
void clearStrayRequests();

}  // namespace plughost::validate
