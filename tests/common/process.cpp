#include "common/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <utility>

#include "common/loopback.h"

// The arguments are made before the fork: a child of a threaded process
// should not allocate.
ChildProcess::ChildProcess(const std::vector<std::string> &argv, const std::string &cwd)
{
    std::vector<char *> args;
    for (const std::string &arg : argv) args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    start([&](int in, int out) {
        if ((cwd.empty() || chdir(cwd.c_str()) == 0) && dup2(in, 0) == 0 && dup2(out, 1) == 1)
            execv(args[0], args.data());
    });
}

ChildProcess::ChildProcess(const std::function<void(int in_fd, int out_fd)> &body) { start(body); }

void ChildProcess::start(const std::function<void(int in_fd, int out_fd)> &body)
{
    signal(SIGPIPE, SIG_IGN);  // a child that has ended must not take the test along
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || (pid_ = fork()) < 0) {
        perror("ChildProcess");
        abort();
    }
    if (pid_ == 0) {
        body(in[0], out[1]);
        _exit(127);  // no destructors of the parent's objects, no test reports
    }
    close(in[0]);
    close(out[1]);
    in_fd_ = in[1];
    out_fd_ = out[0];
}

ChildProcess::~ChildProcess()
{
    close_input();
    wait(0);
    if (out_fd_ >= 0) close(out_fd_);
}

void ChildProcess::write(const std::string &text)
{
    if (in_fd_ >= 0) write_all(in_fd_, text);  // a child that has gone: its output tells the test
}

void ChildProcess::close_input()
{
    if (in_fd_ >= 0) close(in_fd_);
    in_fd_ = -1;
}

// Reads what arrives within the time; false at the end of the output (which
// polls as ready at once) or on time-out.
bool ChildProcess::fill(int timeout_ms)
{
    char chunk[4096];
    ssize_t n = out_fd_ >= 0 && fd_ready(out_fd_, timeout_ms) ? read(out_fd_, chunk, sizeof chunk) : 0;
    if (n > 0) buffer_.append(chunk, static_cast<size_t>(n));
    return n > 0;
}

std::string ChildProcess::read_reply(int timeout_ms)
{
    std::string reply;
    for (size_t end;;) {
        while ((end = buffer_.find('\n')) == std::string::npos)
            if (!fill(timeout_ms)) return reply + std::exchange(buffer_, std::string());
        std::string line = buffer_.substr(0, end + 1);
        buffer_.erase(0, end + 1);
        reply += line;
        if (line.rfind("+success", 0) == 0 || line.rfind("-failure", 0) == 0) return reply;
    }
}

std::string ChildProcess::read_all(int timeout_ms)
{
    while (fill(timeout_ms)) {}
    return std::exchange(buffer_, std::string());
}

int ChildProcess::wait(int timeout_ms) { return wait_for_exit(std::exchange(pid_, -1), timeout_ms); }

int wait_for_exit(pid_t pid, int timeout_ms)
{
    int status = 0;
    pid_t done = 0;
    for (int waited = 0; pid > 0 && (done = waitpid(pid, &status, WNOHANG)) == 0 && waited < timeout_ms; waited += 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (pid > 0 && done != pid && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
    return done == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ProcessResult run_process(const std::vector<std::string> &argv, const std::string &cwd, const std::string &input,
                          int timeout_ms)
{
    ChildProcess child(argv, cwd);
    // Written beside the reading, so that neither pipe can fill up and stall.
    std::thread writer([&child, &input] {
        child.write(input);
        child.close_input();
    });
    ProcessResult result{child.read_all(timeout_ms), 0};
    writer.join();
    result.status = child.wait(timeout_ms);
    return result;
}

long process_status_kb(pid_t pid, const std::string &field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    long value = -1;
    while (status >> key && key != field + ":") status.ignore(1 << 20, '\n');
    status >> value;
    return value;
}

int process_open_fds(pid_t pid)
{
    std::error_code error;
    std::filesystem::directory_iterator fds("/proc/" + std::to_string(pid) + "/fd", error);
    return error ? -1 : static_cast<int>(std::distance(fds, std::filesystem::directory_iterator()));
}

NoSpareDescriptors::NoSpareDescriptors()
{
    getrlimit(RLIMIT_NOFILE, &saved_);
    int lowest = dup(0);
    close(lowest);
    rlimit none = {rlim_t(lowest), saved_.rlim_max};
    setrlimit(RLIMIT_NOFILE, &none);
}

NoSpareDescriptors::~NoSpareDescriptors() { setrlimit(RLIMIT_NOFILE, &saved_); }
