// A child process that runs one piece of work and hands back its octets
// through a pipe, waited for until a deadline.
#include "support/child.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <new>

#include "support/nlib.h"

namespace {

bool write_all(int fd, const std::string &bytes)
{
    for (size_t done = 0; done < bytes.size();) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

// Everything fd gives until its end, read before deadline (monotonic_us);
// false when the time runs out first or the read fails.
bool read_to_end(int fd, std::string *out, int64_t deadline)
{
    char chunk[4096];
    for (;;) {
        int64_t left = deadline - monotonic_us();
        pollfd ready{fd, POLLIN, 0};
        if (left <= 0)
            return false;
        int polled = poll(&ready, 1, int((left + 999) / 1000));
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0)
            return false;
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0;
        out->append(chunk, size_t(n));
    }
}

}  // namespace

int child_run(int timeout_ms, const std::function<std::string()> &work, std::string *out)
{
    if (!out)
        return 0;
    out->clear();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    const pid_t parent = getpid();
    pid_t child = fork();
    if (child < 0) {
        int cause = errno;
        close(fds[0]);
        close(fds[1]);
        errno = cause;
        return -1;
    }
    if (child == 0) {
        // A parent killed before the deadline cannot kill the child: it goes
        // with its parent, so that a look-up that hangs does not keep the
        // host's pipes (and the directory's connection) open for ever.
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent)
            _exit(1);
        close(fds[0]);
        bool sent = false;
        try {
            sent = write_all(fds[1], work());
        } catch (...) {
            // Nothing handed over: the parent sees a failure.
        }
        _exit(sent ? 0 : 1);
    }
    close(fds[1]);
    bool whole = false;
    try {
        whole = read_to_end(fds[0], out, monotonic_us() + int64_t(timeout_ms) * 1000);
    } catch (const std::bad_alloc &) {
        // Memory ran out holding the answer: the child still has to go.
    }
    close(fds[0]);
    if (!whole)
        kill(child, SIGKILL);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR)
        continue;
    if (whole && WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return 1;
    out->clear();
    return 0;
}
