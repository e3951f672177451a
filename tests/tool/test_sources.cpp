// Source texts: what parses, what each generator gives at the frames that
// matter, and the message every kind of bad text gets.
#include <doctest/doctest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "sources.h"

using namespace plughost;

namespace {

constexpr double kRate = 48000.0;

std::vector<float> renderFrom(SignalSource& source, int64_t first, int32_t n) {
    std::vector<float> out(static_cast<size_t>(n), -12345.0f);
    source.render(first, out.data(), n);
    return out;
}

std::vector<float> renderText(const std::string& text, int32_t n, double rate = kRate) {
    auto source = parseSource(text, rate);
    return renderFrom(*source, 0, n);
}

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::string bitsText(const std::vector<float>& values) {
    std::string text;
    for (float v : values) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.9g ", static_cast<double>(v));
        text += buffer;
    }
    return text;
}

// The message of the SourceError that parsing `text` throws, or "" if it parses.
std::string errorOf(const std::string& text, double rate = kRate) {
    try {
        parseSource(text, rate);
    } catch (const SourceError& error) {
        return error.what();
    }
    return "";
}

struct TempDir {
    std::filesystem::path path;
    // '#' in the directory name: only the last '#' of a text picks a column.
    TempDir() {
        static int counter = 0;
        path = std::filesystem::temp_directory_path() /
               ("plughost_sources#" + std::to_string(std::rand()) + "_" + std::to_string(counter++));
        std::filesystem::create_directories(path);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string file(const std::string& name, const std::string& content) const {
        const std::string full = (path / name).string();
        std::FILE* f = std::fopen(full.c_str(), "wb");
        REQUIRE(f);
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
        return full;
    }
};

}  // namespace

TEST_CASE("source texts give the expected first samples and kinds") {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    struct Case {
        const char* text;
        SourceKind kind;
        std::vector<float> first;
    };
    const Case cases[] = {
        {"0.5", SourceKind::Constant, {0.5f, 0.5f, 0.5f}},
        {"-1e-3", SourceKind::Constant, {-1e-3f}},
        {"+2", SourceKind::Constant, {2.0f}},
        {" 0.25 ", SourceKind::Constant, {0.25f}},
        {"nan", SourceKind::Constant, {nan}},
        {"inf", SourceKind::Constant, {inf}},
        {"-inf", SourceKind::Constant, {-inf}},
        // Volts divide in double and round once: 3.33 / 10 as a double, then to float.
        {"3.33V", SourceKind::Constant, {static_cast<float>(3.33 / 10.0)}},
        {"-12V", SourceKind::Constant, {static_cast<float>(-12.0 / 10.0)}},
        {"step:at=2,from=0,to=1", SourceKind::Step, {0, 0, 1, 1}},
        {"step:to=1,at=2,from=0", SourceKind::Step, {0, 0, 1, 1}},
        {"step:at=1,from=0V,to=5V", SourceKind::Step, {0, 0.5f}},
        {"step:at=1,from=0,to=nan", SourceKind::Step, {0, nan}},
        {"step:at=0,from=0,to=1", SourceKind::Constant, {1, 1}},
        {"step:at=3,from=0.5,to=0.5", SourceKind::Constant, {0.5f, 0.5f, 0.5f, 0.5f}},
        {"pulse:period=3,width=1", SourceKind::Changing, {0.5f, 0, 0, 0.5f, 0, 0}},
        {"pulse: period=4 , width=2,high=1,low=-1,delay=1", SourceKind::Changing, {-1, 1, 1, -1, -1, 1, 1, -1}},
        {"pulse:period=2,width=2", SourceKind::Changing, {0.5f, 0.5f, 0.5f}},
        {"pulse:period=2,width=0", SourceKind::Changing, {0, 0, 0}},
        // 12 kHz at 48 kHz: four frames a cycle.
        {"square:freq=12000", SourceKind::Changing, {0.5f, 0.5f, 0, 0, 0.5f, 0.5f, 0, 0}},
        {"square:freq=12000,duty=0.25,high=1,low=-1", SourceKind::Changing, {1, -1, -1, -1, 1}},
        {"ramp:from=0,to=1,frames=3", SourceKind::Changing, {0, 0.5f, 1, 1, 1}},
        {"ramp:from=0.5,to=-0.5,frames=1", SourceKind::Changing, {-0.5f, -0.5f}},
        {"sine:freq=12000,amp=1,phase=90", SourceKind::Changing, {1.0f}},
        {"sine:freq=100,amp=0.25,offset=2V", SourceKind::Changing, {0.2f}},
    };
    for (const Case& c : cases) {
        const std::string text = c.text;
        CAPTURE(text);
        auto source = parseSource(c.text, kRate);
        CHECK(source->kind() == c.kind);
        const auto got = renderFrom(*source, 0, static_cast<int32_t>(c.first.size()));
        bool same = true;
        for (size_t i = 0; i < got.size(); ++i) same &= sameBits(got[i], c.first[i]);
        CHECK_MESSAGE(same, "got " << bitsText(got) << " expected " << bitsText(c.first));
    }
}

