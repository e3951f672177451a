// The parent runs each selected check in a child process and reports; the
// child (plughost __check LIBRARY CHECKS SEED) runs the named checks and prints
// one marked line per check.

// GCC 12 with the sanitizers warns inside <regex>'s std::function about a
// value it cannot prove set; the warning is about library code, not ours.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "validate.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <random>
#include <regex>

#if !defined(_WIN32)
#include <mutex>
#include <thread>
#endif

#include <nlohmann/json.hpp>

#include "check.h"
#include "child_process.h"
#include "tool_error.h"

namespace plughost {
namespace {

using validate::Check;
using validate::Status;

const char* const kResultMark = "@@plughost-check result ";

#if defined(_WIN32)
// Each process start under Wine costs a good part of a second: one child runs
// all of a library's checks, and a crash restarts the rest in a new one.
// Elsewhere each check has a child of its own.
constexpr bool kOneChildPerLibrary = true;
#else
constexpr bool kOneChildPerLibrary = false;
#endif

// How long a child may stay silent before it counts as hung; PLUGHOST_CHECK_TIMEOUT overrides it.
double silenceSeconds() {
    if (const char* text = std::getenv("PLUGHOST_CHECK_TIMEOUT")) {
        const double seconds = std::strtod(text, nullptr);
        if (seconds > 0) return seconds;
    }
    return 60.0;
}

struct Result {
    std::string library;
    std::string check;
    Status status;
    std::string detail;
};

std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    return text;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1)
        parts.push_back(text.substr(start, end - start));
    parts.push_back(text.substr(start));
    return parts;
}

std::string join(const std::vector<const Check*>& checks, size_t from) {
    std::string text;
    for (size_t i = from; i < checks.size(); ++i) text += (text.empty() ? "" : ",") + std::string(checks[i]->name);
    return text;
}

// The first stderr line that says why a child stopped, for exits a sanitizer or abort caused.
std::string reasonFrom(const std::string& errors) {
    for (const std::string& line : split(errors, '\n')) {
        if (line.find("ERROR:") != std::string::npos || line.find("runtime error") != std::string::npos ||
            line.find("terminate") != std::string::npos || line.find("Assertion") != std::string::npos)
            return oneLine(line.substr(0, 200));
    }
    return {};
}

class Runner {
public:
    Runner(const ValidateOptions& options, std::string program, uint64_t seed, std::vector<const Check*> checks)
        : options(options), program(std::move(program)), seed(seed), checks(std::move(checks)) {
        for (const Check* check : this->checks) nameWidth = std::max(nameWidth, std::string(check->name).size());
        for (const std::string& library : options.libraries) libraryWidth = std::max(libraryWidth, library.size());
    }

    void runLibrary(const std::string& library) {
        size_t next = 0;
        if (kOneChildPerLibrary) {
            // The child itself stops after a gate that does not pass.
            while (next < checks.size()) {
                std::vector<Result> batch =
                    runBatch(library, std::vector<const Check*>(checks.begin() + static_cast<std::ptrdiff_t>(next),
                                                                checks.end()));
                if (batch.size() > 1 && batch.back().status == Status::Crash) retryAlone(library, batch.back());
                next += batch.size();
                if (!emit(std::move(batch))) return;
            }
            return;
        }
        // Gates run first and alone: the rest of a library waits on them.
        for (; next < checks.size() && checks[next]->gate; ++next)
            if (!emit(runBatch(library, {checks[next]}))) return;
        runParallel(library, next);
    }

