/* Runs a program and writes its peak resident set (kB) to a file:
 *     peak_rss_run RESULT_FILE PROGRAM [ARGS...]
 * The kernel folds the address space a process had before exec into its peak, so a program
 * started straight from a large test process reports at least the test process's size. Started
 * from this small process it reports its own. Standard streams are passed through; the exit
 * status is the program's (128 + signal if it died of one). */
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: peak_rss_run RESULT_FILE PROGRAM [ARGS...]\n");
        return 125;
    }
    pid_t pid = fork();
    if (pid < 0) return 126;
    if (pid == 0) {
        execv(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    while (wait4(pid, &status, 0, &usage) < 0) {
    }
    FILE* out = fopen(argv[1], "w");
    if (out) {
        fprintf(out, "%ld\n", usage.ru_maxrss);
        fclose(out);
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}