TEST_CASE("bad source texts are rejected with a one-line message naming the problem") {
    struct Case {
        const char* text;
        const char* fragment;
    };
    const Case cases[] = {
        {"", "empty source"},
        {"   ", "empty source"},
        {"abc", "not a number, a generator"},
        {"1.5x", "not a number, a generator"},
        {"V", "not a number, a generator"},
        {"1e39", "out of float range"},
        {"wobble:x=1", "unknown generator 'wobble'"},
        {"Pulse:period=2,width=1", "unknown generator 'Pulse'"},
        {"pulse", "pulse needs period="},
        {"step:at=1,from=0", "step needs to="},
        {"step:at=1,from=0,to=1,to=2", "parameter 'to' given twice"},
        {"step:at=1,from=0,to=1,foo=2", "unknown parameter 'foo' for step (takes at, from, to)"},
        {"step:at=1,from=0,to=", "parameter 'to' has an empty value"},
        {"step:at=x,from=0,to=1", "at must be a whole number of frames"},
        {"step:at=1.5,from=0,to=1", "at must be a whole number of frames"},
        {"step:at=-3,from=0,to=1", "at must not be negative"},
        {"step:at=99999999999999999999,from=0,to=1", "at is too large"},
        {"step:at=1,from=zero,to=1", "from is not a number"},
        {"step:at=1,from=0,to=1e40", "to is out of float range"},
        {"pulse:period=0,width=0", "period must be at least 1"},
        {"pulse:period=-5,width=1", "period must not be negative"},
        {"pulse:period=4,width=5", "width 5 is longer than period 4"},
        {"pulse:period=4,width", "parameter 'width' has no value"},
        {"pulse:period=4,,width=1", "empty parameter"},
        {"pulse:period=4,width=1,", "empty parameter"},
        {"square:freq=0", "freq must be above 0"},
        {"square:freq=-50", "freq must be above 0"},
        {"square:freq=inf", "freq must be above 0"},
        {"square:freq=100,duty=1.5", "duty must be between 0 and 1"},
        {"sine:freq=abc", "freq is not a number"},
        {"sine:freq=10,phase=nan", "phase must be a finite number"},
        {"sine:freq=10,amp=3e38,offset=1e38", "amp and offset together are out of float range"},
        {"ramp:from=0,to=1,frames=0", "frames must be at least 1"},
        {"noise:min=0", "noise needs seed="},
        {"noise:seed=-1", "seed must not be negative"},
        {"noise:seed=18446744073709551616", "seed does not fit in 64 bits"},
        {"noise:seed=1,min=1,max=0", "min 1 is above max 0"},
        {"noise:seed=1,min=-inf", "min and max must be finite"},
        {"no_such_file.csv#0", "cannot open 'no_such_file.csv'"},
        {"line\nbreak", "not a number"},
    };
    for (const Case& c : cases) {
        const std::string text = c.text;
        CAPTURE(text);
        const std::string message = errorOf(c.text);
        CHECK(message.find(c.fragment) != std::string::npos);
        CHECK(message.rfind("bad source '", 0) == 0);
        CHECK(message.find('\n') == std::string::npos);
    }
}

TEST_CASE("frequency generators need a sample rate") {
    CHECK(errorOf("square:freq=100", 0).find("needs a sample rate above 0") != std::string::npos);
    CHECK(errorOf("sine:freq=100", -1).find("needs a sample rate above 0") != std::string::npos);
    CHECK(errorOf("pulse:period=2,width=1", 0).empty());  // counted in frames, no rate needed
}

