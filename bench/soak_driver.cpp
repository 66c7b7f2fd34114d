// Soak driver for extern_book (built with the benchmarks and run by
// scripts/soak.sh, not by CI).
//
//     soak_driver BINARY DIR COMMANDS PEOPLE
//
// Starts BINARY in DIR (which holds extern_book.ini) and plays one session
// of COMMANDS mixed SEARCH and GET commands, one at a time as a host would,
// against a directory of PEOPLE entries "cn=Person N" (surname "Group
// N%(PEOPLE/5)", so five to a group; mail "personN@example.com"). Reports
// commands per second and the service's peak RSS after the first 1,000
// commands and at the end; exits 1 when a reply is not the expected success
// or the peak grew by over 10%.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "common/process.h"

namespace {

const int EARLY = 1000;
const int WAIT_MS = 60000;

// The last line of a reply (its status line) without its line end; the
// number of lines before it in *lines.
std::string status_of(std::string reply, long *lines)
{
    if (!reply.empty() && reply.back() == '\n') reply.pop_back();
    *lines = std::count(reply.begin(), reply.end(), '\n');
    return reply.substr(reply.rfind('\n') + 1);  // npos + 1: from the start
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
    ChildProcess service({argv[1]}, argv[2]);
    long lines;
    std::string greeting = status_of(service.read_reply(WAIT_MS), &lines);
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
            command = "SEARCH OR 3-7 surname=Group " + std::to_string(n % groups) + ",email=person" +
                      std::to_string(n) + "@example.com";
            break;
        default:
            command = "GET " + coded_person(n);
            expected = "+success '" + coded_person(n) + "' located.";
            break;
        }
        service.write(command + "\n");
        std::string status = status_of(service.read_reply(WAIT_MS), &lines);
        entries += lines;
        bool ok = expected.empty() ? status.rfind("+success", 0) == 0 && status.find(" located.") != std::string::npos
                                   : status == expected;
        if (!ok && failures++ < 10) fprintf(stderr, "soak_driver: %s -> %s\n", command.c_str(), status.c_str());
        if (i == EARLY) {
            early_hwm = process_status_kb(service.pid(), "VmHWM");
            early_rss = process_status_kb(service.pid(), "VmRSS");
        }
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    long end_hwm = process_status_kb(service.pid(), "VmHWM");
    long end_rss = process_status_kb(service.pid(), "VmRSS");
    service.write("EXIT\n");
    std::string bye = status_of(service.read_reply(WAIT_MS), &lines);
    int status = service.wait(WAIT_MS);

    double growth = early_hwm > 0 ? 100.0 * (end_hwm - early_hwm) / early_hwm : 0;
    printf("commands:            %d (%d failed), %ld reply lines\n", commands, failures, entries);
    printf("time:                %.1f s, %.0f commands per second\n", seconds, commands / seconds);
    printf("peak RSS after %d: %ld kB (RSS %ld kB)\n", EARLY, early_hwm, early_rss);
    printf("peak RSS at the end: %ld kB (RSS %ld kB), growth %.1f%%\n", end_hwm, end_rss, growth);
    printf("exit:                %s, status %d\n", bye.c_str(), status);
    return failures == 0 && growth <= 10.0 && bye == "+success bye." ? 0 : 1;
}
