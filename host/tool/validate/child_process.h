// Starts this program again as a child (posix_spawn on linux32, CreateProcess
// on win32), reads its stdout line by line and its stderr, and ends it when it
// stays silent for too long.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace plughost::validate {

struct ChildOutcome {
    bool started = false;
    std::string startError;
    bool timedOut = false;
    bool crashed = false;     // ended by a signal or an exception code
    int exitCode = 0;         // when it exited
    std::string crashText;    // "signal 11 (SIGSEGV)", "exception 0xC0000005 (access violation)"
    std::string errorOutput;  // what it wrote to stderr, cut to a few kilobytes
};

// This program's own file, to start children from.
std::string selfPath(const std::string& argv0);

// Runs program with args; onLine gets each stdout line as it arrives. The child
// is killed once no line arrives for silenceSeconds.
ChildOutcome runChild(const std::string& program, const std::vector<std::string>& args, double silenceSeconds,
                      const std::function<void(const std::string& line)>& onLine);

// Done first in a child: no core files, and on win32 no crash dialog or debugger.
void prepareChildProcess();

}  // namespace plughost::validate
