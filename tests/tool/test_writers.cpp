// Output files: CSV and WAV read back through the sources bit for bit, the SVG
// is well formed and shows what it must, and no failure leaves a partial file.
#include <doctest/doctest.h>

#include "plughost/float_bits.h"
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <set>
#include <string>
#include <vector>

#if PLUGHOST_HAVE_SNDFILE
#include <sndfile.h>
#endif
#if !defined(_WIN32)
#include <csignal>
#include <sys/resource.h>
#endif

#include "sources.h"
#include "writers.h"

using namespace plughost;
namespace fs = std::filesystem;

namespace {

const float kNan = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

struct OutDir {
    fs::path path;
    OutDir() {
        static int counter = 0;
        path = fs::temp_directory_path() /
               ("plughost_writers_" + std::to_string(std::rand()) + "_" + std::to_string(counter++));
        fs::create_directories(path);
    }
    ~OutDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string at(const std::string& name) const { return (path / name).string(); }
    std::set<std::string> entries() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(path)) names.insert(entry.path().filename().string());
        return names;
    }
};

std::string readAll(const std::string& path) {
    std::string data;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return data;
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) data.append(buffer, got);
    std::fclose(f);
    return data;
}

void writeAll(const std::string& path, const std::string& data) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    REQUIRE(f);
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
}

std::vector<float> readBack(const std::string& text, size_t n) {
    auto source = parseSource(text, 48000);
    std::vector<float> out(n);
    source->render(0, out.data(), static_cast<int32_t>(n));
    return out;
}

std::string writeErrorOf(const std::function<void()>& write) {
    try {
        write();
    } catch (const WriteError& error) {
        return error.what();
    }
    return "";
}

// "" when tags nest, attribute quotes pair up and every '&' starts an entity.
std::string xmlProblem(const std::string& s) {
    std::vector<std::string> open;
    size_t roots = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '&') {
            bool entity = false;
            for (const char* e : {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"}) entity |= s.compare(i, std::strlen(e), e) == 0;
            if (!entity) return "bare & at " + std::to_string(i);
        }
        if (s[i] != '<') continue;
        const size_t end = s.find('>', i);
        if (end == std::string::npos) return "unclosed tag at " + std::to_string(i);
        const std::string tag = s.substr(i + 1, end - i - 1);
        size_t quotes = 0;
        for (char c : tag) quotes += c == '"';
        if (quotes % 2) return "odd quotes in <" + tag + ">";
        if (tag.empty()) return "empty tag";
        if (tag[0] == '/') {
            if (open.empty() || open.back() != tag.substr(1)) return "</" + tag.substr(1) + "> closes nothing open";
            open.pop_back();
        } else if (tag.back() != '/') {
            if (open.empty()) ++roots;
            open.push_back(tag.substr(0, tag.find_first_of(" \n")));
        } else if (open.empty()) {
            return "element outside the root";
        }
        i = end;
    }
    if (!open.empty()) return "<" + open.back() + "> never closed";
    return roots == 1 ? "" : "not one root element";
}

size_t count(const std::string& haystack, const std::string& needle) {
    size_t n = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) ++n;
    return n;
}

// The d attributes of the trace lines (the only paths drawn 1.5 wide).
std::vector<std::string> tracePaths(const std::string& svg) {
    std::vector<std::string> paths;
    for (size_t at = svg.find("<path d=\""); at != std::string::npos; at = svg.find("<path d=\"", at + 1)) {
        const size_t end = svg.find("/>", at);
        const std::string element = svg.substr(at, end - at);
        if (element.find("stroke-width=\"1.5\"") == std::string::npos) continue;
        const size_t start = std::strlen("<path d=\"");
        paths.push_back(element.substr(start, element.find('"', start) - start));
    }
    return paths;
}

std::vector<Trace> logicFixture() {
    Trace clock{"Clock", false, std::vector<float>(400)};
    for (size_t i = 0; i < clock.samples.size(); ++i) clock.samples[i] = (i % 100) < 50 ? 0.5f : 0.0f;
    Trace data{"D & <x>", false, std::vector<float>(400, 0.25f)};
    for (size_t i = 120; i < 160; ++i) data.samples[i] = kNan;
    data.samples[300] = kInf;
    data.samples[301] = -kInf;
    Trace q{"Q", true, std::vector<float>(400, 0.0f)};
    for (size_t i = 100; i < 200; ++i) q.samples[i] = 0.5f;
    for (size_t i = 300; i < 400; ++i) q.samples[i] = 0.5f;
    return {clock, data, q};
}

