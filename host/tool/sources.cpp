#include "sources.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#if PLUGHOST_HAVE_SNDFILE
#include <sndfile.h>
#endif

namespace plughost {

SignalSource::~SignalSource() = default;

namespace {

// ---- text helpers --------------------------------------------------------

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    return s;
}

// Messages stay on one line whatever the text holds.
std::string oneLine(std::string_view s) {
    std::string out;
    for (char c : s) out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? '?' : c;
    return out;
}

std::string ticked(std::string_view s) { return "'" + oneLine(s) + "'"; }

[[noreturn]] void fail(const std::string& text, const std::string& problem) {
    throw SourceError("bad source " + ticked(text) + ": " + problem);
}

bool endsWithNoCase(std::string_view s, std::string_view suffix) {
    if (s.size() < suffix.size()) return false;
    for (size_t i = 0; i < suffix.size(); ++i) {
        char c = s[s.size() - suffix.size() + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != suffix[i]) return false;
    }
    return true;
}

// from_chars does not depend on the C locale, unlike strtod; it only lacks the
// leading '+' that people write.
bool parseDouble(std::string_view s, double& out) {
    if (s.size() > 1 && s[0] == '+' && s[1] != '-' && s[1] != '+') s.remove_prefix(1);
    if (s.empty()) return false;
    double value = 0;
    const auto result = std::from_chars(s.data(), s.data() + s.size(), value);
    if (result.ec != std::errc() || result.ptr != s.data() + s.size()) return false;
    out = value;
    return true;
}

// Halfway between FLT_MAX and the next power of two: from here on a float
// conversion would overflow, which C++ leaves undefined.
constexpr double kFloatLimit = 0x1.ffffffp127;

bool toFloat(double value, float& out) {
    if (std::isfinite(value) && std::fabs(value) >= kFloatLimit) return false;
    out = static_cast<float>(value);
    return true;
}

// A sample value: a number, or volts with a trailing V (divided by 10 in
// double, then rounded once to float).
enum class SampleParse { Ok, NotNumber, OutOfRange };

SampleParse parseSampleText(std::string_view s, float& out) {
    double value = 0;
    if (!s.empty() && (s.back() == 'V' || s.back() == 'v')) {
        if (!parseDouble(s.substr(0, s.size() - 1), value)) return SampleParse::NotNumber;
        value /= 10.0;
    } else if (!parseDouble(s, value)) {
        return SampleParse::NotNumber;
    }
    return toFloat(value, out) ? SampleParse::Ok : SampleParse::OutOfRange;
}

enum class IntParse { Ok, NotWhole, Negative, TooLarge };

IntParse parseCount(std::string_view s, uint64_t limit, uint64_t& out) {
    if (!s.empty() && s[0] == '+') s.remove_prefix(1);
    if (!s.empty() && s[0] == '-') {
        double ignored;
        return parseDouble(s, ignored) ? IntParse::Negative : IntParse::NotWhole;
    }
    if (s.empty()) return IntParse::NotWhole;
    uint64_t value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return IntParse::NotWhole;
        const auto digit = static_cast<uint64_t>(c - '0');
        if (value > (limit - digit) / 10) return IntParse::TooLarge;
        value = value * 10 + digit;
    }
    out = value;
    return IntParse::Ok;
}

