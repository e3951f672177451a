// Every built deliverable, loaded from its file by our host: its exports and
// imports, its texts byte for byte, its pins, and a short processed signal.
#include <doctest/doctest.h>

#include <algorithm>
#include <cstring>

#include "binary_symbols.h"
#include "plughost/instance.h"
#include "reference_latch.h"

using namespace testing;

namespace {

const std::string kDist = SEM_DIST_DIR;

const char* const kVariableAbout =
    "by Dorne Velloway Sept 2006 \n\nTHIS MODULE IS AN UPFLANKED FLIPFLOP with variable THRESHOLD.\n"
    "******************************************************** \n"
    " An upFlanke is when an input from under crosses the Threshold to equal or over \n"
    " upFlanke at upSET puts the Output to high (5 Volts)\n upFlanke at upRESET takes the Output to 0 Volt. \n"
    " enjoy Patchmill !!! ";

struct PinRow {
    const char* name;
    int32_t direction;
    const char* defaultValue;
    const char* extraText;
};

struct Deliverable {
    const char* file;
    const char* id;
    const char* name;
    const char* about;
    std::vector<PinRow> pins;
    LatchConfig config;
};

const std::vector<PinRow> kLatchPins = {{"upSET", 0, "0", nullptr}, {"upRESET", 0, "0", nullptr}, {"OUT", 1, nullptr, nullptr}};
const PinRow kThresholdInput{"Threshold", 0, "3.33", "12,-12,12,-12"};

std::vector<PinRow> with(std::vector<PinRow> rows, std::initializer_list<PinRow> more) {
    rows.insert(rows.end(), more);
    return rows;
}

const Deliverable kDeliverables[] = {
    {"Ombrel Latch.sem", "Ombrel Latch", "Dorns Ombrel Latch",
     "by Dorne V. Sept 2006 \n This Module is an upFlanked FlipFlop\n ****************************************** \n"
     " an upFlanke here is when the level comes from under the Threshold \n and goes over or equal to it.\n"
     "  In this Module the Threshold is fixed at 3.333 Volt.",
     kLatchPins, kOmbrelLatch},
    {"KestrineN.sem", "Kestrine_n", "Dorns Kestrine_n", kVariableAbout,
     with(kLatchPins, {kThresholdInput, {"negOUT", 1, nullptr, nullptr}}), kKestrineN},
    {"pSKestrineN.sem", "pSKestrine_n", "Dorns pSKestrine_n",
     "by Dorne Velloway Sept 2006 \n\nTHIS MODULE IS AN\n UPFLANKED FLIPFLOP with variable THRESHOLD\n"
     " and priority at SET\n******************************************************** \n"
     " An upFlanke is when an input from under crosses the Threshold to equal or over \n"
     " upFlanke at upSET puts the Output to high (5 Volts)\n upFlanke at upRESET takes the Output to 0 Volt. \n"
     " enjoy Patchmill !!! ",
     with(kLatchPins, {kThresholdInput, {"negOUT", 1, nullptr, nullptr}}), kPSKestrineN},
    {"Ombrel_Latch2.sem", "Ombrel_Latch2", "Dornes Ombrel_Latch2", kVariableAbout,
     with(kLatchPins, {{"Threshold", 3, "3.333", nullptr}}), kOmbrelLatch2},
    {"Kestrine.sem", "Kestrine Gate", "Dorns Kestrine Latch3", kVariableAbout, with(kLatchPins, {kThresholdInput}),
     kKestrine},
};

}  // namespace

TEST_CASE("the about texts are the exact bytes") {
    CHECK(std::strlen(kDeliverables[0].about) == 259);
    CHECK(std::string(kDeliverables[0].about).find(std::string(42, '*') + " \n") != std::string::npos);
    CHECK(std::string(kVariableAbout).find("\n" + std::string(56, '*') + " \n") != std::string::npos);
}

