// A child process driven over pipes on its standard input and output, for
// tests that talk to a program through its line protocol. Standard error is
// inherited. Every read and wait is bounded by a time-out.
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

class ChildProcess {
public:
    // Starts argv[0] with the arguments that follow, in directory cwd (the
    // current one when empty). Fails the current test when it cannot start.
    explicit ChildProcess(const std::vector<std::string> &argv, const std::string &cwd = "");
    // Kills the process (SIGKILL) and reaps it when it is still running.
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    pid_t pid() const { return pid_; }
    // Writes text to the child's standard input; false when the pipe is gone.
    bool write(const std::string &text);
    void close_input();
    // One output line without its line feed; false at the end of the output
    // or when no whole line came within timeout_ms.
    bool read_line(std::string &line, int timeout_ms = 5000);
    // The lines up to and including the next status line ("+success" or
    // "-failure"), each ended by a line feed; what came when the output
    // ended or the time ran out otherwise.
    std::string read_reply(int timeout_ms = 5000);
    // Everything until the output ends (or the time runs out).
    std::string read_all(int timeout_ms = 5000);
    // The exit status once the process has ended; -1 when it was ended by a
    // signal, or was killed because it did not end within timeout_ms.
    int wait(int timeout_ms = 5000);

private:
    // Reads more output into buffer_; false at end of output or time-out.
    bool fill(int timeout_ms);

    pid_t pid_ = -1;
    int in_fd_ = -1;
    int out_fd_ = -1;
    int status_ = -1;
    std::string buffer_;
};

struct ProcessResult {
    std::string out;  // all of standard output
    int status;       // as ChildProcess::wait gives it
};

// Runs a program with input on its standard input (then closed) and
// returns its whole output and exit status.
ProcessResult run_process(const std::vector<std::string> &argv, const std::string &cwd,
                          const std::string &input, int timeout_ms = 10000);
