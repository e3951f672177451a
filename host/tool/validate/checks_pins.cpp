// pins.*: the pin descriptions and how an instance copes with a host that
// counts fewer or more pins than it describes.
#include <algorithm>
#include <climits>
#include <cstring>
#include <set>

#include "check.h"
#include "drive.h"

namespace plughost::validate {
namespace {

constexpr int32_t kDescriptionLimit = 256;

// Every description word by word, asked through the record on a zeroed record.
std::vector<std::array<uint32_t, 8>> readDescriptions(Instance& instance) {
    std::vector<std::array<uint32_t, 8>> descriptions;
    for (int32_t d = 0; d < kDescriptionLimit; ++d) {
        sem::PinProperties properties;
        std::memset(&properties, 0, sizeof properties);
        if (!instance.getPinProperties(d, &properties)) break;
        std::array<uint32_t, 8> words;
        std::memcpy(words.data(), &properties, sizeof properties);
        descriptions.push_back(words);
    }
    return descriptions;
}

std::string text(uint32_t word) {
    const char* s = reinterpret_cast<const char*>(static_cast<uintptr_t>(word));
    return s ? std::string(s) : std::string("(null)");
}

std::string stable(CheckContext& context) {
    const Library& library = context.library();
    auto first = Instance::make(library);
    auto second = Instance::make(library);
    require(first && second, "makeModule(0, 1) answered null");
    const auto a = readDescriptions(*first);
    const auto again = readDescriptions(*first);
    require(a.size() == again.size(),
            format("%zu descriptions, then %zu on the same instance", a.size(), again.size()));
    for (size_t d = 0; d < a.size(); ++d)
        for (int w = 0; w < 8; ++w)
            require(a[d][w] == again[d][w], format("description %zu word %d changed between calls: 0x%08X then 0x%08X",
                                                   d, w, static_cast<unsigned>(a[d][w]),
                                                   static_cast<unsigned>(again[d][w])));
    first->open();
    const auto afterOpen = readDescriptions(*first);
    require(afterOpen == a, "the descriptions changed after Open");
    const auto b = readDescriptions(*second);
    require(a.size() == b.size(), format("%zu descriptions on one instance, %zu on another", a.size(), b.size()));
    for (size_t d = 0; d < a.size(); ++d) {
        // The variable is per instance; the rest must agree, texts by content.
        for (int w : {1, 2, 6, 7})
            require(a[d][w] == b[d][w], format("description %zu word %d differs between instances", d, w));
        for (int w : {3, 4, 5})
            require((a[d][w] == 0) == (b[d][w] == 0) && (a[d][w] == 0 || text(a[d][w]) == text(b[d][w])),
                    format("description %zu text word %d differs between instances", d, w));
    }
    first->close();
    second->close();
    return format("%zu descriptions, the same on every call, after Open and on another instance", a.size());
}

std::string names(CheckContext& context) {
    const Library& library = context.library();
    const Shape shape = shapeOf(library);
    std::set<std::string> seen;
    for (int32_t pin = 0; pin < static_cast<int32_t>(shape.pins.size()); ++pin) {
        const char* name = shape.pins[pin].properties.name;
        require(name != nullptr, format("pin %d has a null name", pin));
        require(*name != '\0', format("pin %d has an empty name", pin));
        require(seen.insert(name).second, format("pin %d repeats the name \"%s\"", pin, name));
    }
    return format("%zu pins, names set and unique", shape.pins.size());
}

std::string variables(CheckContext& context) {
    const Library& library = context.library();
    auto instance = Instance::make(library);
    require(instance != nullptr, "makeModule(0, 1) answered null");
    const Shape shape = shapeOf(*instance);
    std::set<uintptr_t> seen;
    const auto recordStart = reinterpret_cast<uintptr_t>(instance->record());
    int audio = 0;
    for (int32_t pin = 0; pin < static_cast<int32_t>(shape.pins.size()); ++pin) {
        const sem::PinProperties& p = shape.pins[pin].properties;
        if (p.datatype != static_cast<int32_t>(sem::PinDatatype::AudioStream)) continue;
        ++audio;
        const auto address = reinterpret_cast<uintptr_t>(p.variableAddress);
        require(address != 0, format("AudioStream pin %d (%s) has no variable", pin, shape.pinName(pin).c_str()));
        require(address % alignof(float*) == 0, format("pin %d's variable %p is misaligned", pin, p.variableAddress));
        require(address + sizeof(float*) <= recordStart || address >= recordStart + sizeof(sem::ModuleRecord),
                format("pin %d's variable %p lies inside the module record", pin, p.variableAddress));
        for (uintptr_t other : seen)
            require(address + sizeof(float*) <= other || other + sizeof(float*) <= address,
                    format("pin %d's variable %p overlaps another pin's", pin, p.variableAddress));
        seen.insert(address);
    }
    instance->close();
    return format("%d AudioStream pins, each with its own variable", audio);
}

// The record inside a larger patterned buffer: words 0..5 may change, word 6
// (flags) only to the same known bits whatever the pattern, word 7 and
// everything around the record never.
struct DescriptionProbe {
    static constexpr int kPad = 16;
    uint32_t words[kPad + 8 + kPad];
    uint32_t pattern;
    explicit DescriptionProbe(uint32_t fill) : pattern(fill) { std::fill(std::begin(words), std::end(words), fill); }
    sem::PinProperties* record() { return reinterpret_cast<sem::PinProperties*>(words + kPad); }
    int changedOutside() const {
        for (int i = 0; i < kPad; ++i)
            if (words[i] != pattern) return i - kPad;
        for (int i = kPad + 8; i < kPad * 2 + 8; ++i)
            if (words[i] != pattern) return i - kPad;
        return INT_MIN;
    }
    uint32_t word(int w) const { return words[kPad + w]; }
};

std::string recordBounds(CheckContext& context) {
    const Library& library = context.library();
    auto instance = Instance::make(library);
    require(instance != nullptr, "makeModule(0, 1) answered null");
    const auto count = static_cast<int32_t>(readDescriptions(*instance).size());
    constexpr uint32_t kKnownFlags = sem::PinFlags::Repeat | sem::PinFlags::NoPin | sem::PinFlags::ForcePin;
    std::vector<int32_t> indexes;
    for (int32_t d = 0; d < count; ++d) indexes.push_back(d);
    for (int32_t d : {count, count + 1, 1000, -1, INT_MIN}) indexes.push_back(d);
    int flagWriters = 0;
    for (int32_t d : indexes) {
        const bool described = d >= 0 && d < count;
        DescriptionProbe first(0xA5A5A5A5u), second(0x5A5A5A5Au);
        const bool answerFirst = instance->getPinProperties(d, first.record());
        const bool answerSecond = instance->getPinProperties(d, second.record());
        require(answerFirst == described && answerSecond == described,
                format("GetPinProperties(%d) answered %s", d, described ? "0 for a description it gave before"
                                                                        : "non-zero past the last description"));
        for (DescriptionProbe* probe : {&first, &second}) {
            const int outside = probe->changedOutside();
            require(outside == INT_MIN,
                    format("GetPinProperties(%d) wrote word %d, outside the 32-byte record", d, outside));
            require(probe->word(7) == probe->pattern,
                    format("GetPinProperties(%d) wrote word 7 (reserved) = 0x%08X", d,
                           static_cast<unsigned>(probe->word(7))));
        }
        const bool flagsWritten = first.word(6) != first.pattern || second.word(6) != second.pattern;
        if (flagsWritten) {
            ++flagWriters;
            require(first.word(6) == second.word(6) && (first.word(6) & ~kKnownFlags) == 0,
                    format("GetPinProperties(%d) wrote word 6 (flags) as 0x%08X over one pattern and 0x%08X over "
                           "another; flags words must be written whole with known bits",
                           d, static_cast<unsigned>(first.word(6)), static_cast<unsigned>(second.word(6))));
        }
    }
    instance->close();
    return format("%d descriptions and 5 past them: nothing written outside words 0..5%s", count,
                  flagWriters ? format(" and %d flag words", flagWriters).c_str() : "");
}

std::string hostCounts(CheckContext& context) {
    const Library& library = context.library();
    clearStrayRequests();
    const Shape shape = shapeOf(library);
    const auto described = static_cast<int32_t>(shape.pins.size());
    std::vector<int32_t> counts = {0, 1, described - 1, described, described + 1, described + 8, 1000, -1};
    std::sort(counts.begin(), counts.end());
    counts.erase(std::unique(counts.begin(), counts.end()), counts.end());
    Rng rng(context.seed());
    const Stream stream = makeStream(context.seed(), shape.inputs.size(), 600);
    std::string tried;
    for (int32_t count : counts) {
        DriveSettings settings;
        settings.hostPinCount = count;
        Driver driver(library, stream, randomPlan(rng, stream.frames, 200, 30), settings);
        if (count < 0) driver.instance().pinCount = count;
        driver.start();
        const int32_t last = std::max(count, described) + 1;
        for (int32_t pin = 0; pin <= std::min(last, described + 10); ++pin)
            for (int32_t state : {2, 1, 0, 2}) driver.instance().sendPinState(pin, static_cast<sem::PinState>(state));
        for (int32_t pin : {count, 999, 1000})
            if (pin >= 0) driver.instance().sendPinState(pin, sem::PinState::Streaming);
        driver.runAll();
        driver.close();
        for (Fault fault : {Fault::OutOfBlock, Fault::InputChanged, Fault::RequestInProcess})
            require(!driver.faults.has(fault), format("host counting %d pins: ", count) + driver.faults.describe(fault));
        requireNoStrayRequests(format("with the host counting %d pins", count).c_str());
        tried += (tried.empty() ? "" : ", ") + std::to_string(count);
    }
    return format("host counts %s of %d described: no crash, nothing written outside the buffers", tried.c_str(),
                  described);
}

}  // namespace

void addPinChecks(std::vector<Check>& checks) {
    checks.push_back({"pins.stable", &stable, false});
    checks.push_back({"pins.names", &names, false});
    checks.push_back({"pins.variables", &variables, false});
    checks.push_back({"pins.record-bounds", &recordBounds, false});
    checks.push_back({"pins.host-counts", &hostCounts, false});
}

}  // namespace plughost::validate
