#include "drive.h"
#include "plughost/float_bits.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "check.h"

namespace plughost::validate {
namespace {

uint64_t splitmix(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint32_t rotl(uint32_t x, int k) { return (x << k) | (x >> (32 - k)); }

bool finiteBits(uint32_t bits) { return (bits & 0x7F800000u) != 0x7F800000u; }

// Written through the bits so that a signalling NaN stays signalling: an i386
// float return would pass through the x87 stack and quieten it.
void setBits(float& target, uint32_t bits) { std::memcpy(&target, &bits, sizeof bits); }

const uint32_t kExtremes[] = {
    0x7FC00000u,  // quiet NaN
    0xFFC00000u,  // negative quiet NaN
    0x7FC12345u,  // NaN with a payload
    0x7F800001u,  // signalling NaN
    0x7F800000u,  // +inf
    0xFF800000u,  // -inf
    0x00000001u,  // smallest denormal
    0x80000001u,  // smallest negative denormal
    0x000116C2u,  // 1e-40
    0x807FFFFFu,  // largest negative denormal
    0x7F7FFFFFu,  // FLT_MAX
    0xFF7FFFFFu,  // -FLT_MAX
    0x80000000u,  // -0
    0x00800000u,  // FLT_MIN
};

}  // namespace

Rng::Rng(uint64_t seed) {
    uint64_t state = seed;
    const uint64_t a = splitmix(state), b = splitmix(state);
    s[0] = static_cast<uint32_t>(a);
    s[1] = static_cast<uint32_t>(a >> 32);
    s[2] = static_cast<uint32_t>(b);
    s[3] = static_cast<uint32_t>(b >> 32) | 1u;
}

uint32_t Rng::next() {
    const uint32_t result = rotl(s[1] * 5, 7) * 9;
    const uint32_t t = s[1] << 9;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = rotl(s[3], 11);
    return result;
}

int32_t Rng::range(int32_t low, int32_t high) {
    const auto span = static_cast<uint64_t>(static_cast<int64_t>(high) - low + 1);
    return static_cast<int32_t>(low + static_cast<int64_t>(next() % span));
}

float Rng::uniform(float low, float high) {
    const float unit = static_cast<float>(next() >> 8) * (1.0f / 16777216.0f);
    return low + (high - low) * unit;
}

bool Rng::chance(double probability) { return (next() >> 8) < probability * 16777216.0; }

std::string floatText(float value) {
    const uint32_t bits = bitsOf(value);
    if (std::isnan(value)) return format("nan(0x%08X)", static_cast<unsigned>(bits));
    return format("%.9g", static_cast<double>(value));
}

const char* hostOpName(int32_t opcode) {
    switch (opcode) {
    case 0: return "SetPinState";
    case 3: return "GetSampleClock";
    case 7: return "GetPinBuffer";
    case 8: return "GetBlockStartClock";
    case 14: return "GetPinCount";
    case 19: return "AddEvent";
    case 22: return "ProcessRoutineChanged";
    default: return "unknown";
    }
}

std::string Shape::pinName(int32_t pin) const {
    if (pin >= 0 && pin < static_cast<int32_t>(pins.size()) && pins[pin].properties.name)
        return pins[pin].properties.name;
    return format("pin %d", pin);
}

bool Shape::isOutput(int32_t pin) const {
    return pin >= 0 && pin < static_cast<int32_t>(pins.size()) &&
           pins[pin].properties.direction == static_cast<int32_t>(sem::PinDirection::Output);
}

Shape shapeOf(const Instance& instance) {
    Shape shape;
    shape.pins = instance.pins();
    for (int32_t pin = 0; pin < static_cast<int32_t>(shape.pins.size()); ++pin) {
        const sem::PinProperties& p = shape.pins[pin].properties;
        if (p.datatype != static_cast<int32_t>(sem::PinDatatype::AudioStream)) continue;
        (p.direction == static_cast<int32_t>(sem::PinDirection::Output) ? shape.outputs : shape.inputs).push_back(pin);
    }
    return shape;
}

Shape shapeOf(const Library& library) {
    auto instance = Instance::make(library);
    require(instance != nullptr, "makeModule(0, 1) answered null");
    Shape shape = shapeOf(*instance);
    instance->close();
    return shape;
}

Stream makeStream(uint64_t seed, size_t inputCount, int32_t frames, bool extremes) {
    Stream stream;
    stream.frames = frames;
    for (size_t k = 0; k < inputCount; ++k) {
        Rng rng(seed * 31 + k + 1);
        std::vector<float> samples(static_cast<size_t>(frames));
        int32_t i = 0;
        while (i < frames) {
            const int32_t length = std::min(rng.range(1, 400), frames - i);
            const int32_t kind = rng.range(0, 9);
            if (kind < 5) {
                for (int32_t j = 0; j < length; ++j) samples[i + j] = rng.uniform(-1.0f, 1.0f);
            } else if (kind < 8) {
                static const float kSteady[] = {0.0f, 1.0f, -1.0f, 0.5f, 0.333f, -0.333f};
                const float value = rng.chance(0.5) ? rng.uniform(-1.0f, 1.0f) : kSteady[rng.range(0, 5)];
                for (int32_t j = 0; j < length; ++j) samples[i + j] = value;
            } else {
                // A square wave between two values, so that edges come in runs.
                const float low = rng.uniform(-1.0f, 0.3f), high = rng.uniform(0.3f, 1.0f);
                const int32_t half = rng.range(1, 20);
                for (int32_t j = 0; j < length; ++j) samples[i + j] = (j / half) % 2 ? high : low;
            }
            if (extremes && rng.chance(0.2)) {
                const uint32_t bits = kExtremes[rng.range(0, static_cast<int32_t>(std::size(kExtremes)) - 1)];
                for (int32_t j = 0; j < length; ++j) setBits(samples[i + j], bits);
            }
            i += length;
        }
        if (extremes) {
            for (int32_t j = 0; j < frames; ++j)
                if (rng.chance(0.05)) setBits(samples[j], kExtremes[rng.range(0, static_cast<int32_t>(std::size(kExtremes)) - 1)]);
        }
        stream.inputs.push_back(std::move(samples));
    }
    return stream;
}

Plan fixedPlan(int32_t frames, int32_t size, int32_t offset) {
    Plan plan;
    for (int32_t position = 0; position < frames; position += size)
        plan.push_back({offset, std::min(size, frames - position)});
    return plan;
}

Plan randomPlan(Rng& rng, int32_t frames, int32_t maxSize, int32_t maxOffset) {
    Plan plan;
    int32_t position = 0;
    while (position < frames) {
        // Mostly short and middling blocks, some up to maxSize.
        const int32_t pick = rng.range(0, 9);
        const int32_t ceiling = pick < 3 ? 16 : pick < 7 ? 512 : maxSize;
        int32_t size = rng.range(1, std::max(1, std::min(ceiling, maxSize)));
        size = std::min(size, frames - position);
        const int32_t offset = rng.chance(0.3) ? 0 : rng.range(0, maxOffset);
        plan.push_back({offset, size});
        position += size;
    }
    return plan;
}

std::string planName(const Plan& plan) {
    if (plan.empty()) return "no blocks";
    bool same = true;
    for (size_t i = 0; i + 1 < plan.size(); ++i)
        same = same && plan[i].frames == plan[0].frames && plan[i].offset == plan[0].offset;
    if (plan.size() == 1) return format("one block of %d", plan[0].frames);
    if (same && plan.back().offset == plan[0].offset)
        return plan[0].offset ? format("blocks of %d at offset %d", plan[0].frames, plan[0].offset)
                              : format("blocks of %d", plan[0].frames);
    return format("%zu random blocks with random offsets", plan.size());
}

void Faults::add(Fault fault, const std::string& detail) {
    const auto k = static_cast<size_t>(fault);
    if (count[k]++ == 0) first[k] = detail;
}

bool Faults::any() const {
    return std::any_of(count.begin(), count.end(), [](int64_t n) { return n > 0; });
}

std::string Faults::describe(Fault fault) const {
    const auto k = static_cast<size_t>(fault);
    if (count[k] <= 1) return first[k];
    return first[k] + format(" (and %lld more such calls)", static_cast<long long>(count[k] - 1));
}

std::string Faults::describeFirst() const {
    for (size_t k = 0; k < kFaultKinds; ++k)
        if (count[k] > 0) return describe(static_cast<Fault>(k));
    return {};
}

Driver::Driver(const Library& library, const Stream& input, Plan blocks, DriveSettings driveSettings)
    : inst(Instance::make(library)), stream(input), plan(std::move(blocks)), settings(driveSettings) {
    require(inst != nullptr, "makeModule(0, 1) answered null");
    pinShape = shapeOf(*inst);
    if (settings.hostPinCount >= 0) inst->pinCount = settings.hostPinCount;
    for (const Block& block : plan) capacity = std::max(capacity, block.offset + std::max(block.frames, 0));
    const auto words = static_cast<size_t>(capacity + 2 * kGuardWords);
    const int32_t counted = inst->pinCount;
    const auto described = static_cast<int32_t>(pinShape.pins.size());

    for (size_t k = 0; k < pinShape.inputs.size(); ++k) {
        const int32_t pin = pinShape.inputs[k];
        if (pin >= counted) continue;
        Buffer buffer{pin, false, std::vector<uint32_t>(words, kGuardBits)};
        // A module may read an input at Open: every element holds the first sample.
        const uint32_t first = stream.frames > 0 ? bitsOf(stream.inputs[k][0]) : 0u;
        std::fill(buffer.words.begin() + kGuardWords, buffer.words.end() - kGuardWords, first);
        buffers.push_back(std::move(buffer));
    }
    for (int32_t pin : pinShape.outputs)
        if (pin < counted) buffers.push_back({pin, true, std::vector<uint32_t>(words, kGuardBits)});
    // Pins the host counts beyond the descriptions get zeroed buffers no module should touch.
    for (int32_t pin = described; pin < counted && pin < described + 8; ++pin) {
        Buffer buffer{pin, false, std::vector<uint32_t>(words, kGuardBits)};
        std::fill(buffer.words.begin() + kGuardWords, buffer.words.end() - kGuardWords, 0u);
        buffers.push_back(std::move(buffer));
    }
    for (Buffer& buffer : buffers) inst->bindBuffer(buffer.pin, buffer.data());
    outputs.resize(pinShape.outputs.size());
}

Driver::~Driver() = default;

void Driver::start() {
    int32_t largest = 1;
    for (const Block& block : plan) largest = std::max(largest, block.frames);
    inst->sampleClock = 0;
    inst->setSampleRate(settings.sampleRate);
    inst->setBlockSize(settings.blockSize > 0 ? settings.blockSize : largest);
    inst->open();
    if (settings.openTwice) inst->open();
    for (int32_t pin : pinShape.inputs)
        if (pin < inst->pinCount) inst->sendPinState(pin, sem::PinState::Streaming);
}

bool Driver::step() {
    if (done()) return false;
    const Block block = plan[nextBlock++];
    processBlock(block.offset, block.frames);
    return true;
}

void Driver::runAll() {
    while (step()) {
    }
}

void Driver::close() {
    if (inst->alive()) inst->close();
}

void Driver::clockForEvents() {
    inst->sampleClock = position;
    for (int32_t pin = 0; pin < std::max<int32_t>(inst->pinCount, 0) && pin < 64; ++pin)
        inst->blockStartClock[pin] = position;
}

void Driver::processBlock(int32_t offset, int32_t frames) {
    const int32_t available = std::max(0, std::min(frames, stream.frames - position));
    for (Buffer& buffer : buffers) {
        if (buffer.output) {
            std::fill(buffer.words.begin(), buffer.words.end(), kGuardBits);
            if (frames > 0)
                std::fill(buffer.words.begin() + kGuardWords + offset,
                          buffer.words.begin() + kGuardWords + offset + frames, kUnwrittenBits);
            continue;
        }
        const auto found = std::find(pinShape.inputs.begin(), pinShape.inputs.end(), buffer.pin);
        if (found != pinShape.inputs.end() && available > 0) {
            const std::vector<float>& source = stream.inputs[static_cast<size_t>(found - pinShape.inputs.begin())];
            std::memcpy(buffer.data() + offset, source.data() + position, static_cast<size_t>(available) * sizeof(float));
        }
    }
    snapshot.clear();
    for (const Buffer& buffer : buffers)
        if (!buffer.output) snapshot.insert(snapshot.end(), buffer.words.begin(), buffer.words.end());

    inst->sampleClock = position;
    for (int32_t pin = 0; pin < std::max<int32_t>(inst->pinCount, 0) && pin < 64; ++pin)
        inst->blockStartClock[pin] = position - offset;
    const size_t requestsBefore = inst->requests.size();
    const size_t strayBefore = Instance::strayRequests().size();
    ++calls;
    inst->process(offset, frames);

    const std::string call = format("process(offset %d, frames %d) [call %lld, frame %d]", offset, frames,
                                    static_cast<long long>(calls), position);
    for (size_t r = requestsBefore; r < inst->requests.size(); ++r) {
        const Request& request = inst->requests[r];
        if (request.duringProcess)
            faults.add(Fault::RequestInProcess, format("%s made host request %d (%s) from inside processEntry",
                                                       call.c_str(), request.opcode, hostOpName(request.opcode)));
    }
    for (size_t r = strayBefore; r < Instance::strayRequests().size(); ++r)
        faults.add(Fault::RequestInProcess,
                   format("%s made a request (opcode %d) naming a record no instance owns", call.c_str(),
                          Instance::strayRequests()[r].opcode));

    size_t snap = 0;
    for (Buffer& buffer : buffers) {
        const std::string name = pinShape.pinName(buffer.pin);
        const auto total = static_cast<int32_t>(buffer.words.size());
        if (!buffer.output) {
            for (int32_t w = 0; w < total; ++w) {
                if (buffer.words[w] != snapshot[snap + w]) {
                    faults.add(Fault::InputChanged,
                               format("%s changed input %s[%d] from %s to %s", call.c_str(), name.c_str(),
                                      w - kGuardWords, floatText(floatOf(snapshot[snap + w])).c_str(),
                                      floatText(floatOf(buffer.words[w])).c_str()));
                    break;
                }
            }
            snap += buffer.words.size();
            continue;
        }
        bool reportedOutside = false, reportedUnwritten = false, reportedNonFinite = false;
        for (int32_t w = 0; w < total; ++w) {
            const int32_t index = w - kGuardWords;
            const uint32_t bits = buffer.words[w];
            const bool inside = frames > 0 && index >= offset && index < offset + frames;
            if (!inside) {
                if (bits != kGuardBits && !reportedOutside) {
                    reportedOutside = true;
                    const char* where = index < 0 ? "before the buffer"
                                        : index < offset ? "before the block"
                                        : index >= capacity ? "past the buffer end"
                                                            : "past the block end";
                    faults.add(Fault::OutOfBlock,
                               format("%s wrote %s[%d] = %s, %s (block is [%d, %d))", call.c_str(), name.c_str(),
                                      index, floatText(floatOf(bits)).c_str(), where, offset,
                                      offset + std::max(frames, 0)));
                }
                continue;
            }
            if (bits == kUnwrittenBits) {
                if (!reportedUnwritten) {
                    reportedUnwritten = true;
                    faults.add(Fault::Unwritten, format("%s left %s[%d] unwritten (the tagged NaN is still there)",
                                                        call.c_str(), name.c_str(), index));
                }
            } else if (!finiteBits(bits) && !reportedNonFinite) {
                reportedNonFinite = true;
                faults.add(Fault::NonFinite, format("%s wrote non-finite %s[%d] = %s", call.c_str(), name.c_str(),
                                                    index, floatText(floatOf(bits)).c_str()));
            }
        }
        const auto k = static_cast<size_t>(
            std::find(pinShape.outputs.begin(), pinShape.outputs.end(), buffer.pin) - pinShape.outputs.begin());
        if (frames > 0) {
            const float* data = buffer.data() + offset;
            outputs[k].insert(outputs[k].end(), data, data + frames);
        }
    }
    position += available;
}

RunResult runPlan(const Library& library, const Stream& stream, const Plan& plan, DriveSettings settings) {
    Driver driver(library, stream, plan, settings);
    driver.start();
    driver.runAll();
    driver.close();
    return {driver.outputs, driver.faults};
}

std::string compareOutputs(const Shape& shape, const std::vector<std::vector<float>>& got,
                           const std::vector<std::vector<float>>& expected, const char* gotName,
                           const char* expectedName) {
    for (size_t k = 0; k < expected.size() && k < got.size(); ++k) {
        const std::string name = shape.pinName(shape.outputs[k]);
        const size_t n = std::min(got[k].size(), expected[k].size());
        for (size_t i = 0; i < n; ++i) {
            if (bitsOf(got[k][i]) != bitsOf(expected[k][i]))
                return format("%s[%zu] is %s with %s but %s with %s", name.c_str(), i, floatText(got[k][i]).c_str(),
                              gotName, floatText(expected[k][i]).c_str(), expectedName);
        }
        if (got[k].size() != expected[k].size())
            return format("%s has %zu samples with %s but %zu with %s", name.c_str(), got[k].size(), gotName,
                          expected[k].size(), expectedName);
    }
    return {};
}

void requireNoStrayRequests(const char* when) {
    const auto& stray = Instance::strayRequests();
    if (stray.empty()) return;
    fail(format("%zu request(s) %s named a record no live instance owns (first: opcode %d (%s), record %p)",
                stray.size(), when, stray[0].opcode, hostOpName(stray[0].opcode),
                static_cast<const void*>(stray[0].record)));
}

void clearStrayRequests() { Instance::strayRequests().clear(); }

}  // namespace plughost::validate
