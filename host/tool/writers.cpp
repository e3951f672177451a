#include "writers.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string_view>
#include <system_error>

#if PLUGHOST_HAVE_SNDFILE
#include <sndfile.h>
#endif

namespace plughost {
namespace {

// Messages stay on one line whatever the path holds.
std::string ticked(std::string_view s) {
    std::string out = "'";
    for (char c : s) out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? '?' : c;
    return out + "'";
}

[[noreturn]] void fail(const std::string& path, const std::string& reason) {
    throw WriteError("cannot write " + ticked(path) + ": " + reason);
}

// A file beside the target that becomes the target only on commit(); until
// then the target is not touched, and the file is removed if anything fails.
class TempFile {
public:
    // The name differs per call and per moment, so two writers never share one.
    explicit TempFile(const std::string& target) : target_(target) {
        static std::atomic<unsigned> counter{0};
        const auto now = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
        std::error_code ec;
        do {
            char suffix[64];
            std::snprintf(suffix, sizeof suffix, ".%llx-%x.tmp", now & 0xffffffffffull, counter++);
            path_ = target + suffix;
        } while (std::filesystem::exists(path_, ec));
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (committed_) return;
        std::error_code ec;
        std::filesystem::remove(path_, ec);
    }

    const std::string& path() const { return path_; }

    void commit() {
        std::error_code ec;
        std::filesystem::rename(path_, target_, ec);
        if (ec) {
            std::filesystem::remove(path_, ec);
            committed_ = true;  // nothing left to clean up
            fail(target_, "cannot put the file in place: " + ec.message());
        }
        committed_ = true;
    }

private:
    std::string target_, path_;
    bool committed_ = false;
};

void writeWhole(const std::string& path, const std::string& content) {
    TempFile temp(path);
    std::FILE* file = std::fopen(temp.path().c_str(), "wb");
    if (!file) fail(path, std::strerror(errno));
    const bool wrote = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    const int writeErrno = errno;
    const bool closed = std::fclose(file) == 0;
    if (!wrote || !closed) fail(path, std::strerror(wrote ? errno : writeErrno));
    temp.commit();
}

void requireEqualLengths(const std::string& path, const std::vector<Trace>& traces) {
    if (traces.empty()) fail(path, "no traces to write");
    for (const Trace& trace : traces)
        if (trace.samples.size() != traces[0].samples.size())
            fail(path, "traces differ in length (" + ticked(traces[0].name) + " has " +
                           std::to_string(traces[0].samples.size()) + " frames, " + ticked(trace.name) + " has " +
                           std::to_string(trace.samples.size()) + ")");
}

// ---- CSV -----------------------------------------------------------------

bool looksLikeNumber(const std::string& s) {
    std::string_view v = s;
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t' || v.front() == '+')) v.remove_prefix(1);
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
    double ignored;
    const auto result = std::from_chars(v.data(), v.data() + v.size(), ignored);
    return !v.empty() && result.ec == std::errc() && result.ptr == v.data() + v.size();
}

std::string csvField(const std::string& name) {
    const bool needsQuotes = name.empty() || name.find_first_of(",\"\r\n") != std::string::npos ||
                             name.front() == ' ' || name.back() == ' ' || looksLikeNumber(name);
    if (!needsQuotes) return name;
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

void appendSample(std::string& out, float value) {
    if (std::isnan(value)) {
        out += "nan";
    } else if (std::isinf(value)) {
        out += value > 0 ? "inf" : "-inf";
    } else {
        char buffer[32];
        // Locale-independent, and the same text on every platform.
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 9);
        out.append(buffer, result.ptr);
    }
}

// ---- SVG -----------------------------------------------------------------

// XML text: markup characters escaped; control characters and bytes that are
// not UTF-8 would make the file unreadable, so they become '?'.
std::string xmlText(std::string_view s, size_t maxChars = std::string::npos) {
    std::string out;
    size_t chars = 0;
    for (size_t i = 0; i < s.size();) {
        if (chars == maxChars) {
            out += "\xE2\x80\xA6";  // an ellipsis
            break;
        }
        const auto c = static_cast<unsigned char>(s[i]);
        size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        bool valid = length > 0 && i + length <= s.size() && !(length > 1 && c < 0xC2);
        for (size_t k = 1; valid && k < length; ++k) valid = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
        if (!valid) {
            out += '?';
            ++i;
        } else if (length == 1) {
            switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += (c < 0x20 || c == 0x7f) ? '?' : static_cast<char>(c);
            }
            ++i;
        } else {
            out.append(s.substr(i, length));
            i += length;
        }
        ++chars;
    }
    return out;
}

// Coordinates with one decimal, without a locale and without a trailing ".0".
std::string num(double value, int decimals = 1) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    std::string text(buffer, result.ptr);
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0') text.pop_back();
        if (text.back() == '.') text.pop_back();
    }
    if (text == "-0") text = "0";
    return text;
}