std::string formatFloat(float value) {
    char buffer[48];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string formatDouble(double value) {
    char buffer[48];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// ---- generators ----------------------------------------------------------

class ConstantSource final : public SignalSource {
public:
    explicit ConstantSource(float value) : value_(value) {}
    SourceKind kind() const override { return SourceKind::Constant; }
    void render(int64_t, float* out, int32_t n) override { std::fill(out, out + std::max(n, 0), value_); }
    std::string describe() const override { return "constant " + formatFloat(value_); }

private:
    float value_;
};

class StepSource final : public SignalSource {
public:
    StepSource(int64_t at, float from, float to) : at_(at), from_(from), to_(to) {}
    // A step that never shows both values is reported as unchanging.
    SourceKind kind() const override {
        return at_ == 0 || sameBits(from_, to_) ? SourceKind::Constant : SourceKind::Step;
    }
    void render(int64_t first, float* out, int32_t n) override {
        for (int32_t i = 0; i < n; ++i) out[i] = first + i < at_ ? from_ : to_;
    }
    std::string describe() const override {
        return "step at=" + std::to_string(at_) + " from=" + formatFloat(from_) + " to=" + formatFloat(to_);
    }

private:
    int64_t at_;
    float from_, to_;
};

class PulseSource final : public SignalSource {
public:
    PulseSource(int64_t period, int64_t width, float high, float low, int64_t delay)
        : period_(period), width_(width), high_(high), low_(low), delay_(delay) {}
    SourceKind kind() const override { return SourceKind::Changing; }
    void render(int64_t first, float* out, int32_t n) override {
        for (int32_t i = 0; i < n; ++i) {
            const int64_t frame = first + i;
            out[i] = frame >= delay_ && (frame - delay_) % period_ < width_ ? high_ : low_;
        }
    }
    std::string describe() const override {
        std::string text = "pulse period=" + std::to_string(period_) + " width=" + std::to_string(width_) +
                           " high=" + formatFloat(high_) + " low=" + formatFloat(low_);
        if (delay_ != 0) text += " delay=" + std::to_string(delay_);
        return text;
    }

private:
    int64_t period_, width_;
    float high_, low_;
    int64_t delay_;
};

// Position inside the cycle in frames, 0 <= r < sampleRate. fmod is exact, so
// cycles that are a whole number of frames put their edges on exact frames.
double cycleFrames(int64_t frame, double freq, double sampleRate) {
    double r = std::fmod(static_cast<double>(frame) * freq, sampleRate);
    if (r < 0) r += sampleRate;
    return r;
}

class SquareSource final : public SignalSource {
public:
    SquareSource(double freq, double sampleRate, float high, float low, double duty)
        : freq_(freq), rate_(sampleRate), high_(high), low_(low), duty_(duty) {}
    SourceKind kind() const override { return SourceKind::Changing; }
    void render(int64_t first, float* out, int32_t n) override {
        const double highFrames = duty_ * rate_;
        for (int32_t i = 0; i < n; ++i) out[i] = cycleFrames(first + i, freq_, rate_) < highFrames ? high_ : low_;
    }
    std::string describe() const override {
        return "square freq=" + formatDouble(freq_) + " high=" + formatFloat(high_) + " low=" + formatFloat(low_) +
               " duty=" + formatDouble(duty_);
    }

private:
    double freq_, rate_;
    float high_, low_;
    double duty_;
};

constexpr double kPi = 3.14159265358979323846;

class SineSource final : public SignalSource {
public:
    SineSource(double freq, double sampleRate, double amp, double offset, double phaseDegrees)
        : freq_(freq), rate_(sampleRate), amp_(amp), offset_(offset), phase_(phaseDegrees) {}
    SourceKind kind() const override { return SourceKind::Changing; }
    void render(int64_t first, float* out, int32_t n) override {
        const double phase = phase_ * kPi / 180.0;
        for (int32_t i = 0; i < n; ++i) {
            const double angle = 2.0 * kPi * (cycleFrames(first + i, freq_, rate_) / rate_) + phase;
            out[i] = static_cast<float>(offset_ + amp_ * std::sin(angle));
        }
    }
    std::string describe() const override {
        return "sine freq=" + formatDouble(freq_) + " amp=" + formatDouble(amp_) + " offset=" + formatDouble(offset_) +
               " phase=" + formatDouble(phase_);
    }

private:
    double freq_, rate_, amp_, offset_, phase_;
};

class RampSource final : public SignalSource {
public:
    RampSource(float from, float to, int64_t frames) : from_(from), to_(to), frames_(frames) {}
    SourceKind kind() const override { return SourceKind::Changing; }
    void render(int64_t first, float* out, int32_t n) override {
        const int64_t last = frames_ - 1;
        for (int32_t i = 0; i < n; ++i) {
            const int64_t frame = first + i;
            if (frame >= last)
                out[i] = to_;  // exact endpoint, and also the whole ramp when it is one frame long
            else if (frame <= 0)
                out[i] = from_;
            else
                out[i] = static_cast<float>(static_cast<double>(from_) + (static_cast<double>(to_) - from_) *
                                                                             (static_cast<double>(frame) / last));
        }
    }
    std::string describe() const override {
        return "ramp from=" + formatFloat(from_) + " to=" + formatFloat(to_) + " frames=" + std::to_string(frames_);
    }

private:
    float from_, to_;
    int64_t frames_;
};

// splitmix64 indexed by frame: any frame is computed directly, so any split of
// a run into blocks gives the same samples, and only integer arithmetic and
// one exact-order double expression decide the value on every platform.
class NoiseSource final : public SignalSource {
public:
    NoiseSource(uint64_t seed, float min, float max) : seed_(seed), min_(min), max_(max) {}
    SourceKind kind() const override { return SourceKind::Changing; }
    void render(int64_t first, float* out, int32_t n) override {
        for (int32_t i = 0; i < n; ++i) {
            uint64_t z = seed_ + (static_cast<uint64_t>(first + i) + 1) * 0x9E3779B97F4A7C15ull;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            z ^= z >> 31;
            const double unit = static_cast<double>(z >> 40) * (1.0 / 16777216.0);  // [0, 1), 24 bits
            const double value = static_cast<double>(min_) + (static_cast<double>(max_) - min_) * unit;
            out[i] = static_cast<float>(value);
        }
    }
    std::string describe() const override {
        return "noise seed=" + std::to_string(seed_) + " min=" + formatFloat(min_) + " max=" + formatFloat(max_);
    }

private:
    uint64_t seed_;
    float min_, max_;
};

class SampledSource final : public SignalSource {
public:
    SampledSource(std::vector<float> samples, std::string description)
        : samples_(std::move(samples)), description_(std::move(description)) {
        constant_ = std::all_of(samples_.begin(), samples_.end(),
                                [&](float v) { return sameBits(v, samples_.front()); });
    }
    SourceKind kind() const override { return constant_ ? SourceKind::Constant : SourceKind::Changing; }
    void render(int64_t first, float* out, int32_t n) override {
        const auto size = static_cast<int64_t>(samples_.size());
        for (int32_t i = 0; i < n; ++i) {
            const int64_t frame = first + i;
            out[i] = frame >= 0 && frame < size ? samples_[static_cast<size_t>(frame)] : 0.0f;
        }
    }
    std::string describe() const override { return description_; }

private:
    std::vector<float> samples_;
    std::string description_;
    bool constant_ = true;
};

// ---- generator parameters ------------------------------------------------

class Params {
public:
    Params(const std::string& text, std::string generator, std::string_view body,
           std::vector<std::string> allowed)
        : text_(text), generator_(std::move(generator)), allowed_(std::move(allowed)) {
        if (trim(body).empty()) return;
        size_t start = 0;
        while (start <= body.size()) {
            size_t comma = body.find(',', start);
            if (comma == std::string_view::npos) comma = body.size();
            const std::string_view item = trim(body.substr(start, comma - start));
            if (item.empty()) fail(text_, "empty parameter (stray comma?)");
            const size_t eq = item.find('=');
            if (eq == std::string_view::npos)
                fail(text_, "parameter " + ticked(item) + " has no value (write " + std::string(item) + "=VALUE)");
            const std::string key(trim(item.substr(0, eq)));
            const std::string value(trim(item.substr(eq + 1)));
            if (std::find(allowed_.begin(), allowed_.end(), key) == allowed_.end())
                fail(text_, "unknown parameter " + ticked(key) + " for " + generator_ + " (takes " + allowedList() + ")");
            for (const auto& [seen, ignored] : values_)
                if (seen == key) fail(text_, "parameter '" + key + "' given twice");
            if (value.empty()) fail(text_, "parameter '" + key + "' has an empty value");
            values_.emplace_back(key, value);
            start = comma + 1;
        }
    }

    // A whole number of frames, at least `minimum`.
    int64_t frames(const char* key, int64_t minimum, const int64_t* fallback = nullptr) const {
        const std::string* value = find(key, fallback != nullptr);
        if (!value) return *fallback;
        uint64_t parsed = 0;
        switch (parseCount(*value, static_cast<uint64_t>(INT64_MAX), parsed)) {
        case IntParse::Ok: break;
        case IntParse::Negative: fail(text_, std::string(key) + " must not be negative (got " + *value + ")");
        case IntParse::TooLarge: fail(text_, std::string(key) + " is too large (" + *value + ")");
        case IntParse::NotWhole:
            fail(text_, std::string(key) + " must be a whole number of frames (got " + ticked(*value) + ")");
        }
        const auto result = static_cast<int64_t>(parsed);
        if (result < minimum)
            fail(text_, std::string(key) + " must be at least " + std::to_string(minimum) + " (got " + *value + ")");
        return result;
    }

    uint64_t seed(const char* key) const {
        const std::string& value = *find(key, false);
        uint64_t parsed = 0;
        switch (parseCount(value, UINT64_MAX, parsed)) {
        case IntParse::Ok: return parsed;
        case IntParse::Negative: fail(text_, std::string(key) + " must not be negative (got " + value + ")");
        case IntParse::TooLarge: fail(text_, std::string(key) + " does not fit in 64 bits (" + value + ")");
        case IntParse::NotWhole: break;
        }
        fail(text_, std::string(key) + " must be a whole number (got " + ticked(value) + ")");
    }

    float sample(const char* key, const float* fallback = nullptr) const {
        const std::string* value = find(key, fallback != nullptr);
        if (!value) return *fallback;
        float parsed = 0;
        switch (parseSampleText(*value, parsed)) {
        case SampleParse::Ok: return parsed;
        case SampleParse::OutOfRange: fail(text_, std::string(key) + " is out of float range (" + *value + ")");
        case SampleParse::NotNumber: break;
        }
        fail(text_, std::string(key) + " is not a number (got " + ticked(*value) + ")");
    }

    // A plain double; with `volts`, a trailing V divides by 10 as for samples.
    double real(const char* key, double fallback, bool required, bool volts = false) const {
        const std::string* value = find(key, !required);
        if (!value) return fallback;
        std::string_view digits = *value;
        double scale = 1.0;
        if (volts && !digits.empty() && (digits.back() == 'V' || digits.back() == 'v')) {
            digits.remove_suffix(1);
            scale = 10.0;
        }
        double parsed = 0;
        if (!parseDouble(digits, parsed)) fail(text_, std::string(key) + " is not a number (got " + ticked(*value) + ")");
        return parsed / scale;
    }

    const std::string& text() const { return text_; }

private:
    const std::string* find(const char* key, bool optional) const {
        for (const auto& [name, value] : values_)
            if (name == key) return &value;
        if (!optional) fail(text_, generator_ + " needs " + key + "= (takes " + allowedList() + ")");
        return nullptr;
    }

    std::string allowedList() const {
        std::string list;
        for (const std::string& name : allowed_) list += (list.empty() ? "" : ", ") + name;
        return list;
    }

    const std::string& text_;
    std::string generator_;
    std::vector<std::string> allowed_;
    std::vector<std::pair<std::string, std::string>> values_;
};

void requireRate(const std::string& text, double sampleRate) {
    if (!(sampleRate > 0) || !std::isfinite(sampleRate))
        fail(text, "needs a sample rate above 0 (got " + formatDouble(sampleRate) + ")");
}

double positiveFreq(const Params& params) {
    const double freq = params.real("freq", 0, true);
    if (!(freq > 0) || !std::isfinite(freq)) fail(params.text(), "freq must be above 0 Hz (got " + formatDouble(freq) + ")");
    return freq;
}

const char* const kGenerators = "step, pulse, square, sine, ramp, noise";

std::unique_ptr<SignalSource> parseGenerator(const std::string& text, const std::string& name, std::string_view body,
                                             double sampleRate) {
    if (name == "step") {
        Params p(text, name, body, {"at", "from", "to"});
        return std::make_unique<StepSource>(p.frames("at", 0), p.sample("from"), p.sample("to"));
    }
    if (name == "pulse") {
        Params p(text, name, body, {"period", "width", "high", "low", "delay"});
        const float high = 0.5f, low = 0.0f;
        const int64_t noDelay = 0;
        const int64_t period = p.frames("period", 1);
        const int64_t width = p.frames("width", 0);
        if (width > period)
            fail(text, "width " + std::to_string(width) + " is longer than period " + std::to_string(period));
        return std::make_unique<PulseSource>(period, width, p.sample("high", &high), p.sample("low", &low),
                                             p.frames("delay", 0, &noDelay));
    }
    if (name == "square") {
        Params p(text, name, body, {"freq", "high", "low", "duty"});
        const float high = 0.5f, low = 0.0f;
        const double freq = positiveFreq(p);
        const double duty = p.real("duty", 0.5, false);
        if (!(duty >= 0 && duty <= 1)) fail(text, "duty must be between 0 and 1 (got " + formatDouble(duty) + ")");
        requireRate(text, sampleRate);
        return std::make_unique<SquareSource>(freq, sampleRate, p.sample("high", &high), p.sample("low", &low), duty);
    }
    if (name == "sine") {
        Params p(text, name, body, {"freq", "amp", "offset", "phase"});
        const double freq = positiveFreq(p);
        const double phase = p.real("phase", 0, false);
        if (!std::isfinite(phase)) fail(text, "phase must be a finite number of degrees");
        const double amp = p.real("amp", 0.5, false, true), offset = p.real("offset", 0, false, true);
        if (std::fabs(amp) + std::fabs(offset) >= kFloatLimit && std::isfinite(amp) && std::isfinite(offset))
            fail(text, "amp and offset together are out of float range");
        requireRate(text, sampleRate);
        return std::make_unique<SineSource>(freq, sampleRate, amp, offset, phase);
    }
    if (name == "ramp") {
        Params p(text, name, body, {"from", "to", "frames"});
        return std::make_unique<RampSource>(p.sample("from"), p.sample("to"), p.frames("frames", 1));
    }
    if (name == "noise") {
        Params p(text, name, body, {"seed", "min", "max"});
        const float defaultMin = -1.0f, defaultMax = 1.0f;
        const uint64_t seed = p.seed("seed");
        const float min = p.sample("min", &defaultMin), max = p.sample("max", &defaultMax);
        if (!std::isfinite(min) || !std::isfinite(max)) fail(text, "min and max must be finite");
        if (min > max) fail(text, "min " + formatFloat(min) + " is above max " + formatFloat(max));
        return std::make_unique<NoiseSource>(seed, min, max);
    }
    fail(text, "unknown generator " + ticked(name) + " (known: " + kGenerators + ")");
}

// ---- files ---------------------------------------------------------------

void checkReadable(const std::string& text, const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) fail(text, ticked(path) + " is a directory");
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) fail(text, "cannot open " + ticked(path) + ": " + std::strerror(errno));
    std::fclose(file);
}

