/* Runs a set of commands in interleaved rounds (A,B,C,A,B,C,...) and reports, per command, the
 * wall time of each run (spawn to reap) and the child's peak resident set size from wait4().
 *
 *   harness [--rounds N] [--warmup W] [--samples FILE] CASEFILE
 *
 * CASEFILE: one command per line, fields separated by TAB: the case name, then optional
 * "@NAME=VALUE" fields that set the child's environment, then the program path and its
 * arguments. Lines starting with '#' and empty lines are skipped.
 *
 * Output, one line per case (fields separated by blanks, times in microseconds, memory in KiB):
 *   case NAME runs N fail F wall_median M wall_q1 Q1 wall_q3 Q3 wall_min MIN rss_median R
 *        rss_max X cpu_median C
 * and, with --samples, every run as "round,case,wall_us,cpu_us,maxrss_kib,status" in FILE.
 * CPU time is the child's user plus system time: unlike wall time it does not count waiting
 * for a core, so it stays comparable when other work shares the machine (the waiting for
 * pcscd and the card is not in it either).
 *
 * A run that does not exit with status 0 counts as a failure; its figures still go into the
 * samples file but not into the medians; exit status 127 (exec failed) stops the harness.
 * Warm-up rounds are run and dropped. The children's standard input, output and error are
 * /dev/null.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

enum { kMaxCases = 16, kMaxFields = 64, kMaxLine = 8192, kMaxRounds = 10000 };

/* What one run measures: wall time and CPU time in microseconds, peak RSS in KiB. */
enum { kWall, kCpu, kRss, kMeasures };

struct Case {
    char name[64];
    char* argv[kMaxFields + 1];
    char* settings[kMaxFields + 1]; /* "NAME=VALUE", put into the child's environment */
    long* samples[kMeasures];       /* of the successful runs */
    int runs;
    int failures;
};

static void die(const char* what) {
    fprintf(stderr, "harness: %s\n", what);
    exit(2);
}

static int loadCases(const char* path, struct Case* cases) {
    FILE* f = fopen(path, "r");
    if (!f) die("cannot read the case file");
    char line[kMaxLine];
    int count = 0;
    while (fgets(line, sizeof line, f)) {
        size_t len = strlen(line);
        if (len == sizeof line - 1 && line[len - 1] != '\n') die("case line too long");
        while (len && (line[len - 1] == '\n' || line[len - 1] == '\r')) line[--len] = '\0';
        if (len == 0 || line[0] == '#') continue;
        if (count == kMaxCases) die("too many cases");
        struct Case* c = &cases[count];
        memset(c, 0, sizeof *c);
        int nset = 0, nargs = 0, field = 0;
        for (char *save = NULL, *tok = strtok_r(line, "\t", &save); tok;
             tok = strtok_r(NULL, "\t", &save), ++field) {
            char* copy = strdup(tok);
            if (!copy) die("out of memory");
            if (field == 0) {
                if (strlen(copy) >= sizeof c->name) die("case name too long");
                strcpy(c->name, copy);
                free(copy);
            } else if (copy[0] == '@' && nargs == 0) {
                if (nset == kMaxFields || !strchr(copy, '=')) die("bad environment field");
                c->settings[nset++] = copy + 1;
            } else {
                if (nargs == kMaxFields) die("too many arguments");
                c->argv[nargs++] = copy;
            }
        }
        if (nargs == 0) die("a case without a program");
        ++count;
    }
    fclose(f);
    if (count == 0) die("no cases");
    return count;
}

static long nowMicros(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000L + t.tv_nsec / 1000;
}

/* One run: fork, exec, reap with its resource usage. Returns the exit status (or 128+signal).
 * fork rather than a vfork-style spawn: a child that shares the harness's memory until exec
 * inherits the harness's whole resident size as its starting peak, which would hide the peak
 * of any program smaller than the harness. A forked child starts from the harness's few
 * private pages only. */
