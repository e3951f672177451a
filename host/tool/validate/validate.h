// plughost validate: a battery of named checks, each in a child process.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace plughost {

struct ValidateOptions {
    std::vector<std::string> libraries;
    std::optional<uint64_t> seed;  // random when absent; always printed
    std::string only;              // ECMAScript regex over check names; empty: all
    bool json = false;
};

// Runs the battery; self is this program's path, used to start the children.
// A child silent for 60 s (PLUGHOST_CHECK_TIMEOUT seconds, when set) is killed
// and its check reported as a timeout.
// Returns the exit code: 0 when every check passed, 1 when any failed or crashed.
int runValidate(const ValidateOptions& options, const std::string& self);

// The child side: plughost __check LIBRARY CHECK SEED. Returns its exit code.
int runValidateChild(int argc, char** argv);

}  // namespace plughost