TEST_CASE("generators at the frames that matter") {
    SUBCASE("pulse edges after a delay, in the first and a later period") {
        auto pulse = parseSource("pulse:period=100,width=10,high=1,low=0,delay=5", kRate);
        const auto v = renderFrom(*pulse, 0, 300);
        for (int frame : {0, 4, 15, 104, 115, 204}) CHECK_MESSAGE(v[frame] == 0.0f, frame);
        for (int frame : {5, 14, 105, 114, 205}) CHECK_MESSAGE(v[frame] == 1.0f, frame);
    }
    SUBCASE("step changes exactly at its frame, far into a run") {
        auto step = parseSource("step:at=1000000,from=-0.5,to=0.5", kRate);
        const auto v = renderFrom(*step, 999998, 4);
        CHECK(v == std::vector<float>{-0.5f, -0.5f, 0.5f, 0.5f});
    }
    SUBCASE("ramp meets both endpoints exactly and holds the last") {
        const auto v = renderText("ramp:from=-1,to=0.3,frames=1001", 1100);
        CHECK(v[0] == -1.0f);
        CHECK(v[500] == doctest::Approx(-0.35f).epsilon(1e-6));
        CHECK(v[1000] == 0.3f);
        CHECK(v[1099] == 0.3f);
        for (size_t i = 1; i < 1001; ++i) REQUIRE(v[i] > v[i - 1]);
    }
    SUBCASE("square of a rate that is not a whole number of frames keeps its duty over many cycles") {
        // 441 Hz at 48 kHz: 108.84 frames a cycle; highs make 30% of any long stretch.
        const auto v = renderText("square:freq=441,duty=0.3,high=1", 48000);
        size_t highs = 0;
        for (float x : v) highs += x == 1.0f;
        CHECK(static_cast<double>(highs) / static_cast<double>(v.size()) == doctest::Approx(0.3).epsilon(0.01));
    }
    SUBCASE("sine: a quarter cycle apart, peaks and zero crossings") {
        const auto v = renderText("sine:freq=12000,amp=0.5,offset=0.1", 5);
        CHECK(v[0] == doctest::Approx(0.1));
        CHECK(v[1] == doctest::Approx(0.6));
        CHECK(v[2] == doctest::Approx(0.1));
        CHECK(v[3] == doctest::Approx(-0.4));
    }
}

TEST_CASE("any split of a run into blocks gives the same samples") {
    const char* texts[] = {"pulse:period=7,width=3,delay=2", "square:freq=1234.5", "sine:freq=440,phase=30",
                           "ramp:from=1,to=-1,frames=50", "noise:seed=7", "step:at=33,from=0,to=1"};
    for (const char* text : texts) {
        const std::string shown = text;
        CAPTURE(shown);
        const auto whole = renderText(text, 200);
        auto source = parseSource(text, kRate);
        std::vector<float> pieces;
        for (int32_t start = 0, n = 1; start < 200; start += n, n = n % 13 + 4) {
            const auto piece = renderFrom(*source, start, std::min(n, 200 - start));
            pieces.insert(pieces.end(), piece.begin(), piece.end());
        }
        CHECK(pieces == whole);
    }
}

TEST_CASE("noise is reproducible from its seed, differs across seeds and fills its range") {
    // splitmix64's published first output for seed 0 is 0xe220a8397b1dcdaf; the
    // top 24 bits scaled to min..max give the first sample.
    const auto zero = renderText("noise:seed=0", 1);
    CHECK(zero[0] == static_cast<float>(-1.0 + 2.0 * (0xe220a8 / 16777216.0)));

    // Pinned so that a change of generator, or a platform that computes it
    // differently, shows.
    CHECK(renderText("noise:seed=1", 4) == std::vector<float>{0.13312304f, 0.491563439f, 0.942005396f, -0.111281633f});

    CHECK(renderText("noise:seed=5", 64) == renderText("noise:seed=5", 64));
    CHECK(renderText("noise:seed=5", 64) != renderText("noise:seed=6", 64));

    const auto v = renderText("noise:seed=9,min=0.2,max=0.7", 20000);
    double sum = 0;
    float lo = 1, hi = 0;
    for (float x : v) {
        sum += x;
        lo = std::min(lo, x);
        hi = std::max(hi, x);
    }
    CHECK(lo >= 0.2f);
    CHECK(hi <= 0.7f);
    CHECK(lo < 0.21f);
    CHECK(hi > 0.69f);
    CHECK(sum / static_cast<double>(v.size()) == doctest::Approx(0.45).epsilon(0.01));
}

TEST_CASE("describe gives one line with every setting") {
    struct Case {
        const char* text;
        const char* description;
    };
    const Case cases[] = {
        {"pulse:period=100,width=10", "pulse period=100 width=10 high=0.5 low=0"},
        {"pulse:period=100,width=10,delay=3", "pulse period=100 width=10 high=0.5 low=0 delay=3"},
        {"3.33V", "constant 0.333"},
        {"step:at=5,from=0,to=1", "step at=5 from=0 to=1"},
        {"noise:seed=3", "noise seed=3 min=-1 max=1"},
        {"square:freq=440", "square freq=440 high=0.5 low=0 duty=0.5"},
    };
    for (const Case& c : cases) CHECK(parseSource(c.text, kRate)->describe() == c.description);
}