std::string shortNumber(double value, int digits = 4) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits);
    return std::string(buffer, result.ptr);
}

constexpr double kWidth = 1200, kLeft = 170, kRight = 40, kPlotWidth = kWidth - kLeft - kRight;
constexpr double kTop = 70, kLaneHeight = 64, kLaneGap = 10, kPad = 7;
constexpr size_t kExactLimit = 4000;  // above this, one min/max bucket per pixel column
constexpr const char* kInputColour = "#1f63b5";
constexpr const char* kOutputColour = "#c2410c";

struct Lane {
    double top, yHigh, yLow;  // yHigh is where `hi` is drawn
    double lo, hi;
    double y(double v) const { return yLow - (v - lo) / (hi - lo) * (yLow - yHigh); }
    double yFor(float v) const {
        if (std::isnan(v)) return (yHigh + yLow) / 2;
        if (std::isinf(v)) return v > 0 ? yHigh : yLow;
        return y(v);
    }
};

struct Span {
    double x0, x1;
};

void addSpan(std::vector<Span>& spans, double x0, double x1) {
    if (!spans.empty() && x0 <= spans.back().x1 + 0.01)
        spans.back().x1 = std::max(spans.back().x1, x1);
    else
        spans.push_back({x0, x1});
}

struct Buckets {
    size_t frames;  // the longest trace
    bool exact;
    size_t count() const { return exact ? frames : static_cast<size_t>(kPlotWidth); }
    size_t begin(size_t b) const { return exact ? b : static_cast<size_t>(static_cast<double>(b) * frames / kPlotWidth); }
    double x(double frame) const { return kLeft + kPlotWidth * frame / static_cast<double>(std::max<size_t>(frames, 1)); }
    double xBegin(size_t b) const { return exact ? x(static_cast<double>(b)) : kLeft + static_cast<double>(b); }
    double xEnd(size_t b) const { return exact ? x(static_cast<double>(b + 1)) : kLeft + static_cast<double>(b + 1); }
};

