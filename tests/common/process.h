// A child process driven over pipes on its standard input and output (its
// standard error is inherited). Every read and wait is bounded by a time-out.
// (A read's time-out counts from the last output received.)
#pragma once
#include <sys/resource.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

class ChildProcess {
  public:
    // Starts argv[0] (a path) in directory cwd (the current one when empty).
    explicit ChildProcess(const std::vector<std::string> &argv, const std::string &cwd = "");
    // Runs body in a forked child instead, given its ends of the pipes (not
    // its standard input and output); the child ends when body returns.
    explicit ChildProcess(const std::function<void(int in_fd, int out_fd)> &body);
    ~ChildProcess();  // SIGKILL and reap when still running
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    pid_t pid() const { return pid_; }
    void write(const std::string &text);
    void close_input();
    // The lines up to and including the next "+success" or "-failure" line;
    // what came before the output ended or the time ran out otherwise.
    std::string read_reply(int timeout_ms = 5000);
    std::string read_all(int timeout_ms);  // until the output ends
    // The exit status; -1 when ended by a signal or killed for not ending in time.
    int wait(int timeout_ms = 5000);

  private:
    void start(const std::function<void(int in_fd, int out_fd)> &body);
    bool fill(int timeout_ms);

    pid_t pid_ = -1;
    int in_fd_ = -1, out_fd_ = -1;
    std::string buffer_;
};

// Waits up to timeout_ms for the child pid to end, then kills it with
// SIGKILL; its exit status, or -1 as ChildProcess::wait. Nothing for pid <= 0.
int wait_for_exit(pid_t pid, int timeout_ms);

struct ProcessResult {
    std::string out;  // all of standard output
    int status;       // as ChildProcess::wait gives it
};

// Runs a program with input on its standard input (then closed).
ProcessResult run_process(const std::vector<std::string> &argv, const std::string &cwd, const std::string &input,
                          int timeout_ms = 10000);

// A figure in kB from /proc/PID/status ("VmHWM" the peak resident memory,
// "VmRSS" the current); -1 when it cannot be read.
long process_status_kb(pid_t pid, const std::string &field);
// The descriptors the process pid holds open; -1 when they cannot be listed.
int process_open_fds(pid_t pid);

// While it lives, this process can open no more descriptors: the soft
// RLIMIT_NOFILE is lowered to the lowest free one, and restored after.
class NoSpareDescriptors {
  public:
    NoSpareDescriptors();
    ~NoSpareDescriptors();
    NoSpareDescriptors(const NoSpareDescriptors &) = delete;
    NoSpareDescriptors &operator=(const NoSpareDescriptors &) = delete;

  private:
    rlimit saved_;
};