TEST_CASE("every deliverable in dist exports exactly the two entry points") {
    for (const Deliverable& d : kDeliverables) {
        CAPTURE(d.file);
        const BinarySymbols symbols = readSymbols(kDist + "/" + d.file);
        CHECK(symbols.exports == std::set<std::string>{"getModuleProperties", "makeModule"});
#if defined(_WIN32)
        CHECK(symbols.format == "PE32 i386");
        CHECK(symbols.importedLibraries == std::set<std::string>{"KERNEL32.dll", "msvcrt.dll"});
#else
        CHECK(symbols.format == "ELF32 i386");
#endif
    }
}

TEST_CASE("every deliverable in dist describes itself and its pins") {
    for (const Deliverable& d : kDeliverables) {
        CAPTURE(d.file);
        plughost::Library library = plughost::Library::load(kDist + "/" + d.file);
        unsigned char bytes[24];
        std::memset(bytes, 0xEE, sizeof bytes);
        auto* properties = reinterpret_cast<sem::ModuleProperties*>(bytes);
        REQUIRE(library.getModuleProperties()(0, properties) == 1);
        CHECK(std::string(properties->id) == d.id);
        CHECK(std::string(properties->name) == d.name);
        CHECK(std::string(properties->about) == d.about);
        CHECK(properties->stamp == 2230);
        CHECK(std::all_of(bytes + 12, bytes + 20, [](unsigned char b) { return b == 0xEE; }));

        auto instance = plughost::Instance::make(library);
        REQUIRE(instance);
        REQUIRE(instance->pins().size() == d.pins.size());
        for (size_t i = 0; i < d.pins.size(); ++i) {
            CAPTURE(i);
            const sem::PinProperties& p = instance->pins()[i].properties;
            const PinRow& row = d.pins[i];
            CHECK(std::string(p.name) == row.name);
            CHECK(p.direction == row.direction);
            CHECK(p.datatype == 5);
            CHECK(p.flags == 0u);
            CHECK(p.variableAddress != nullptr);
            CHECK(std::string(p.defaultValue ? p.defaultValue : "(none)") == (row.defaultValue ? row.defaultValue : "(none)"));
            CHECK(std::string(p.extraText ? p.extraText : "(none)") == (row.extraText ? row.extraText : "(none)"));
        }
    }
}

TEST_CASE("every deliverable in dist processes a short signal as the rules say") {
    // Set and reset pulses against a threshold that steps from 0.333 to 0.2, with a same-sample crossing.
    const std::vector<float> set = {0, 0.4f, 0.4f, 0, 0, 0.25f, 0, 0.5f, 0, 0, 0.9f, 0.9f};
    const std::vector<float> reset = {0, 0, 0, 0.5f, 0, 0, 0.25f, 0.5f, 0, 0, 0, 0.9f};
    const std::vector<float> threshold = {0.333f, 0.333f, 0.333f, 0.333f, 0.333f, 0.2f, 0.2f, 0.2f, 0.2f, 0.2f, 0.2f, 0.2f};
    const auto frames = static_cast<int32_t>(set.size());
    for (const Deliverable& d : kDeliverables) {
        CAPTURE(d.file);
        plughost::Library library = plughost::Library::load(kDist + "/" + d.file);
        auto instance = plughost::Instance::make(library);
        std::vector<float> buffers[5] = {set, reset, std::vector<float>(frames, -1.0f), threshold,
                                         std::vector<float>(frames, -1.0f)};
        for (size_t pin = 0; pin < d.pins.size(); ++pin) instance->bindBuffer(static_cast<int32_t>(pin), buffers[pin].data());
        instance->open();
        CHECK(instance->routineChanges == 1);
        instance->process(0, 5);
        instance->process(5, frames - 5);

        ReferenceLatch reference(d.config);
        reference.open(&threshold[0]);
        for (int32_t i = 0; i < frames; ++i) {
            CAPTURE(i);
            CHECK(buffers[2][i] == reference.step(set[i], reset[i], threshold[i]));
            if (d.config.complementary) CHECK(buffers[4][i] == reference.negOut());
        }
        CHECK(instance->close());
    }
    CHECK(plughost::Instance::strayRequests().empty());
}