// The trace as a step line (each sample held until the next), lifted over
// samples that are not finite; only level changes add to the path.
std::string stepPath(const Trace& trace, const Lane& lane, const Buckets& buckets, std::vector<Span> marks[3]) {
    std::string d;
    bool penDown = false;
    float current = 0;
    const size_t m = trace.samples.size();
    for (size_t b = 0; b < buckets.count(); ++b) {
        const size_t f0 = buckets.begin(b), f1 = std::min(buckets.begin(b + 1), m);
        if (f0 >= m) break;
        if (f0 >= f1) continue;
        bool any = false;
        float first = 0, last = 0, lo = 0, hi = 0;
        bool kinds[3] = {false, false, false};  // nan, +inf, -inf
        for (size_t f = f0; f < f1; ++f) {
            const float v = trace.samples[f];
            if (std::isnan(v)) {
                kinds[0] = true;
            } else if (std::isinf(v)) {
                kinds[v > 0 ? 1 : 2] = true;
            } else if (!any) {
                any = true;
                first = last = lo = hi = v;
            } else {
                last = v;
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        }
        const double x0 = buckets.xBegin(b), x1 = buckets.xEnd(b);
        for (int k = 0; k < 3; ++k)
            if (kinds[k]) addSpan(marks[k], x0, x1);
        if (!any) {
            if (penDown) d += "H" + num(x0);
            penDown = false;
            continue;
        }
        if (!penDown) {
            d += "M" + num(x0) + " " + num(lane.y(first));
            penDown = true;
        } else if (first != current || lo != current || hi != current) {
            d += "H" + num(x0);
            if (first != current) d += "V" + num(lane.y(first));
        }
        if (lo != hi) d += "V" + num(lane.y(lo)) + "V" + num(lane.y(hi)) + "V" + num(lane.y(last));
        current = last;
    }
    if (penDown) d += "H" + num(buckets.x(static_cast<double>(m)));
    return d;
}

// 1, 2 or 5 times a power of ten, giving five to ten ticks.
double tickStep(size_t frames) {
    const double raw = std::max(1.0, static_cast<double>(frames) / 10.0);
    double step = std::pow(10.0, std::floor(std::log10(raw)));
    for (double factor : {1.0, 2.0, 5.0, 10.0})
        if (step * factor >= raw) return step * factor;
    return step * 10.0;
}

std::string timeLabel(double seconds, double stepSeconds) {
    if (stepSeconds >= 1.0) return shortNumber(seconds) + " s";
    if (stepSeconds >= 1e-3) return shortNumber(seconds * 1e3) + " ms";
    return shortNumber(seconds * 1e6) + " \xC2\xB5s";
}

std::string svgText(const std::vector<Trace>& traces, const std::vector<OutputChange>& changes,
                    const std::string& title, int sampleRate) {
    size_t frames = 0;
    for (const Trace& trace : traces) frames = std::max(frames, trace.samples.size());
    const Buckets buckets{frames, frames <= kExactLimit};
    const double lanesBottom = kTop + static_cast<double>(traces.size()) * (kLaneHeight + kLaneGap) - kLaneGap;
    const double axisY = std::max(lanesBottom, kTop) + 8;
    const double height = axisY + 62;

    std::string s;
    s += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(kWidth) + "\" height=\"" + num(height) +
         "\" viewBox=\"0 0 " + num(kWidth) + " " + num(height) +
         "\" font-family=\"DejaVu Sans, Arial, Helvetica, sans-serif\">\n";
    s += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    s += "<text x=\"12\" y=\"26\" font-size=\"18\" font-weight=\"bold\">" + xmlText(title) + "</text>\n";
    std::string subtitle = std::to_string(frames) + " frames";
    if (sampleRate > 0)
        subtitle += " at " + std::to_string(sampleRate) + " Hz (" +
                    shortNumber(static_cast<double>(frames) / sampleRate, 5) + " s)";
    subtitle += ", 1.0 = 10 V";
    s += "<text x=\"12\" y=\"46\" font-size=\"12\" fill=\"#444\">" + xmlText(subtitle) + "</text>\n";

    // Legend, right-aligned on the subtitle line.
    {
        double x = kWidth - kRight - 470;
        const double y = 46;
        auto swatch = [&](const std::string& shape, const std::string& label, double width) {
            s += shape + "<text x=\"" + num(x + 16) + "\" y=\"" + num(y) + "\" font-size=\"11\" fill=\"#444\">" +
                 label + "</text>\n";
            x += width;
        };
        swatch("<path d=\"M" + num(x) + " " + num(y - 4) + "h12\" stroke=\"" + kInputColour + "\" stroke-width=\"2\"/>",
               "input", 62);
        swatch("<path d=\"M" + num(x) + " " + num(y - 4) + "h12\" stroke=\"" + kOutputColour + "\" stroke-width=\"2\"/>",
               "output", 70);
        swatch("<circle cx=\"" + num(x + 6) + "\" cy=\"" + num(y - 4) + "\" r=\"3\" fill=\"" + kOutputColour +
                   "\" stroke=\"#fff\"/>",
               "output change", 110);
        swatch("<rect x=\"" + num(x) + "\" y=\"" + num(y - 10) + "\" width=\"12\" height=\"12\" fill=\"#888\" opacity=\"0.35\"/>",
               "NaN", 50);
        swatch("<rect x=\"" + num(x) + "\" y=\"" + num(y - 10) + "\" width=\"12\" height=\"4\" fill=\"#7b1fa2\"/>", "+inf",
               52);
        swatch("<rect x=\"" + num(x) + "\" y=\"" + num(y - 2) + "\" width=\"12\" height=\"4\" fill=\"#7b1fa2\"/>", "-inf",
               50);
    }

    // Time grid and axis.
    const double step = tickStep(frames);
    const double stepSeconds = sampleRate > 0 ? step / sampleRate : 0;
    std::string grid, ticks;
    for (double f = 0; f <= static_cast<double>(frames) + 0.5; f += step) {
        const double x = buckets.x(f);
        if (!traces.empty()) grid += "M" + num(x) + " " + num(kTop) + "V" + num(lanesBottom);
        ticks += "<text x=\"" + num(x) + "\" y=\"" + num(axisY + 18) + "\">" + shortNumber(f, 12) + "</text>";
        if (sampleRate > 0)
            ticks += "<text x=\"" + num(x) + "\" y=\"" + num(axisY + 31) + "\" fill=\"#666\">" +
                     xmlText(timeLabel(f / sampleRate, stepSeconds)) + "</text>";
        ticks += "\n";
        grid += "M" + num(x) + " " + num(axisY) + "v5";
    }
    s += "<path d=\"M" + num(kLeft) + " " + num(axisY) + "H" + num(kLeft + kPlotWidth) + grid +
         "\" stroke=\"#c8c8c8\" stroke-width=\"1\" fill=\"none\"/>\n";
    s += "<g font-size=\"11\" text-anchor=\"middle\">\n" + ticks + "</g>\n";
    s += "<text x=\"" + num(kLeft + kPlotWidth / 2) + "\" y=\"" + num(axisY + 52) +
         "\" font-size=\"12\" text-anchor=\"middle\" fill=\"#444\">frame" +
         (sampleRate > 0 ? std::string(" (time below, at ") + std::to_string(sampleRate) + " Hz)" : std::string()) +
         "</text>\n";
    if (traces.empty())
        s += "<text x=\"" + num(kLeft) + "\" y=\"" + num(kTop + 4) + "\" font-size=\"12\">no traces</text>\n";

    std::vector<Lane> lanes;
    for (size_t t = 0; t < traces.size(); ++t) {
        const Trace& trace = traces[t];
        double lo = 0.0, hi = 0.5;  // logic levels 0 and 0.5 keep their full height
        for (float v : trace.samples) {
            if (!std::isfinite(v)) continue;
            lo = std::min(lo, static_cast<double>(v));
            hi = std::max(hi, static_cast<double>(v));
        }
        const double top = kTop + static_cast<double>(t) * (kLaneHeight + kLaneGap);
        const Lane lane{top, top + kPad, top + kLaneHeight - kPad, lo, hi};
        lanes.push_back(lane);
        const char* colour = trace.isOutput ? kOutputColour : kInputColour;

        s += "<g>\n<rect x=\"" + num(kLeft) + "\" y=\"" + num(top) + "\" width=\"" + num(kPlotWidth) + "\" height=\"" +
             num(kLaneHeight) + "\" fill=\"" + (trace.isOutput ? "#fdf4ef" : "#f1f5fb") + "\" stroke=\"#d0d0d0\"/>\n";
        s += "<text x=\"10\" y=\"" + num(top + kLaneHeight / 2 - 2) + "\" font-size=\"13\" font-weight=\"bold\" fill=\"" +
             colour + "\">" + xmlText(trace.name, 16) + "<title>" + xmlText(trace.name) + "</title></text>\n";
        s += "<text x=\"10\" y=\"" + num(top + kLaneHeight / 2 + 13) + "\" font-size=\"10\" fill=\"" + colour + "\">" +
             (trace.isOutput ? "output" : "input") + "</text>\n";
        s += "<g font-size=\"9\" fill=\"#666\" text-anchor=\"end\"><text x=\"" + num(kLeft - 4) + "\" y=\"" +
             num(lane.yHigh + 3) + "\">" + shortNumber(hi) + "</text><text x=\"" + num(kLeft - 4) + "\" y=\"" +
             num(lane.yLow + 3) + "\">" + shortNumber(lo) + "</text></g>\n";
        if (lo < 0 && hi > 0)
            s += "<path d=\"M" + num(kLeft) + " " + num(lane.y(0)) + "h" + num(kPlotWidth) +
                 "\" stroke=\"#bbb\" stroke-dasharray=\"3 3\"/>\n";

        std::vector<Span> marks[3];
        const std::string d = stepPath(trace, lane, buckets, marks);
        for (const Span& span : marks[0])
            s += "<rect x=\"" + num(span.x0) + "\" y=\"" + num(lane.yHigh) + "\" width=\"" +
                 num(std::max(span.x1 - span.x0, 1.5)) + "\" height=\"" + num(lane.yLow - lane.yHigh) +
                 "\" fill=\"#888\" opacity=\"0.35\"><title>NaN</title></rect>\n";
        for (int k = 1; k < 3; ++k)
            for (const Span& span : marks[k])
                s += "<rect x=\"" + num(span.x0) + "\" y=\"" + num(k == 1 ? top + 1 : top + kLaneHeight - 5) +
                     "\" width=\"" + num(std::max(span.x1 - span.x0, 1.5)) + "\" height=\"4\" fill=\"#7b1fa2\"><title>" +
                     (k == 1 ? "+inf" : "-inf") + "</title></rect>\n";
        if (!d.empty())
            s += "<path d=\"" + d + "\" fill=\"none\" stroke=\"" + colour + "\" stroke-width=\"1.5\"/>\n";
        s += "</g>\n";
    }

    // Output changes: one marker per pin and pixel, one line per pixel.
    std::set<std::pair<int32_t, long>> marked;
    std::set<long> lined;
    std::string lines, markers;
    const bool withTitles = changes.size() <= 300;
    for (const OutputChange& change : changes) {
        const double x = buckets.x(static_cast<double>(change.frame));
        const long pixel = std::lround(x);
        if (lined.insert(pixel).second) lines += "M" + num(x) + " " + num(kTop) + "V" + num(lanesBottom);
        if (!marked.insert({change.pin, pixel}).second) continue;
        const Lane& lane = lanes[static_cast<size_t>(change.pin)];
        markers += "<circle class=\"change\" cx=\"" + num(x) + "\" cy=\"" + num(lane.yFor(change.value)) + "\" r=\"3\"";
        if (withTitles) {
            std::string value;
            appendSample(value, change.value);
            markers += "><title>" + xmlText(traces[static_cast<size_t>(change.pin)].name) + " at frame " +
                       std::to_string(change.frame) + ": " + value + "</title></circle>\n";
        } else {
            markers += "/>\n";
        }
    }
    // Dense change lines fade so that the lanes under them stay readable.
    const double opacity = std::max(0.08, 0.35 * std::sqrt(100.0 / std::max<double>(100.0, static_cast<double>(lined.size()))));
    if (!lines.empty())
        s += "<path d=\"" + lines + "\" stroke=\"" + kOutputColour + "\" stroke-width=\"0.75\" opacity=\"" +
             num(opacity, 2) + "\"/>\n";
    if (!markers.empty())
        s += "<g fill=\"" + std::string(kOutputColour) + "\" stroke=\"#fff\" stroke-width=\"1\">\n" + markers + "</g>\n";
    s += "</svg>\n";
    return s;
}

}  // namespace