TEST_CASE("pin default texts in volts become samples") {
    struct Case {
        const char* text;
        float sample;
        bool ok;
    };
    const Case cases[] = {
        {"3.33", static_cast<float>(3.33 / 10.0), true},
        {"0", 0.0f, true},
        {"-12", static_cast<float>(-12.0 / 10.0), true},
        {" 5 ", 0.5f, true},
        {"", 0.0f, false},
        {nullptr, 0.0f, false},
        {"abc", 0.0f, false},
        {"5 volts", 0.0f, false},
        {"1e400", 0.0f, false},
    };
    for (const Case& c : cases) {
        const std::string shown = c.text ? c.text : "(null)";
        CAPTURE(shown);
        bool ok = !c.ok;
        CHECK(defaultTextToSample(c.text, &ok) == c.sample);
        CHECK(ok == c.ok);
        CHECK(defaultTextToSample(c.text) == c.sample);
    }
}

TEST_CASE("CSV columns as sources") {
    TempDir dir;
    const std::string table = dir.file("table.csv",
                                       "\xEF\xBB\xBFgate,\"level, in\",3\r\n"
                                       "0,0.25,7\r\n"
                                       "0.5, -1 ,8\r\n"
                                       "\r\n"
                                       "0.5,nan,9\r\n");
    SUBCASE("a column by header name, by index and past the end") {
        CHECK(renderText(table + "#gate", 4) == std::vector<float>{0, 0.5f, 0.5f, 0});
        const auto level = renderText(table + "#level, in", 3);
        CHECK(level[0] == 0.25f);
        CHECK(level[1] == -1.0f);
        CHECK(std::isnan(level[2]));
        // A header that is a number is a name first.
        CHECK(renderText(table + "#3", 3) == std::vector<float>{7, 8, 9});
        CHECK(renderText(table + "#0", 2) == std::vector<float>{0, 0.5f});
        CHECK(parseSource(table + "#gate", kRate)->kind() == SourceKind::Changing);
    }
    SUBCASE("without a header every row is data") {
        const std::string plain = dir.file("plain.csv", "0.1,0.2\n0.3,0.4\n");
        CHECK(renderText(plain + "#1", 3) == std::vector<float>{0.2f, 0.4f, 0});
    }
    SUBCASE("a single column needs no selector; equal samples make a constant") {
        const std::string one = dir.file("one.CSV", "v\n0.5\n0.5\n");
        auto source = parseSource(one, kRate);
        CHECK(source->kind() == SourceKind::Constant);
        CHECK(renderFrom(*source, 1, 3) == std::vector<float>{0.5f, 0, 0});
    }
    SUBCASE("a quoted header field is a name even when it reads as a number") {
        const std::string quotedNumber = dir.file("q.csv", "\"1\",\"2\"\n5,6\n");
        CHECK(renderText(quotedNumber + "#2", 2) == std::vector<float>{6, 0});
    }
    SUBCASE("bad tables and selectors") {
        struct Case {
            std::string text;
            const char* fragment;
        };
        const Case cases[] = {
            {table + "#speed", "no column 'speed' (columns: 'gate', 'level, in', '3')"},
            {table + "#5", "column 5 does not exist (the file has 3 columns, from 0)"},
            {table, "name a column with"},
            {table + "#", "empty column after '#'"},
            {dir.file("text.csv", "a,b\n1,x\n") + "#b", "row 2: 'x' is not a number"},
            {dir.file("short.csv", "a,b\n1,2\n3\n") + "#b", "row 3 has no column 1"},
            {dir.file("open.csv", "a\n\"1\n") + "#a", "quote that is never closed"},
            {dir.file("empty.csv", "") + "#0", "is empty"},
            {dir.file("twice.csv", "a,a\n1,2\n") + "#a", "appears twice"},
            {dir.path.string() + "/missing.csv#0", "cannot open"},
        };
        for (const Case& c : cases) {
            CAPTURE(c.text);
            const std::string message = errorOf(c.text);
            CHECK(message.find(c.fragment) != std::string::npos);
            CHECK(message.find('\n') == std::string::npos);
        }
    }
}

TEST_CASE("WAV texts without a readable file") {
    TempDir dir;
#if PLUGHOST_HAVE_SNDFILE
    CHECK(errorOf(dir.path.string() + "/missing.wav").find("cannot open") != std::string::npos);
    const std::string junk = dir.file("junk.wav", "this is not audio");
    CHECK(errorOf(junk).find("is not a readable audio file") != std::string::npos);
    CHECK(errorOf(junk + "#x").find("channel must be a whole number") != std::string::npos);
#else
    CHECK(errorOf(dir.file("any.wav", "")).find("audio files are not supported in this build") != std::string::npos);
#endif
}
