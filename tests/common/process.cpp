#include "common/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <utility>

ChildProcess::ChildProcess(const std::vector<std::string> &argv, const std::string &cwd)
{
    signal(SIGPIPE, SIG_IGN);  // a child that has ended must not take the test along
    std::vector<char *> args;
    for (const std::string &arg : argv) args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || (pid_ = fork()) < 0) {
        perror("ChildProcess");
        abort();
    }
    if (pid_ == 0) {
        if ((cwd.empty() || chdir(cwd.c_str()) == 0) && dup2(in[0], 0) == 0 && dup2(out[1], 1) == 1)
            execv(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    in_fd_ = in[1];
    out_fd_ = out[0];
}

ChildProcess::~ChildProcess()
{
    close_input();
    if (pid_ > 0 && kill(pid_, SIGKILL) == 0) waitpid(pid_, nullptr, 0);
    if (out_fd_ >= 0) close(out_fd_);
}

void ChildProcess::write(const std::string &text)
{
    for (size_t done = 0; in_fd_ >= 0 && done < text.size();) {
        ssize_t n = ::write(in_fd_, text.data() + done, text.size() - done);
        if (n <= 0) return;  // the child has gone; its output tells the test
        done += static_cast<size_t>(n);
    }
}

void ChildProcess::close_input()
{
    if (in_fd_ >= 0) close(in_fd_);
    in_fd_ = -1;
}

// Reads what arrives within the time; false at the end of the output or on time-out.
bool ChildProcess::fill(int timeout_ms)
{
    pollfd pfd{out_fd_, POLLIN, 0};
    char chunk[4096];
    if (out_fd_ < 0 || poll(&pfd, 1, timeout_ms) <= 0) return false;
    ssize_t n = read(out_fd_, chunk, sizeof chunk);
    if (n <= 0) {
        close(out_fd_);
        out_fd_ = -1;
        return false;
    }
    buffer_.append(chunk, static_cast<size_t>(n));
    return true;
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

int ChildProcess::wait(int timeout_ms)
{
    int status = 0;
    pid_t done = 0;
    for (int waited = 0; pid_ > 0 && (done = waitpid(pid_, &status, WNOHANG)) == 0 && waited < timeout_ms; waited += 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (pid_ > 0 && done != pid_ && kill(pid_, SIGKILL) == 0) waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return done > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
    DIR *fds = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    int count = -1;
    if (fds)
        for (count = 0; dirent *entry = readdir(fds);) count += entry->d_name[0] != '.';
    if (fds) closedir(fds);
    return count;
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