#if PLUGHOST_HAVE_SNDFILE
std::unique_ptr<SignalSource> readWav(const std::string& text, const std::string& path, int channel) {
    checkReadable(text, path);
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) fail(text, ticked(path) + " is not a readable audio file: " + sf_strerror(nullptr));
    struct Closer {
        SNDFILE* file;
        ~Closer() { sf_close(file); }
    } closer{file};
    if (channel >= info.channels)
        fail(text, "channel " + std::to_string(channel) + " does not exist (the file has " +
                       std::to_string(info.channels) + (info.channels == 1 ? " channel" : " channels") + ", from 0)");
    std::vector<float> samples;
    try {
        const sf_count_t chunkFrames = 4096;
        std::vector<float> chunk(static_cast<size_t>(chunkFrames) * static_cast<size_t>(info.channels));
        if (info.frames > 0 && static_cast<uint64_t>(info.frames) < samples.max_size())
            samples.reserve(static_cast<size_t>(info.frames));
        for (;;) {
            const sf_count_t got = sf_readf_float(file, chunk.data(), chunkFrames);
            if (got <= 0) break;
            for (sf_count_t i = 0; i < got; ++i)
                samples.push_back(chunk[static_cast<size_t>(i * info.channels + channel)]);
        }
    } catch (const std::bad_alloc&) {
        fail(text, ticked(path) + " is too large to read");
    }
    if (sf_error(file) != SF_ERR_NO_ERROR) fail(text, "reading " + ticked(path) + " failed: " + sf_strerror(file));
    const size_t count = samples.size();
    return std::make_unique<SampledSource>(std::move(samples), "wav " + ticked(path) + " channel " +
                                                                   std::to_string(channel) + " (" +
                                                                   std::to_string(count) + " frames)");
}
#endif

