/* Runs a command and writes what it cost to a file, as one line: wall
 * seconds, CPU seconds (user + system, from the kernel's accounting at
 * microsecond resolution) and peak RSS in kB. The command keeps this
 * program's standard input and output; its exit status is passed on.
 *
 *   runstat OUTPUT COMMAND [ARGUMENT...]
 */
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double seconds(struct timeval t) { return (double)t.tv_sec + (double)t.tv_usec / 1e6; }

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: runstat OUTPUT COMMAND [ARGUMENT...]\n");
        return 2;
    }
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        perror(argv[2]);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) {
        perror("runstat");
        return 2;
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    FILE *out = fopen(argv[1], "w");
    if (!out) {
        perror(argv[1]);
        return 2;
    }
    fprintf(out, "%.6f %.6f %ld\n",
            (double)(end.tv_sec - start.tv_sec) + (double)(end.tv_nsec - start.tv_nsec) / 1e9,
            seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_maxrss);
    fclose(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
