// The tool's output files: traces as CSV, 32-bit float WAV and an SVG plot.
//
// Every writer writes a temporary file beside the target and renames it into
// place at the end, so the target is either complete or absent, and an
// existing target is left untouched on failure. Failures throw WriteError with
// a one-line message naming the path and the reason.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace plughost {

struct Trace {
    std::string name;
    bool isOutput;
    std::vector<float> samples;
};

// An output's value changed at `frame`; `pin` indexes the traces given with it.
struct OutputChange {
    int32_t pin;
    int64_t frame;
    float value;
};

class WriteError : public std::runtime_error {
public:
    explicit WriteError(const std::string& message) : std::runtime_error(message) {}
};

// A header row with the names, then one row per frame. Values are printed with
// 9 significant digits, enough to read back the same float; nan, inf and -inf
// as those words. Names that need it are quoted, as are names that look like
// numbers so the header is still taken as one. Traces must be equally long.
void writeCsv(const std::string& path, const std::vector<Trace>& traces);

// 32-bit float WAV, one channel per trace, in the order given. Throws when the
// build has no audio file support.
void writeWav(const std::string& path, const std::vector<Trace>& traces, int sampleRate);

// A plot: one lane per trace on a shared time axis, each output change marked.
void writeSvg(const std::string& path, const std::vector<Trace>& traces, const std::vector<OutputChange>& changes,
              const std::string& title, int sampleRate);

}  // namespace plughost
