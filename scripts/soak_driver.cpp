// Soak driver for extern_book (built and run by scripts/soak.sh, not by CI).
//
//     soak_driver BINARY DIR COMMANDS PEOPLE
//
// Starts BINARY in DIR (which holds extern_book.ini) and plays one session
// of COMMANDS mixed SEARCH and GET commands, one at a time as a host would,
// against a directory of PEOPLE entries "cn=Person N" (surname "Group
// N%(PEOPLE/5)", so five to a group; mail "personN@example.com"). Reports commands per second and the
// service's peak RSS after the first 1,000 commands and at the end; exits 1
// when a reply is not the expected success or the peak grew by over 10%.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

namespace {

const int EARLY = 1000;

struct Service {
    pid_t pid = -1;
    FILE *in = nullptr;   // its standard input
    FILE *out = nullptr;  // its standard output
};

bool start(Service &s, const char *binary, const char *dir)
{
    int to[2], from[2];
    if (pipe(to) != 0 || pipe(from) != 0)
        return false;
    s.pid = fork();
    if (s.pid == 0) {
        if (chdir(dir) != 0)
            _exit(127);
        dup2(to[0], 0);
        dup2(from[1], 1);
        close(to[1]);
        close(from[0]);
        execl(binary, binary, static_cast<char *>(nullptr));
        _exit(127);
    }
    close(to[0]);
    close(from[1]);
    s.in = fdopen(to[1], "w");
    s.out = fdopen(from[0], "r");
    return s.pid > 0 && s.in && s.out;
}

// The reply's lines up to its status line; the status line is returned.
std::string reply(Service &s, long *lines)
{
    std::string line;
    *lines = 0;
    int c;
    while ((c = fgetc(s.out)) != EOF) {
        if (c != '\n') {
            line += static_cast<char>(c);
            continue;
        }
        if (line.rfind("+success", 0) == 0 || line.rfind("-failure", 0) == 0)
            return line;
        ++*lines;
        line.clear();
    }
    return "(end of output) " + line;
}

// A field of /proc/PID/status in kB ("VmHWM", "VmRSS").
long status_kb(pid_t pid, const std::string &field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        long value;
        if (key == field + ":" && status >> value)
            return value;
    }
    return -1;
}

std::string coded_person(int n)
{
    return "cn!3DPerson!20" + std::to_string(n) + "!2Cou!3DPeople!2Cdc!3Dexample!2Cdc!3Dcom";
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: soak_driver BINARY DIR COMMANDS PEOPLE\n");
        return 2;
    }
    int commands = atoi(argv[3]);
    int people = atoi(argv[4]);
    int groups = people / 5 > 0 ? people / 5 : 1;
    Service s;
    if (!start(s, argv[1], argv[2])) {
        perror("soak_driver: cannot start the service");
        return 2;
    }
    long lines;
    std::string greeting = reply(s, &lines);
    if (greeting != "+success LDAP External Address Book") {
        fprintf(stderr, "soak_driver: no greeting: %s\n", greeting.c_str());
        return 2;
    }
    std::mt19937 random(7);
    int failures = 0;
    long early_hwm = 0, early_rss = 0, entries = 0;
    auto begin = std::chrono::steady_clock::now();
    for (int i = 1; i <= commands; i++) {
        int n = static_cast<int>(random() % static_cast<unsigned>(people));
        std::string command, expected;
        switch (random() % 4) {
        case 0:  // a whole group
            command = "SEARCH AND 1-0 surname=Group " + std::to_string(n % groups);
            break;
        case 1:  // a page of a group, by two conditions
            command = "SEARCH OR 3-7 surname=Group " + std::to_string(n % groups) +
                      ",email=person" + std::to_string(n) + "@example.com";
            break;
        default:
            command = "GET " + coded_person(n);
            expected = "+success '" + coded_person(n) + "' located.";
            break;
        }
        fprintf(s.in, "%s\n", command.c_str());
        fflush(s.in);
        std::string status = reply(s, &lines);
        entries += lines;
        bool ok = expected.empty() ? status.rfind("+success", 0) == 0 &&
                                         status.find(" located.") != std::string::npos
                                   : status == expected;
        if (!ok && failures++ < 10)
            fprintf(stderr, "soak_driver: %s -> %s\n", command.c_str(), status.c_str());
        if (i == EARLY) {
            early_hwm = status_kb(s.pid, "VmHWM");
            early_rss = status_kb(s.pid, "VmRSS");
        }
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    long end_hwm = status_kb(s.pid, "VmHWM");
    long end_rss = status_kb(s.pid, "VmRSS");
    fprintf(s.in, "EXIT\n");
    fflush(s.in);
    std::string bye = reply(s, &lines);
    int status = 0;
    waitpid(s.pid, &status, 0);

    double growth = early_hwm > 0 ? 100.0 * (end_hwm - early_hwm) / early_hwm : 0;
    printf("commands:            %d (%d failed), %ld reply lines\n", commands, failures, entries);
    printf("time:                %.1f s, %.0f commands per second\n", seconds, commands / seconds);
    printf("peak RSS after %d: %ld kB (RSS %ld kB)\n", EARLY, early_hwm, early_rss);
    printf("peak RSS at the end: %ld kB (RSS %ld kB), growth %.1f%%\n", end_hwm, end_rss, growth);
    printf("exit:                %s, status %d\n", bye.c_str(),
           WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    return failures == 0 && growth <= 10.0 && bye == "+success bye." ? 0 : 1;
}
