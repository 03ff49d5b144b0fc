#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace morlen::test {

// Runs morlen-upssim as a child process for a test: starts it with the given arguments,
// waits for the "pty ..." line it prints, lets the test type console commands, and stops it
// when destroyed.
class UpsSimProcess {
public:
    // `environment` adds or replaces variables of the child's environment.
    explicit UpsSimProcess(std::vector<std::string> arguments,
                           std::map<std::string, std::string> environment = {},
                           std::chrono::milliseconds startTimeout = std::chrono::seconds(10));
    ~UpsSimProcess();
    UpsSimProcess(const UpsSimProcess&) = delete;
    UpsSimProcess& operator=(const UpsSimProcess&) = delete;

    // The path of the simulator's pseudo-terminal; empty when the start failed.
    const std::string& ptyPath() const { return ptyPath_; }
    bool started() const { return !ptyPath_.empty(); }
    // Why the start failed, with what the program printed.
    const std::string& error() const { return error_; }
    pid_t pid() const { return pid_; }

    // Types one console line and waits for the program's answer to it (its line starting
    // with "ok" or "error"). Returns that line, or an empty text on timeout.
    std::string command(const std::string& line,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Types one console line without waiting.
    void send(const std::string& line);
    // Sends a signal to the program.
    void signal(int sig);
    // Waits for the program to end by itself; returns its exit status, or -1 on timeout.
    int wait(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Ends the program ("quit", then signals if it does not go); returns its exit status.
    int stop();

    // The program's path, as the build put it.
    static std::string binary();

private:
    // One line from the program's standard output, or false on timeout / end.
    bool readLine(std::string& line, std::chrono::steady_clock::time_point deadline);

    pid_t pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
    std::string buffer_;
    std::string ptyPath_;
    std::string error_;
    int status_ = -1;
};

}  // namespace morlen::test
