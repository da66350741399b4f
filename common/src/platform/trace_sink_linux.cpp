#include <errno.h>
#include <fcntl.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "trace_sink.h"

namespace cardtrace {
namespace sink {
namespace {

// Kept open for the process's life: one descriptor, closed by the system at exit.
int traceFile = -1;

}  // namespace

bool open() {
    const char* path = std::getenv("CARD_TRACE_FILE");
    if (path == nullptr || *path == '\0') return false;
    // O_APPEND: every write lands whole at the file's end, also with other processes writing.
    traceFile = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
    return traceFile >= 0;
}

void append(const char* data, std::size_t size) {
    if (traceFile < 0) return;
    // One write of the whole line; a short write (disk full) loses the rest of that line only.
    while (::write(traceFile, data, size) < 0 && errno == EINTR) {
    }
}

long long processId() {
    return static_cast<long long>(getpid());
}

std::string programName() {
    return program_invocation_short_name;
}

std::string osVersion() {
    utsname name{};
    if (uname(&name) != 0) return "";
    return std::string(name.sysname) + ' ' + name.release + ' ' + name.machine;
}

std::string utcNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm parts{};
    gmtime_r(&now.tv_sec, &parts);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<int>(now.tv_nsec / 1000000));
    return text;
}

}  // namespace sink
}  // namespace cardtrace