// Rows of fields; quotes as in common CSV ("" inside quotes is one quote).
// `firstQuoted` tells which fields of the first row were quoted.
std::vector<std::vector<std::string>> splitCsv(const std::string& text, const std::string& path,
                                               const std::string& data, std::vector<bool>& firstQuoted) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    bool inQuotes = false, rowHasContent = false, fieldQuoted = false;
    size_t i = data.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;  // a BOM from spreadsheet exports
    auto endField = [&] {
        if (rows.empty()) firstQuoted.push_back(fieldQuoted);
        row.push_back(std::move(field));
        field.clear();
        fieldQuoted = false;
    };
    auto endRow = [&] {
        if (rowHasContent) {
            endField();
            rows.push_back(std::move(row));
        } else if (rows.empty()) {
            firstQuoted.clear();
        }
        row.clear();
        field.clear();
        fieldQuoted = rowHasContent = false;
    };
    for (; i < data.size(); ++i) {
        const char c = data[i];
        if (inQuotes) {
            if (c == '"') {
                if (i + 1 < data.size() && data[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    inQuotes = false;
                }
            } else {
                field += c;
            }
        } else if (c == '"') {
            inQuotes = fieldQuoted = rowHasContent = true;
        } else if (c == ',') {
            endField();
            rowHasContent = true;
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < data.size() && data[i + 1] == '\n') ++i;
            endRow();
        } else {
            field += c;
            rowHasContent = true;
        }
    }
    if (inQuotes) fail(text, ticked(path) + " has a quote that is never closed");
    endRow();
    return rows;
}