static int runOnce(const struct Case* c, long measured[kMeasures]) {
    long start = nowMicros();
    pid_t pid = fork();
    if (pid < 0) die("fork failed");
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        if (null < 0 || dup2(null, 0) < 0 || dup2(null, 1) < 0 || dup2(null, 2) < 0) _exit(126);
        for (char* const* s = c->settings; *s; ++s) putenv(*s);
        execv(c->argv[0], c->argv);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    while (wait4(pid, &status, 0, &usage) < 0)
        if (errno != EINTR) die("wait4 failed");
    measured[kWall] = nowMicros() - start;
    measured[kCpu] = usage.ru_utime.tv_sec * 1000000L + usage.ru_utime.tv_usec +
                     usage.ru_stime.tv_sec * 1000000L + usage.ru_stime.tv_usec;
    measured[kRss] = usage.ru_maxrss;
    if (WIFEXITED(status)) {
        if (WEXITSTATUS(status) == 127) {
            fprintf(stderr, "harness: cannot start %s\n", c->argv[0]);
            exit(2);
        }
        return WEXITSTATUS(status);
    }
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

static int compareLong(const void* a, const void* b) {
    long x = *(const long*)a, y = *(const long*)b;
    return (x > y) - (x < y);
}

/* Quantile of sorted values by linear interpolation between the closest ranks. */
static long quantile(const long* sorted, int n, double q) {
    if (n == 0) return -1;
    double pos = q * (n - 1);
    int lo = (int)pos;
    int hi = lo + 1 < n ? lo + 1 : lo;
    double frac = pos - lo;
    return (long)(sorted[lo] + (sorted[hi] - sorted[lo]) * frac + 0.5);
}

int main(int argc, char** argv) {
    int rounds = 30, warmup = 3;
    const char* samplesPath = NULL;
    const char* casePath = NULL;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
            rounds = atoi(argv[++i]);
        } else if (strcmp(argv[i], "--warmup") == 0 && i + 1 < argc) {
            warmup = atoi(argv[++i]);
        } else if (strcmp(argv[i], "--samples") == 0 && i + 1 < argc) {
            samplesPath = argv[++i];
        } else if (!casePath && argv[i][0] != '-') {
            casePath = argv[i];
        } else {
            die("usage: harness [--rounds N] [--warmup W] [--samples FILE] CASEFILE");
        }
    }
    if (!casePath || rounds < 1 || rounds > kMaxRounds || warmup < 0) die("bad arguments");

    static struct Case cases[kMaxCases];
    int count = loadCases(casePath, cases);
    for (int i = 0; i < count; ++i)
        for (int m = 0; m < kMeasures; ++m)
            if (!(cases[i].samples[m] = calloc((size_t)rounds, sizeof(long)))) die("out of memory");
    FILE* samples = NULL;
    if (samplesPath) {
        samples = fopen(samplesPath, "w");
        if (!samples) die("cannot write the samples file");
        fprintf(samples, "round,case,wall_us,cpu_us,maxrss_kib,status\n");
    }

    for (int round = -warmup; round < rounds; ++round) {
        for (int i = 0; i < count; ++i) {
            struct Case* c = &cases[i];
            long got[kMeasures];
            int status = runOnce(c, got);
            if (round < 0) continue;
            if (samples)
                fprintf(samples, "%d,%s,%ld,%ld,%ld,%d\n", round, c->name, got[kWall], got[kCpu],
                        got[kRss], status);
            if (status != 0) {
                ++c->failures;
                continue;
            }
            for (int m = 0; m < kMeasures; ++m) c->samples[m][c->runs] = got[m];
            ++c->runs;
        }
    }
    if (samples) fclose(samples);

    for (int i = 0; i < count; ++i) {
        struct Case* c = &cases[i];
        for (int m = 0; m < kMeasures; ++m)
            qsort(c->samples[m], (size_t)c->runs, sizeof(long), compareLong);
        const long *wall = c->samples[kWall], *rss = c->samples[kRss];
        printf(
            "case %s runs %d fail %d wall_median %ld wall_q1 %ld wall_q3 %ld wall_min %ld "
            "rss_median %ld rss_max %ld cpu_median %ld\n",
            c->name, c->runs, c->failures, quantile(wall, c->runs, 0.5),
            quantile(wall, c->runs, 0.25), quantile(wall, c->runs, 0.75), c->runs ? wall[0] : -1,
            quantile(rss, c->runs, 0.5), c->runs ? rss[c->runs - 1] : -1,
            quantile(c->samples[kCpu], c->runs, 0.5));
    }
    struct rusage self;
    getrusage(RUSAGE_SELF, &self);
    printf("harness_rss %ld\n", self.ru_maxrss);
    return 0;
}
