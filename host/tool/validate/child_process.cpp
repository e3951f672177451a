#include "child_process.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace plughost::validate {
namespace {

constexpr size_t kErrorKeep = 4096;

using Clock = std::chrono::steady_clock;

// Splits what arrives into lines for onLine; keeps the start of stderr.
struct Collector {
    const std::function<void(const std::string&)>& onLine;
    std::string partial;
    std::string& errors;
    void out(const char* data, size_t size) {
        partial.append(data, size);
        for (size_t end; (end = partial.find('\n')) != std::string::npos;) {
            std::string line = partial.substr(0, end);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            partial.erase(0, end + 1);
            onLine(line);
        }
    }
    void err(const char* data, size_t size) {
        if (errors.size() < kErrorKeep) errors.append(data, std::min(size, kErrorKeep - errors.size()));
    }
    void flush() {
        if (!partial.empty()) onLine(partial);
        partial.clear();
    }
};

#if !defined(_WIN32)
const char* signalName(int signal) {
    switch (signal) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    case SIGABRT: return "SIGABRT";
    case SIGTRAP: return "SIGTRAP";
    case SIGKILL: return "SIGKILL";
    case SIGSYS: return "SIGSYS";
    default: return "signal";
    }
}
#else
const char* exceptionName(DWORD code) {
    switch (code) {
    case 0xC0000005: return "access violation";
    case 0xC0000094: return "integer divide by zero";
    case 0xC0000095: return "integer overflow";
    case 0xC00000FD: return "stack overflow";
    case 0xC000001D: return "illegal instruction";
    case 0xC0000096: return "privileged instruction";
    case 0xC000008C: return "array bounds exceeded";
    case 0xC0000409: return "stack buffer overrun";
    case 0xC0000374: return "heap corruption";
    case 0x80000003: return "breakpoint";
    case 0xC0000006: return "in-page error";
    default: return "exception";
    }
}

std::string quoteArgument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') quoted.append(backslashes * 2 + 1, '\\');
        else quoted.append(backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

LONG WINAPI endOnException(EXCEPTION_POINTERS* info) {
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), info->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}
#endif

}  // namespace

#if defined(_WIN32)

std::string selfPath(const std::string& argv0) {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    return length > 0 && length < sizeof path ? std::string(path, length) : argv0;
}

void prepareChildProcess() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(&endOnException);
}

ChildOutcome runChild(const std::string& program, const std::vector<std::string>& args, double silenceSeconds,
                      const std::function<void(const std::string& line)>& onLine) {
    ChildOutcome outcome;
    Collector collector{onLine, {}, outcome.errorOutput};
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE outRead, outWrite, errRead, errWrite;
    if (!CreatePipe(&outRead, &outWrite, &inherit, 0) || !CreatePipe(&errRead, &errWrite, &inherit, 0)) {
        outcome.startError = "cannot make a pipe";
        return outcome;
    }
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    std::string commandLine = quoteArgument(program);
    for (const std::string& arg : args) commandLine += " " + quoteArgument(arg);
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    PROCESS_INFORMATION process;
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    const BOOL created = CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                        nullptr, nullptr, &startup, &process);
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    if (!created) {
        outcome.startError = "CreateProcess failed with error " + std::to_string(GetLastError());
        CloseHandle(outRead);
        CloseHandle(errRead);
        return outcome;
    }
    outcome.started = true;
    auto drain = [&](HANDLE pipe, bool isOut) {
        bool any = false;
        for (;;) {
            DWORD available = 0;
            if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) return any;
            char buffer[4096];
            DWORD got = 0;
            if (!ReadFile(pipe, buffer, std::min<DWORD>(available, sizeof buffer), &got, nullptr) || got == 0) return any;
            any = true;
            if (isOut) collector.out(buffer, got);
            else collector.err(buffer, got);
        }
    };
    auto lastOutput = Clock::now();
    for (;;) {
        const bool exited = WaitForSingleObject(process.hProcess, 2) == WAIT_OBJECT_0;
        const size_t before = collector.partial.size();
        if (drain(outRead, true) || collector.partial.size() != before) lastOutput = Clock::now();
        drain(errRead, false);
        if (exited) {
            drain(outRead, true);
            drain(errRead, false);
            break;
        }
        if (std::chrono::duration<double>(Clock::now() - lastOutput).count() > silenceSeconds) {
            TerminateProcess(process.hProcess, 0xDEAD);
            WaitForSingleObject(process.hProcess, INFINITE);
            outcome.timedOut = true;
            break;
        }
    }
    collector.flush();
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(outRead);
    CloseHandle(errRead);
    if (!outcome.timedOut) {
        if (code >= 0xC0000000u || code == 0x80000003u) {
            outcome.crashed = true;
            char text[80];
            std::snprintf(text, sizeof text, "exception 0x%08lX (%s)", static_cast<unsigned long>(code),
                          exceptionName(code));
            outcome.crashText = text;
        } else {
            outcome.exitCode = static_cast<int>(code);
        }
    }
    return outcome;
}

#else

std::string selfPath(const std::string& argv0) {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length > 0) return std::string(path, static_cast<size_t>(length));
    return argv0;
}

void prepareChildProcess() {
    const rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
}

ChildOutcome runChild(const std::string& program, const std::vector<std::string>& args, double silenceSeconds,
                      const std::function<void(const std::string& line)>& onLine) {
    ChildOutcome outcome;
    Collector collector{onLine, {}, outcome.errorOutput};
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) {
        outcome.startError = std::string("cannot make a pipe: ") + std::strerror(errno);
        return outcome;
    }
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        outcome.startError = std::string("cannot make a pipe: ") + std::strerror(errno);
        close(outPipe[0]);
        close(outPipe[1]);
        return outcome;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (spawned != 0) {
        outcome.startError = "cannot start " + program + ": " + std::strerror(spawned);
        close(outPipe[0]);
        close(errPipe[0]);
        return outcome;
    }
    outcome.started = true;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    bool open[2] = {true, true};
    auto lastOutput = Clock::now();
    while (open[0] || open[1]) {
        const double silent = std::chrono::duration<double>(Clock::now() - lastOutput).count();
        if (silent > silenceSeconds) {
            kill(pid, SIGKILL);
            outcome.timedOut = true;
            break;
        }
        const int waitMs = static_cast<int>((silenceSeconds - silent) * 1000.0) + 1;
        for (int i = 0; i < 2; ++i) fds[i].fd = open[i] ? (i ? errPipe[0] : outPipe[0]) : -1;
        const int ready = poll(fds, 2, waitMs);
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (!open[i] || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[4096];
            const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got <= 0) {
                open[i] = false;
                continue;
            }
            if (i == 0) {
                collector.out(buffer, static_cast<size_t>(got));
                lastOutput = Clock::now();
            } else {
                collector.err(buffer, static_cast<size_t>(got));
            }
        }
    }
    collector.flush();
    close(outPipe[0]);
    close(errPipe[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (outcome.timedOut) return outcome;
    if (WIFSIGNALED(status)) {
        outcome.crashed = true;
        const int signal = WTERMSIG(status);
        outcome.crashText = "signal " + std::to_string(signal) + " (" + signalName(signal) + ")";
    } else if (WIFEXITED(status)) {
        outcome.exitCode = WEXITSTATUS(status);
    }
    return outcome;
}

#endif

}  // namespace plughost::validate