bool isNumberField(const std::string& field) {
    double ignored;
    return parseDouble(trim(field), ignored);
}

std::unique_ptr<SignalSource> readCsv(const std::string& text, const std::string& path, const std::string* selector) {
    checkReadable(text, path);
    std::string data;
    try {
        std::FILE* file = std::fopen(path.c_str(), "rb");
        if (!file) fail(text, "cannot open " + ticked(path) + ": " + std::strerror(errno));
        char buffer[65536];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) data.append(buffer, got);
        const bool failed = std::ferror(file) != 0;
        std::fclose(file);
        if (failed) fail(text, "reading " + ticked(path) + " failed");
    } catch (const std::bad_alloc&) {
        fail(text, ticked(path) + " is too large to read");
    }
    std::vector<bool> firstQuoted;
    const auto rows = splitCsv(text, path, data, firstQuoted);
    if (rows.empty()) fail(text, ticked(path) + " is empty");

    // A quoted field is text: a header of numeric names stays a header.
    bool hasHeader = false;
    for (size_t c = 0; c < rows[0].size(); ++c) hasHeader |= firstQuoted[c] || !isNumberField(rows[0][c]);
    const size_t columns = rows[0].size();
    auto columnList = [&] {
        std::string list;
        for (size_t c = 0; c < columns; ++c)
            list += (c ? ", " : "") + (hasHeader ? ticked(std::string(trim(rows[0][c]))) : std::to_string(c));
        return list;
    };

    size_t column = 0;
    if (!selector) {
        if (columns != 1)
            fail(text, "name a column with " + oneLine(path) + "#COL (columns: " + columnList() + ")");
    } else {
        bool found = false;
        if (hasHeader) {
            for (size_t c = 0; c < columns; ++c) {
                if (trim(rows[0][c]) != trim(*selector)) continue;
                if (found) fail(text, "column name " + ticked(*selector) + " appears twice; give its index instead");
                column = c;
                found = true;
            }
        }
        uint64_t index = 0;
        if (!found && parseCount(*selector, UINT32_MAX, index) == IntParse::Ok) {
            if (index >= columns)
                fail(text, "column " + *selector + " does not exist (the file has " + std::to_string(columns) +
                               (columns == 1 ? " column" : " columns") + ", from 0)");
            column = static_cast<size_t>(index);
            found = true;
        }
        if (!found) fail(text, "no column " + ticked(*selector) + " (columns: " + columnList() + ")");
    }

    std::vector<float> samples;
    for (size_t r = hasHeader ? 1 : 0; r < rows.size(); ++r) {
        const std::string rowName = "row " + std::to_string(r + 1);
        if (column >= rows[r].size()) fail(text, rowName + " has no column " + std::to_string(column));
        const std::string_view field = trim(rows[r][column]);
        float value = 0;
        double parsed = 0;
        if (!parseDouble(field, parsed)) fail(text, rowName + ": " + ticked(field) + " is not a number");
        if (!toFloat(parsed, value)) fail(text, rowName + ": " + ticked(field) + " is out of float range");
        samples.push_back(value);
    }
    const size_t count = samples.size();
    const std::string columnName = hasHeader ? ticked(std::string(trim(rows[0][column]))) : std::to_string(column);
    return std::make_unique<SampledSource>(std::move(samples), "csv " + ticked(path) + " column " + columnName + " (" +
                                                                   std::to_string(count) + " rows)");
}