const std::vector<OutputChange> kLogicChanges = {{2, 100, 0.5f}, {2, 200, 0.0f}, {2, 300, 0.5f}};

}  // namespace

TEST_CASE("CSV files read back through a CSV source bit for bit") {
    OutDir dir;
    const std::vector<Trace> traces = {
        {"gate", false, {0.0f, 0.5f, 0.1f, -0.0f, floatOf(1), std::numeric_limits<float>::max(), -1e-38f}},
        {"a,b \"q\"", true, {kNan, kInf, -kInf, 1.0f / 3.0f, 1e10f, -2.5e-7f, 0.333f}},
        {"1", true, {7, 8, 9, 10, 11, 12, 13}},  // a name that reads as a number
    };
    const std::string path = dir.at("run.csv");
    writeCsv(path, traces);

    const std::string text = readAll(path);
    CHECK(text.rfind("gate,\"a,b \"\"q\"\"\",\"1\"\n0,nan,7\n0.5,inf,8\n0.100000001,-inf,9\n-0,", 0) == 0);

    // By name, and by index where no name is that number.
    const std::vector<std::pair<size_t, std::string>> selections = {
        {0, "gate"}, {1, "a,b \"q\""}, {2, "1"}, {0, "0"}, {2, "2"}};
    for (const auto& [t, selector] : selections) {
        CAPTURE(selector);
        {
            const auto got = readBack(path + "#" + selector, traces[t].samples.size() + 1);
            for (size_t i = 0; i < traces[t].samples.size(); ++i) {
                const float want = traces[t].samples[i];
                CHECK_MESSAGE((std::isnan(want) ? std::isnan(got[i]) : bitsOf(got[i]) == bitsOf(want)), i);
            }
            CHECK(got.back() == 0.0f);
        }
    }
}

TEST_CASE("CSV writer refuses what it cannot write as a table") {
    OutDir dir;
    const std::string path = dir.at("t.csv");
    CHECK(writeErrorOf([&] { writeCsv(path, {}); }).find("no traces") != std::string::npos);
    const std::string uneven = writeErrorOf([&] { writeCsv(path, {{"a", false, {1, 2}}, {"b", true, {1}}}); });
    CHECK(uneven.find("traces differ in length ('a' has 2 frames, 'b' has 1)") != std::string::npos);
    CHECK(dir.entries().empty());
}

