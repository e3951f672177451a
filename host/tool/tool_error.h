// The tool's failures: one line on stderr and an exit code per stage.
#pragma once

#include <stdexcept>
#include <string>

namespace plughost {

enum class ExitCode : int {
    Ok = 0,
    ChecksFailed = 1,       // validate: some check did not pass
    Usage = 2,
    LibraryNotFound = 3,
    LibraryNotLoadable = 4,
    ExportMissing = 5,
    MakeModuleNull = 6,
    UnknownPin = 7,
    BadSource = 8,
    BadAudioFile = 9,
    OutputNotWritable = 10,
};

class ToolError : public std::runtime_error {
public:
    ToolError(ExitCode code, const std::string& message) : std::runtime_error(message), code(code) {}
    ExitCode code;
};

}  // namespace plughost