// FILE.wav, FILE.csv, optionally followed by #selector. The extension is
// checked first so that a Windows path with a drive letter is not taken for a
// generator.
bool splitFileText(const std::string& text, std::string& path, std::string& selector, bool& hasSelector,
                   bool& isWav) {
    auto isAudioOrTable = [](std::string_view p, bool& wav) {
        wav = endsWithNoCase(p, ".wav");
        return wav || endsWithNoCase(p, ".csv");
    };
    if (isAudioOrTable(text, isWav)) {
        path = text;
        hasSelector = false;
        return true;
    }
    const size_t hash = text.rfind('#');
    if (hash != std::string::npos && isAudioOrTable(std::string_view(text).substr(0, hash), isWav)) {
        path = text.substr(0, hash);
        selector = text.substr(hash + 1);
        hasSelector = true;
        return true;
    }
    return false;
}

std::unique_ptr<SignalSource> parseFile(const std::string& text, const std::string& path, const std::string* selector,
                                        bool isWav) {
    if (isWav) {
        int channel = 0;
        if (selector) {
            uint64_t parsed = 0;
            switch (parseCount(*selector, 65535, parsed)) {
            case IntParse::Ok: break;
            case IntParse::TooLarge:
                fail(text, "channel " + *selector + " does not exist");
            case IntParse::Negative:
            case IntParse::NotWhole:
                fail(text, "channel must be a whole number from 0 (got " + ticked(*selector) + ")");
            }
            channel = static_cast<int>(parsed);
        }
#if PLUGHOST_HAVE_SNDFILE
        return readWav(text, path, channel);
#else
        (void)channel;
        fail(text, "audio files are not supported in this build");
#endif
    }
    if (selector && selector->empty()) fail(text, "empty column after '#'");
    return readCsv(text, path, selector);
}

}  // namespace