void writeCsv(const std::string& path, const std::vector<Trace>& traces) {
    requireEqualLengths(path, traces);
    std::string out;
    for (size_t t = 0; t < traces.size(); ++t) out += (t ? "," : "") + csvField(traces[t].name);
    out += "\n";
    const size_t frames = traces[0].samples.size();
    out.reserve(out.size() + frames * traces.size() * 12);
    for (size_t f = 0; f < frames; ++f) {
        for (size_t t = 0; t < traces.size(); ++t) {
            if (t) out += ',';
            appendSample(out, traces[t].samples[f]);
        }
        out += '\n';
    }
    writeWhole(path, out);
}

void writeWav(const std::string& path, const std::vector<Trace>& traces, int sampleRate) {
#if PLUGHOST_HAVE_SNDFILE
    requireEqualLengths(path, traces);
    if (sampleRate <= 0) fail(path, "sample rate must be above 0 (got " + std::to_string(sampleRate) + ")");
    const size_t frames = traces[0].samples.size();
    // RIFF sizes are 32-bit.
    if (static_cast<double>(frames) * static_cast<double>(traces.size()) * 4.0 > 4294967295.0 - 4096.0)
        fail(path, "too long for a WAV file");
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = static_cast<int>(traces.size());
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    if (traces.size() > 1024 || !sf_format_check(&info))
        fail(path, std::to_string(traces.size()) + " channels at " + std::to_string(sampleRate) +
                       " Hz cannot be written as WAV");

    TempFile temp(path);
    SNDFILE* file = sf_open(temp.path().c_str(), SFM_WRITE, &info);
    if (!file) fail(path, sf_strerror(nullptr));
    // The PEAK chunk is optional, and it would hold NaN peaks for NaN traces.
    sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    const size_t chunkFrames = 4096;
    std::vector<float> chunk(chunkFrames * traces.size());
    for (size_t start = 0; start < frames; start += chunkFrames) {
        const size_t n = std::min(chunkFrames, frames - start);
        for (size_t i = 0; i < n; ++i)
            for (size_t c = 0; c < traces.size(); ++c) chunk[i * traces.size() + c] = traces[c].samples[start + i];
        if (sf_writef_float(file, chunk.data(), static_cast<sf_count_t>(n)) != static_cast<sf_count_t>(n)) {
            const std::string reason = sf_strerror(file);
            sf_close(file);
            fail(path, reason);
        }
    }
    if (sf_close(file) != 0) fail(path, "closing the file failed");
    temp.commit();
#else
    (void)traces;
    (void)sampleRate;
    fail(path, "audio files are not supported in this build");
#endif
}

void writeSvg(const std::string& path, const std::vector<Trace>& traces, const std::vector<OutputChange>& changes,
              const std::string& title, int sampleRate) {
    size_t frames = 0;
    for (const Trace& trace : traces) frames = std::max(frames, trace.samples.size());
    for (const OutputChange& change : changes) {
        if (change.pin < 0 || static_cast<size_t>(change.pin) >= traces.size())
            fail(path, "a change names pin " + std::to_string(change.pin) + " but there are " +
                           std::to_string(traces.size()) + " traces");
        if (change.frame < 0 || static_cast<uint64_t>(change.frame) > frames)
            fail(path, "a change at frame " + std::to_string(change.frame) + " lies outside the " +
                           std::to_string(frames) + " frames");
    }
    writeWhole(path, svgText(traces, changes, title, sampleRate));
}

}  // namespace plughost
