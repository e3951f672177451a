// plughost demo: every .sem of a folder on built-in signals, plotted.
#pragma once

#include <string>

namespace plughost {

// Runs each .sem in dir and writes outDir/NAME.svg, .csv (and .wav where the
// build has audio files); prints what it wrote. Returns the exit code.
int runDemo(const std::string& dir, const std::string& outDir);

}  // namespace plughost
