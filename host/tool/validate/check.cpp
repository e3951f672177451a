#include "check.h"

#include <cstdarg>
#include <cstdio>

namespace plughost::validate {

const char* statusWord(Status status) {
    switch (status) {
    case Status::Pass: return "PASS";
    case Status::Fail: return "FAIL";
    case Status::Crash: return "CRASH";
    case Status::Skip: return "SKIP";
    }
    return "FAIL";
}

const char* statusJsonWord(Status status) {
    switch (status) {
    case Status::Pass: return "pass";
    case Status::Fail: return "fail";
    case Status::Crash: return "crash";
    case Status::Skip: return "skip";
    }
    return "fail";
}

std::optional<Status> statusFromWord(const std::string& word) {
    for (Status status : {Status::Pass, Status::Fail, Status::Crash, Status::Skip})
        if (word == statusWord(status)) return status;
    return std::nullopt;
}

void fail(const std::string& detail) { throw CheckFailed(detail); }

std::string format(const char* pattern, ...) {
    char small[512];
    va_list args;
    va_start(args, pattern);
    const int length = std::vsnprintf(small, sizeof small, pattern, args);
    va_end(args);
    if (length < 0) return pattern;
    if (static_cast<size_t>(length) < sizeof small) return std::string(small, static_cast<size_t>(length));
    std::string text(static_cast<size_t>(length) + 1, '\0');
    va_start(args, pattern);
    std::vsnprintf(&text[0], text.size(), pattern, args);
    va_end(args);
    text.resize(static_cast<size_t>(length));
    return text;
}

const Library& CheckContext::library() {
    if (!loaded) {
        try {
            loaded.emplace(Library::load(path));
        } catch (const LoadError& error) {
            fail(error.what());
        }
    }
    return *loaded;
}

const std::vector<Check>& allChecks() {
    static const std::vector<Check> checks = [] {
        std::vector<Check> list;
        addLibraryChecks(list);
        addInstanceChecks(list);
        addPinChecks(list);
        addProcessingChecks(list);
        addEventChecks(list);
        addAllocChecks(list);
        return list;
    }();
    return checks;
}

const Check* findCheck(const std::string& name) {
    for (const Check& check : allChecks())
        if (name == check.name) return &check;
    return nullptr;
}

uint64_t checkSeed(uint64_t runSeed, const std::string& checkName) {
    // FNV-1a over the name, then one splitmix64 round over both, so that
    // neighbouring run seeds give unrelated check seeds.
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : checkName) hash = (hash ^ c) * 1099511628211ull;
    uint64_t z = runSeed + 0x9E3779B97F4A7C15ull * (hash | 1);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

}  // namespace plughost::validate