    std::vector<Result> results;

private:
    // Runs the checks in one child, in order. The results cover the checks
    // settled plus, when the child died or hung, the one it was running.
    std::vector<Result> runBatch(const std::string& library, const std::vector<const Check*>& batch) const {
        std::vector<Result> settled;
        const auto onLine = [&](const std::string& line) {
            const auto at = line.find(kResultMark);
            if (at == std::string::npos) return;
            const std::vector<std::string> fields = split(line.substr(at + std::strlen(kResultMark)), '\t');
            if (fields.size() < 3 || settled.size() >= batch.size() || fields[0] != batch[settled.size()]->name) return;
            settled.push_back({library, fields[0], validate::statusFromWord(fields[1]).value_or(Status::Fail),
                               oneLine(fields[2])});
        };
        const validate::ChildOutcome outcome = validate::runChild(
            program, {"__check", library, join(batch, 0), std::to_string(seed)}, silenceSeconds(), onLine);
        if (settled.size() == batch.size()) return settled;
        if (!settled.empty() && batch[settled.size() - 1]->gate && settled.back().status != Status::Pass)
            return settled;  // the child stops after a gate that did not pass

        const Check& check = *batch[settled.size()];
        const std::string seedNote = validate::format(
            " (check seed %llu)", static_cast<unsigned long long>(validate::checkSeed(seed, check.name)));
        Result result{library, check.name, Status::Fail, {}};
        if (!outcome.started) {
            result.detail = "cannot start a child: " + outcome.startError;
        } else if (outcome.timedOut) {
            result.detail =
                validate::format("timeout: no result within %g s, the child was killed", silenceSeconds()) + seedNote;
        } else if (outcome.crashed || outcome.exitCode != 0) {
            std::string how = outcome.crashed ? outcome.crashText : validate::format("exit code %d", outcome.exitCode);
            const std::string reason = reasonFrom(outcome.errorOutput);
            if (!reason.empty()) how += ": " + reason;
            result.status = Status::Crash;
            result.detail = "crashed (" + how + ")" + seedNote;
        } else {
            result.detail = "the child ended without a result" + seedNote;
        }
        settled.push_back(result);
        return settled;
    }

    // A crash after other checks in the same child may come from them: the
    // check runs again alone, and the report says what it does there.
    void retryAlone(const std::string& library, Result& crashed) const {
        const Check* check = validate::findCheck(crashed.check);
        const std::vector<Result> alone = runBatch(library, {check});
        if (alone.empty() || alone.back().status == Status::Crash) {
            if (!alone.empty()) crashed = alone.back();
            return;
        }
        crashed.detail += std::string(" after other checks in the same process; alone it gives ") +
                          validate::statusWord(alone.back().status) + ": " + alone.back().detail;
    }

    // One child per check, as many at once as there are cores; lines still come out in order.
    void runParallel(const std::string& library, size_t from) {
#if defined(_WIN32)
        for (size_t i = from; i < checks.size(); ++i) emit(runBatch(library, {checks[i]}));
#else
        const size_t count = checks.size() - from;
        std::vector<std::vector<Result>> slots(count);
        std::vector<bool> filled(count, false);
        size_t claimed = 0, printed = 0;
        std::mutex lock;
        const auto work = [&] {
            for (;;) {
                size_t k;
                {
                    std::lock_guard<std::mutex> hold(lock);
                    if (claimed == count) return;
                    k = claimed++;
                }
                std::vector<Result> result = runBatch(library, {checks[from + k]});
                std::lock_guard<std::mutex> hold(lock);
                slots[k] = std::move(result);
                filled[k] = true;
                for (; printed < count && filled[printed]; ++printed) emit(std::move(slots[printed]));
            }
        };
        const unsigned workers = std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
        std::vector<std::thread> threads;
        for (unsigned w = 1; w < workers && w < count; ++w) threads.emplace_back(work);
        work();
        for (std::thread& thread : threads) thread.join();
#endif
    }

    // Records and prints; false when a gate did not pass and the library stops here.
    bool emit(std::vector<Result> batch) {
        bool goOn = true;
        for (Result& result : batch) {
            print(result);
            const Check* check = validate::findCheck(result.check);
            if (check && check->gate && result.status != Status::Pass) goOn = false;
            results.push_back(std::move(result));
        }
        return goOn;
    }

    // Text lines go out as results come; JSON is written at the end.
    void print(const Result& result) const {
        if (options.json) return;
        std::printf("%-5s  %-*s  %-*s  %s\n", validate::statusWord(result.status), static_cast<int>(libraryWidth),
                    result.library.c_str(), static_cast<int>(nameWidth), result.check.c_str(), result.detail.c_str());
        std::fflush(stdout);
    }

