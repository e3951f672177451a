// The check registry: named checks that run inside a child process and either
// return a one-line detail (pass) or throw CheckFailed / CheckSkipped.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "plughost/library.h"

namespace plughost::validate {

enum class Status { Pass, Fail, Crash, Skip };

const char* statusWord(Status status);       // PASS, FAIL, CRASH, SKIP
const char* statusJsonWord(Status status);   // pass, fail, crash, skip
std::optional<Status> statusFromWord(const std::string& word);

class CheckFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class CheckSkipped : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const std::string& detail);
inline void require(bool condition, const std::string& detail) {
    if (!condition) fail(detail);
}
// printf into a std::string.
std::string format(const char* pattern, ...) __attribute__((format(gnu_printf, 1, 2)));

class CheckContext {
public:
    CheckContext(std::string libraryPath, uint64_t seed) : path(std::move(libraryPath)), checkSeed(seed) {}
    const std::string& libraryPath() const { return path; }
    uint64_t seed() const { return checkSeed; }
    // Loaded on first use; a library that does not load fails the check.
    const Library& library();

private:
    std::string path;
    uint64_t checkSeed;
    std::optional<Library> loaded;
};

using CheckFunction = std::string (*)(CheckContext& context);

struct Check {
    const char* name;
    CheckFunction run;
    bool gate;  // when it does not pass, the library's other checks are not run
};

// Every check, in the order they run.
const std::vector<Check>& allChecks();
const Check* findCheck(const std::string& name);

// Each family adds its checks in order.
void addLibraryChecks(std::vector<Check>& checks);
void addInstanceChecks(std::vector<Check>& checks);
void addPinChecks(std::vector<Check>& checks);
void addProcessingChecks(std::vector<Check>& checks);
void addEventChecks(std::vector<Check>& checks);
void addAllocChecks(std::vector<Check>& checks);

// A check's seed, from the run seed and the check's name.
uint64_t checkSeed(uint64_t runSeed, const std::string& checkName);

}  // namespace plughost::validate
