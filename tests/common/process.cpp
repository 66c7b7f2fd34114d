#include "common/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool is_status_line(const std::string &line)
{
    return line.rfind("+success", 0) == 0 || line.rfind("-failure", 0) == 0;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string> &argv, const std::string &cwd)
{
    // A child that has ended must not take the test process down with it.
    signal(SIGPIPE, SIG_IGN);
    int to_child[2], from_child[2];
    if (argv.empty() || pipe2(to_child, O_CLOEXEC) != 0)
        ADD_FAILURE() << "cannot start a child process";
    else if (pipe2(from_child, O_CLOEXEC) != 0) {
        close(to_child[0]);
        close(to_child[1]);
        ADD_FAILURE() << "cannot start a child process";
    } else {
        std::vector<char *> args;
        for (const std::string &arg : argv)
            args.push_back(const_cast<char *>(arg.c_str()));
        args.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            if ((!cwd.empty() && chdir(cwd.c_str()) != 0) || dup2(to_child[0], 0) < 0 ||
                dup2(from_child[1], 1) < 0)
                _exit(127);
            execv(args[0], args.data());
            _exit(127);
        }
        close(to_child[0]);
        close(from_child[1]);
        in_fd_ = to_child[1];
        out_fd_ = from_child[0];
        if (pid_ < 0) {
            ADD_FAILURE() << "fork failed";
            close_input();
        }
    }
}

ChildProcess::~ChildProcess()
{
    close_input();
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_fd_ >= 0)
        close(out_fd_);
}

bool ChildProcess::write(const std::string &text)
{
    size_t done = 0;
    while (in_fd_ >= 0 && done < text.size()) {
        ssize_t n = ::write(in_fd_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
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
    if (out_fd_ < 0)
        return false;
    pollfd pfd{out_fd_, POLLIN, 0};
    int ready = poll(&pfd, 1, timeout_ms);
    if (ready <= 0)
        return false;
    char chunk[4096];
    ssize_t n = read(out_fd_, chunk, sizeof chunk);
    if (n <= 0) {
        close(out_fd_);
        out_fd_ = -1;
        return false;
    }
    buffer_.append(chunk, static_cast<size_t>(n));
    return true;
}

bool ChildProcess::read_line(std::string &line, int timeout_ms)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    size_t end;
    while ((end = buffer_.find('\n')) == std::string::npos)
        if (!fill(remaining_ms(deadline)))
            return false;
    line = buffer_.substr(0, end);
    buffer_.erase(0, end + 1);
    return true;
}

std::string ChildProcess::read_reply(int timeout_ms)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    std::string reply, line;
    while (read_line(line, remaining_ms(deadline))) {
        reply += line + "\n";
        if (is_status_line(line))
            return reply;
    }
    reply += buffer_;
    buffer_.clear();
    return reply;
}

std::string ChildProcess::read_all(int timeout_ms)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (fill(remaining_ms(deadline))) {
    }
    std::string all;
    all.swap(buffer_);
    return all;
}

int ChildProcess::wait(int timeout_ms)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (pid_ > 0) {
        int status = 0;
        pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            pid_ = -1;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        } else if (done < 0 || remaining_ms(deadline) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
            status_ = -1;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
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