    const ValidateOptions& options;
    std::string program;
    uint64_t seed;
    std::vector<const Check*> checks;
    size_t nameWidth = 0;
    size_t libraryWidth = 0;
};

uint64_t freshSeed() {
    std::random_device device;
    const auto now = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return (static_cast<uint64_t>(device()) ^ (now * 0x9E3779B97F4A7C15ull >> 32)) % 1000000000ull;
}

}  // namespace

int runValidate(const ValidateOptions& options, const std::string& self) {
    std::regex only;
    try {
        only = std::regex(options.only.empty() ? std::string(".") : options.only, std::regex::ECMAScript);
    } catch (const std::regex_error& error) {
        throw ToolError(ExitCode::Usage, "--only '" + options.only + "' is no regex: " + error.what());
    }
    std::vector<const Check*> selected;
    for (const Check& check : validate::allChecks())
        if (options.only.empty() || std::regex_search(check.name, only)) selected.push_back(&check);
    if (selected.empty()) throw ToolError(ExitCode::Usage, "--only '" + options.only + "' matches no check");

    const uint64_t seed = options.seed ? *options.seed : freshSeed();
    if (!options.json) {
        std::printf("seed %llu (rerun with --seed %llu)\n", static_cast<unsigned long long>(seed),
                    static_cast<unsigned long long>(seed));
        std::fflush(stdout);
    }
    Runner runner(options, validate::selfPath(self), seed, selected);
    for (const std::string& library : options.libraries) runner.runLibrary(library);

    int passed = 0, failed = 0, skipped = 0;
    for (const Result& result : runner.results) {
        if (result.status == Status::Pass) ++passed;
        else if (result.status == Status::Skip) ++skipped;
        else ++failed;
    }
    if (options.json) {
        nlohmann::ordered_json document;
        document["seed"] = seed;
        document["results"] = nlohmann::ordered_json::array();
        for (const Result& result : runner.results)
            document["results"].push_back({{"library", result.library},
                                           {"check", result.check},
                                           {"status", validate::statusJsonWord(result.status)},
                                           {"detail", result.detail}});
        document["passed"] = passed;
        document["failed"] = failed;
        document["skipped"] = skipped;
        std::cout << document.dump(2) << "\n";
    } else {
        std::printf("%d passed, %d failed", passed, failed);
        if (skipped) std::printf(", %d skipped", skipped);
        std::printf("\n");
    }
    std::fflush(stdout);
    return failed ? static_cast<int>(ExitCode::ChecksFailed) : static_cast<int>(ExitCode::Ok);
}

int runValidateChild(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: plughost __check LIBRARY CHECK[,CHECK...] SEED\n");
        return static_cast<int>(ExitCode::Usage);
    }
    validate::prepareChildProcess();
    const std::string library = argv[2];
    const uint64_t runSeed = std::strtoull(argv[4], nullptr, 10);
    for (const std::string& name : split(argv[3], ',')) {
        const Check* check = validate::findCheck(name);
        Status status = Status::Pass;
        std::string detail;
        const uint64_t seed = validate::checkSeed(runSeed, name);
        if (!check) {
            status = Status::Fail;
            detail = "no such check";
        } else {
            try {
                validate::CheckContext context(library, seed);
                detail = check->run(context);
            } catch (const validate::CheckSkipped& skip) {
                status = Status::Skip;
                detail = skip.what();
            } catch (const validate::CheckFailed& failure) {
                status = Status::Fail;
                detail = failure.what();
            } catch (const std::exception& error) {
                status = Status::Fail;
                detail = std::string("the check itself failed: ") + error.what();
            }
        }
        if (status == Status::Fail)
            detail += validate::format(" (check seed %llu)", static_cast<unsigned long long>(seed));
        std::printf("\n%s%s\t%s\t%s\n", kResultMark, name.c_str(), validate::statusWord(status),
                    oneLine(detail).c_str());
        std::fflush(stdout);
        if (check && check->gate && status != Status::Pass) break;
    }
    return 0;
}

}  // namespace plughost