std::unique_ptr<SignalSource> parseSource(const std::string& text, double sampleRate) {
    std::string path, selector;
    bool hasSelector = false, isWav = false;
    if (splitFileText(text, path, selector, hasSelector, isWav))
        return parseFile(text, path, hasSelector ? &selector : nullptr, isWav);

    const std::string_view body = trim(text);
    if (body.empty()) fail(text, "empty source (give a number, a generator or a .wav/.csv file)");

    float value = 0;
    switch (parseSampleText(body, value)) {
    case SampleParse::Ok: return std::make_unique<ConstantSource>(value);
    case SampleParse::OutOfRange: fail(text, "value is out of float range");
    case SampleParse::NotNumber: break;
    }

    const size_t colon = body.find(':');
    const std::string name(trim(body.substr(0, colon)));
    const std::string_view params = colon == std::string_view::npos ? std::string_view() : body.substr(colon + 1);
    bool known = false;
    for (const char* generator : {"step", "pulse", "square", "sine", "ramp", "noise"}) known |= name == generator;
    if (colon == std::string_view::npos && !known)
        fail(text, "not a number, a generator (" + std::string(kGenerators) + ") or a .wav/.csv file");
    return parseGenerator(text, name, params, sampleRate);
}

float defaultTextToSample(const char* text, bool* ok) {
    if (ok) *ok = false;
    if (!text) return 0.0f;
    double volts = 0;
    float sample = 0;
    if (!parseDouble(trim(text), volts) || !toFloat(volts / 10.0, sample)) return 0.0f;
    if (ok) *ok = true;
    return sample;
}

}  // namespace plughost
