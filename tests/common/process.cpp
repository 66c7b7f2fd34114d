#include "common/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <utility>

#include <gtest/gtest.h>

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point after(int ms) { return Clock::now() + std::chrono::milliseconds(ms); }

int remaining_ms(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return std::max(0, static_cast<int>(left.count()));
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string> &argv, const std::string &cwd)
{
    signal(SIGPIPE, SIG_IGN);  // a child that has ended must not take the test along
    int in[2] = {-1, -1}, out[2] = {-1, -1};
    if (argv.empty() || pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
        for (int fd : in)
            if (fd >= 0)
                close(fd);
        ADD_FAILURE() << "cannot make pipes";
        return;
    }
    std::vector<char *> args;
    for (const std::string &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    if ((pid_ = fork()) == 0) {
        if ((cwd.empty() || chdir(cwd.c_str()) == 0) && dup2(in[0], 0) == 0 && dup2(out[1], 1) == 1)
            execv(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    in_fd_ = in[1];
    out_fd_ = out[0];
    if (pid_ < 0) {
        ADD_FAILURE() << "fork failed";
        close_input();
    }
}

ChildProcess::~ChildProcess()
{
    close_input();
    if (pid_ > 0 && kill(pid_, SIGKILL) == 0)
        waitpid(pid_, nullptr, 0);
    if (out_fd_ >= 0)
        close(out_fd_);
}

bool ChildProcess::write(const std::string &text)
{
    for (size_t done = 0; in_fd_ >= 0 && done < text.size();) {
        ssize_t n = ::write(in_fd_, text.data() + done, text.size() - done);
        if (n <= 0 && errno != EINTR)
            return false;
        done += static_cast<size_t>(std::max<ssize_t>(n, 0));
    }
    return in_fd_ >= 0;
}

void ChildProcess::close_input()
{
    if (in_fd_ >= 0)
        close(in_fd_);
    in_fd_ = -1;
}

bool ChildProcess::fill(int timeout_ms)
{
    pollfd pfd{out_fd_, POLLIN, 0};
    char chunk[4096];
    ssize_t n = out_fd_ >= 0 && poll(&pfd, 1, timeout_ms) > 0 ? read(out_fd_, chunk, sizeof chunk) : -2;
    if (n > 0)
        buffer_.append(chunk, static_cast<size_t>(n));
    else if (n != -2) {  // the end of the output
        close(out_fd_);
        out_fd_ = -1;
    }
    return n > 0;
}

std::string ChildProcess::read_reply(int timeout_ms)
{
    auto deadline = after(timeout_ms);
    std::string reply;
    for (;;) {
        size_t end;
        while ((end = buffer_.find('\n')) == std::string::npos)
            if (!fill(remaining_ms(deadline)))
                return reply + read_all(0);
        std::string line = buffer_.substr(0, end + 1);
        buffer_.erase(0, end + 1);
        reply += line;
        if (line.rfind("+success", 0) == 0 || line.rfind("-failure", 0) == 0)
            return reply;
    }
}

std::string ChildProcess::read_all(int timeout_ms)
{
    auto deadline = after(timeout_ms);
    while (fill(remaining_ms(deadline))) {
    }
    return std::exchange(buffer_, std::string());
}

int ChildProcess::wait(int timeout_ms)
{
    auto deadline = after(timeout_ms);
    int status = 0;
    pid_t done = 0;
    while (pid_ > 0 && (done = waitpid(pid_, &status, WNOHANG)) == 0 && remaining_ms(deadline) > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (pid_ > 0 && done != pid_ && kill(pid_, SIGKILL) == 0)
        waitpid(pid_, nullptr, 0);
    if (pid_ > 0)
        status_ = done == pid_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
    return status_;
}

ProcessResult run_process(const std::vector<std::string> &argv, const std::string &cwd,
                          const std::string &input, int timeout_ms)
{
    ChildProcess child(argv, cwd);
    // Written beside the reading, so that neither pipe can fill up and stall.
    std::thread writer([&child, &input] {
        child.write(input);
        child.close_input();
    });
    ProcessResult result;
    result.out = child.read_all(timeout_ms);
    writer.join();
    result.status = child.wait(timeout_ms);
    return result;
}
