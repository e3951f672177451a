#include "demo.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "run.h"
#include "tool_error.h"

namespace plughost {
namespace {

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// A signal that shows what a flip-flop input does: set and reset pulses that
// interleave (and sometimes coincide), and a threshold that drifts across the
// pulses' height so that some pulses cross and some do not.
std::string demoSourceFor(const PinInfo& pin) {
    const std::string name = upper(pin.name);
    if (name.find("RESET") != std::string::npos) return "pulse:period=1440,width=240,delay=700,high=0.45";
    if (name.find("SET") != std::string::npos) return "pulse:period=960,width=240,delay=100,high=0.45";
    if (name.find("THRESHOLD") != std::string::npos) return "sine:freq=10,amp=0.12,offset=0.35";
    return {};
}

}  // namespace

int runDemo(const std::string& dir, const std::string& outDir) {
    namespace fs = std::filesystem;
    std::error_code error;
    std::vector<fs::path> libraries;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error))
        if (it->path().extension() == ".sem") libraries.push_back(it->path());
    if (error) throw ToolError(ExitCode::LibraryNotFound, "cannot read folder " + dir + ": " + error.message());
    if (libraries.empty()) throw ToolError(ExitCode::LibraryNotFound, "no .sem files in " + dir);
    std::sort(libraries.begin(), libraries.end());
    fs::create_directories(outDir, error);
    if (error) throw ToolError(ExitCode::OutputNotWritable, "cannot create " + outDir + ": " + error.message());

    RunSettings settings;
    settings.frames = 9600;
    settings.sampleRate = 48000.0;
    settings.blockSize = 256;
#if PLUGHOST_HAVE_SNDFILE
    const bool audioFiles = true;
#else
    const bool audioFiles = false;
#endif
    for (const fs::path& path : libraries) {
        const Library library = loadLibrary(path.string());
        const ModuleInfo module = describeModule(library);
        std::map<int32_t, std::unique_ptr<SignalSource>> sources;
        for (const PinInfo& pin : module.pins) {
            const std::string text = pin.direction == 1 ? std::string() : demoSourceFor(pin);
            if (!text.empty()) sources[pin.index] = sourceFor(text, settings.sampleRate);
        }
        const RunResult result = runModule(library, std::move(sources), settings);
        const std::string stem = (fs::path(outDir) / path.stem()).string();
        writeOutputs(result, audioFiles ? stem + ".wav" : "", stem + ".csv", stem + ".svg", settings.sampleRate);
        std::printf("%s: %zu output changes, %zu state reports\n", module.id.c_str(), result.changes.size(),
                    result.reports.size());
        std::printf("  wrote %s.svg, %s.csv%s\n", stem.c_str(), stem.c_str(),
                    audioFiles ? (", " + stem + ".wav").c_str() : "");
    }
    return 0;
}

}  // namespace plughost