#if PLUGHOST_HAVE_SNDFILE
TEST_CASE("WAV files read back through a WAV source bit for bit, NaN payloads included") {
    OutDir dir;
    const std::vector<Trace> traces = {
        {"Q", true, {0.0f, 0.5f, -0.0f, floatOf(1), 1.0f / 3.0f, -1.5f, 1e30f, 0.5f}},
        {"nans", true,
         {floatOf(0x7fc00000), floatOf(0xffc00000), floatOf(0x7fc12345), kInf, -kInf, floatOf(0x7fffffff), 0.0f,
          kNan}},
        {"flat", true, std::vector<float>(8, 0.25f)},
    };
    const std::string path = dir.at("out.wav");
    writeWav(path, traces, 44100);

    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    REQUIRE(file);
    sf_close(file);
    CHECK(info.channels == 3);
    CHECK(info.samplerate == 44100);
    CHECK(info.frames == 8);
    CHECK((info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV);
    CHECK((info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT);

    for (size_t c = 0; c < traces.size(); ++c) {
        CAPTURE(c);
        const std::string text = c == 0 ? path : path + "#" + std::to_string(c);
        const auto got = readBack(text, 9);
        for (size_t i = 0; i < 8; ++i) CHECK_MESSAGE(bitsOf(got[i]) == bitsOf(traces[c].samples[i]), i);
        CHECK(got[8] == 0.0f);
    }
    CHECK(parseSource(path + "#2", 48000)->kind() == SourceKind::Constant);
    CHECK(parseSource(path + "#1", 48000)->kind() == SourceKind::Changing);
    const std::string missing = path + "#3";
    try {
        parseSource(missing, 48000);
        FAIL("channel 3 of 3 parsed");
    } catch (const SourceError& error) {
        CHECK(std::string(error.what()).find("channel 3 does not exist (the file has 3 channels, from 0)") !=
              std::string::npos);
    }
}
#else
TEST_CASE("WAV output says it is unsupported and writes nothing") {
    OutDir dir;
    const std::string message = writeErrorOf([&] { writeWav(dir.at("out.wav"), {{"Q", true, {0.0f}}}, 48000); });
    CHECK(message.find("audio files are not supported in this build") != std::string::npos);
    CHECK(dir.entries().empty());
}
#endif

TEST_CASE("SVG plot of a short run") {
    OutDir dir;
    const std::string path = dir.at("plot.svg");
    writeSvg(path, logicFixture(), kLogicChanges, "flip & flop", 48000);
    const std::string svg = readAll(path);

    CHECK(svg.rfind("<svg ", 0) == 0);
    CHECK(svg.size() >= 7);
    CHECK(svg.compare(svg.size() - 7, 7, "</svg>\n") == 0);
    CHECK(xmlProblem(svg) == "");
    CHECK(svg.find(">flip &amp; flop<") != std::string::npos);
    for (const char* name : {">Clock<", ">D &amp; &lt;x&gt;<", ">Q<"}) CHECK_MESSAGE(svg.find(name) != std::string::npos, name);
    CHECK(count(svg, "class=\"change\"") == kLogicChanges.size());

    const auto paths = tracePaths(svg);
    REQUIRE(paths.size() == 3);
    for (const std::string& d : paths) {
        // NaN and inf become gaps and marks, never numbers in a path.
        CHECK_MESSAGE(d.find_first_not_of("MHV0123456789. -") == std::string::npos, d);
    }
    // The D trace is lifted over its NaN stretch and its two infinite samples.
    CHECK(count(paths[1], "M") == 3);
    CHECK(count(svg, "<title>NaN</title>") == 1);
    CHECK(count(svg, "<title>+inf</title>") == 1);
    CHECK(count(svg, "<title>-inf</title>") == 1);
}

TEST_CASE("SVG plot of a long run stays small and keeps single-frame detail") {
    OutDir dir;
    SUBCASE("10,000 frames of 5 busy traces") {
        std::vector<Trace> traces;
        for (int t = 0; t < 4; ++t) traces.push_back({"in" + std::to_string(t), false, readBack("noise:seed=" + std::to_string(t), 10000)});
        Trace out{"out", true, std::vector<float>(10000)};
        std::vector<OutputChange> changes;
        for (int64_t i = 0; i < 10000; ++i) {
            out.samples[static_cast<size_t>(i)] = i % 2 ? 0.5f : 0.0f;
            if (i) changes.push_back({4, i, out.samples[static_cast<size_t>(i)]});
        }
        traces.push_back(out);
        const std::string path = dir.at("busy.svg");
        writeSvg(path, traces, changes, "busy", 48000);
        const std::string svg = readAll(path);
        CHECK(svg.size() < 600 * 1024);
        CHECK(xmlProblem(svg) == "");
    }
    SUBCASE("a one-frame spike in 20,000 flat frames still shows") {
        for (size_t spike : {size_t(0), size_t(12345), size_t(19999)}) {
            CAPTURE(spike);
            Trace flat{"flat", true, std::vector<float>(20000, 0.0f)};
            Trace spiked = flat;
            spiked.samples[spike] = 0.5f;
            const std::string path = dir.at("spike.svg");
            writeSvg(path, {flat, spiked}, {}, "spike", 48000);
            const auto paths = tracePaths(readAll(path));
            REQUIRE(paths.size() == 2);
            CHECK(paths[0].find('V') == std::string::npos);
            CHECK(paths[1].find('V') != std::string::npos);
        }
    }
}

TEST_CASE("SVG writer refuses changes that do not fit the traces") {
    OutDir dir;
    const std::string path = dir.at("bad.svg");
    CHECK(writeErrorOf([&] { writeSvg(path, logicFixture(), {{3, 10, 0.5f}}, "t", 48000); })
              .find("a change names pin 3 but there are 3 traces") != std::string::npos);
    CHECK(writeErrorOf([&] { writeSvg(path, logicFixture(), {{2, 401, 0.5f}}, "t", 48000); })
              .find("a change at frame 401 lies outside the 400 frames") != std::string::npos);
    CHECK(dir.entries().empty());
}

TEST_CASE("writers leave the target complete or absent") {
    struct Writer {
        const char* name;
        std::function<void(const std::string&)> good, bad;
        const char* magic;  // how a complete file starts
    };
    const std::vector<Trace> uneven = {{"a", false, {0, 1}}, {"b", true, {0}}};
    const std::vector<Writer> writers = {
        {"csv", [](const std::string& p) { writeCsv(p, logicFixture()); },
         [&](const std::string& p) { writeCsv(p, uneven); }, "Clock,"},
        {"svg", [](const std::string& p) { writeSvg(p, logicFixture(), kLogicChanges, "t", 48000); },
         [](const std::string& p) { writeSvg(p, logicFixture(), {{7, 0, 0.0f}}, "t", 48000); }, "<svg "},
#if PLUGHOST_HAVE_SNDFILE
        {"wav", [](const std::string& p) { writeWav(p, logicFixture(), 48000); },
         [&](const std::string& p) { writeWav(p, uneven, 48000); }, "RIFF"},
#endif
    };
    // Each case runs every writer in a fresh directory.
    auto forEachWriter = [&](const std::function<void(const Writer&, OutDir&, const std::string&)>& body) {
        for (const Writer& writer : writers) {
            const std::string name = writer.name;
            CAPTURE(name);
            OutDir dir;
            body(writer, dir, dir.at(std::string("out.") + writer.name));
        }
    };
    SUBCASE("a directory that does not exist") {
        forEachWriter([](const Writer& writer, OutDir& dir, const std::string&) {
            const std::string path = dir.at("no/such/dir/out");
            const std::string message = writeErrorOf([&] { writer.good(path); });
            CHECK(message.find("cannot write '" + path + "'") == 0);
            CHECK(message.find('\n') == std::string::npos);
            CHECK(dir.entries().empty());
        });
    }
    SUBCASE("a parent that is a file") {
        forEachWriter([](const Writer& writer, OutDir& dir, const std::string&) {
            writeAll(dir.at("plain"), "x");
            CHECK(!writeErrorOf([&] { writer.good(dir.at("plain") + "/out"); }).empty());
            CHECK(dir.entries() == std::set<std::string>{"plain"});
        });
    }
    SUBCASE("a target that is a directory is left as it was") {
        forEachWriter([](const Writer& writer, OutDir& dir, const std::string& target) {
            fs::create_directories(target);
            writeAll(target + "/keep", "kept");
            CHECK(writeErrorOf([&] { writer.good(target); }).find("cannot write '" + target + "'") == 0);
            CHECK(readAll(target + "/keep") == "kept");
            CHECK(dir.entries().size() == 1);  // no temporary file left beside it
        });
    }
    SUBCASE("an existing file is replaced on success") {
        forEachWriter([](const Writer& writer, OutDir& dir, const std::string& target) {
            writeAll(target, "old contents");
            writer.good(target);
            CHECK(readAll(target).rfind(writer.magic, 0) == 0);
            CHECK(dir.entries().size() == 1);
        });
    }
#if !defined(_WIN32)
    SUBCASE("a write that runs out of room mid-file leaves the old file and no temporary") {
        // A file size limit makes writes fail part way, as a full disk would.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        REQUIRE(getrlimit(RLIMIT_FSIZE, &saved) == 0);
        forEachWriter([&](const Writer& writer, OutDir& dir, const std::string& target) {
            writeAll(target, "old contents");
            rlimit small = saved;
            small.rlim_cur = 1000;
            REQUIRE(setrlimit(RLIMIT_FSIZE, &small) == 0);
            const std::string message = writeErrorOf([&] { writer.good(target); });
            setrlimit(RLIMIT_FSIZE, &saved);
            CHECK(message.find("cannot write '" + target + "'") == 0);
            CHECK(readAll(target) == "old contents");
            CHECK(dir.entries().size() == 1);
        });
        std::signal(SIGXFSZ, SIG_DFL);
    }
#endif
    SUBCASE("an existing file survives a failed write") {
        forEachWriter([](const Writer& writer, OutDir& dir, const std::string& target) {
            writeAll(target, "old contents");
            CHECK(!writeErrorOf([&] { writer.bad(target); }).empty());
            CHECK(readAll(target) == "old contents");
            CHECK(dir.entries().size() == 1);
        });
    }
}
