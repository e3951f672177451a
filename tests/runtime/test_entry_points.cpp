// The two exports, the record they hand out and the instance's life.
#include <doctest/doctest.h>

#include <cstring>

#include "alloc_counter.h"
#include "probe_module.h"

using namespace testing;

namespace {

struct Patterned {
    unsigned char bytes[32];
    Patterned() {
        for (int i = 0; i < 32; ++i) bytes[i] = static_cast<unsigned char>(0xA0 + i);
    }
    sem::ModuleProperties* properties() { return reinterpret_cast<sem::ModuleProperties*>(bytes); }
    // Which bytes differ from the pattern.
    std::string changed() const {
        std::string map;
        for (int i = 0; i < 32; ++i) map += bytes[i] == static_cast<unsigned char>(0xA0 + i) ? '.' : 'x';
        return map;
    }
};

}  // namespace

TEST_CASE("getModuleProperties writes the stamp always and the texts for index 0 only") {
    struct Case {
        int32_t index;
        int32_t result;
        const char* changed;
    };
    const Case cases[] = {
        {0, 1, "xxxxxxxxxxxx........xxxx........"},
        {1, 0, "....................xxxx........"},
        {-1, 0, "....................xxxx........"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.index);
        Patterned record;
        CHECK(ProbeEntry::getModuleProperties(c.index, record.properties()) == c.result);
        CHECK(record.changed() == c.changed);
        CHECK(record.properties()->stamp == 2230);
    }
    Patterned record;
    ProbeEntry::getModuleProperties(0, record.properties());
    CHECK(std::string(record.properties()->id) == "probe");
}

TEST_CASE("makeModule answers null for any index or profile but 0 and 1, allocating nothing") {
    const int64_t before = AllocCounter::total();
    CHECK(ProbeEntry::makeModule(0, 2, nullptr, nullptr) == nullptr);
    CHECK(ProbeEntry::makeModule(1, 1, nullptr, nullptr) == nullptr);
    CHECK(ProbeEntry::makeModule(-1, 1, nullptr, nullptr) == nullptr);
    CHECK(AllocCounter::total() == before);
}

TEST_CASE("makeModule answers null when the instance cannot be allocated") {
    AllocCounter::failNext(1);
    CHECK(ProbeEntry::makeModule(0, 1, nullptr, nullptr) == nullptr);
}

TEST_CASE("a fresh record reads magic, version, handle, object, entries and zeros") {
    auto library = probeLibrary();
    int handle = 0;
    auto instance = plughost::Instance::make(library, 0, 1, true, &handle);
    REQUIRE(instance);
    uint32_t words[12];
    std::memcpy(words, instance->record(), sizeof words);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(instance->record());
    CHECK(bytes[0] == 0x4C);
    CHECK(bytes[3] == 0x53);
    CHECK(words[0] == 0x5345504Cu);
    CHECK(words[1] == 1u);
    CHECK(words[2] == reinterpret_cast<uintptr_t>(&handle));
    CHECK(words[3] == reinterpret_cast<uintptr_t>(static_cast<sem::ModuleBase*>(&probeOf(*instance))));
    CHECK(words[4] == 0u);
    CHECK(words[5] != 0u);
    CHECK(words[6] == reinterpret_cast<uintptr_t>(&sem::ModuleBase::idleProcess));
    CHECK(words[7] != 0u);
    for (int i = 8; i < 12; ++i) CHECK(words[i] == 0u);
    CHECK(instance->requests.empty());  // construction asks the host nothing
}

TEST_CASE("before open the processing routine touches no buffer") {
    ProbeModule::descriptions() = {{5, 0, true}};
    auto library = probeLibrary();
    auto instance = plughost::Instance::make(library);
    float buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    instance->bindBuffer(0, buffer);
    instance->process(0, 8);
    instance->process(2, -1);
    for (int i = 0; i < 8; ++i) CHECK(buffer[i] == static_cast<float>(i + 1));
}

TEST_CASE("instances without a callback work and every instance is its own") {
    auto library = probeLibrary();
    auto silent = plughost::Instance::make(library, 0, 1, false);
    REQUIRE(silent);
    silent->open();
    CHECK(probeOf(*silent).pinCount() == 0);  // no host: no pins
    CHECK(codeAddress(probeOf(*silent).processRoutine().code) == codeAddress(&sem::ModuleBase::idleProcess));
    auto other = plughost::Instance::make(library);
    CHECK(other->record() != silent->record());
    CHECK(other->record()->object != silent->record()->object);
    CHECK(silent->close());
    CHECK(plughost::Instance::strayRequests().empty());
}

TEST_CASE("close answers 1 and frees everything, with or without open, after any number of opens") {
    ProbeModule::descriptions() = {{5, 0, true}, {0, 0, false}, {5, 0, false}};
    auto library = probeLibrary();
    for (int opens = 0; opens < 3; ++opens) {
        CAPTURE(opens);
        const int64_t before = AllocCounter::live();
        {
            auto instance = plughost::Instance::make(library);
            instance->pinCount = 3;
            for (int i = 0; i < opens; ++i) instance->open();
            // What the host side keeps lives in the Instance; the module's own part must be gone after close.
            CHECK(instance->close());
            CHECK_FALSE(instance->alive());
        }
        CHECK(AllocCounter::live() == before);
    }
}

TEST_CASE("a pin table that cannot be allocated leaves the instance without pins") {
    ProbeModule::descriptions() = {{5, 0, true}, {5, 0, true}};
    auto library = probeLibrary();
    auto instance = plughost::Instance::make(library);
    instance->requests.reserve(16);  // the host's own log must not take the failing allocation
    AllocCounter::failNext(1);
    instance->open();
    CHECK(probeOf(*instance).pinCount() == 0);
    instance->sendPinState(0, sem::PinState::Streaming);  // nothing to reach
    CHECK(probeOf(*instance).statesSeen.empty());
}
