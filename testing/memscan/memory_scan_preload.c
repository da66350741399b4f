/* Test-only, loaded into a program with LD_PRELOAD: when the process ends, after the program's
 * own destructors and exit handlers, looks for a marker in every writable mapping of the process
 * and writes what it found to a file.
 *
 *   MEMORY_SCAN_MARKER_HEX  the marker's bytes in hexadecimal
 *   MEMORY_SCAN_REPORT      the file to write: "hits N", then one line per hit (address, mapping)
 *
 * The marker is never decoded into one piece: each byte is decoded from the hex text when it is
 * compared, so the scan cannot find a copy of its own. The memory is read in place (no copy). */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static char maps[1 << 20];

static int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

static int markerByte(const char* hex, size_t i) {
    return hexValue(hex[2 * i]) << 4 | hexValue(hex[2 * i + 1]);
}

static void writeText(int fd, const char* text) {
    size_t length = strlen(text);
    while (length > 0) {
        ssize_t n = write(fd, text, length);
        if (n <= 0) return;
        text += n;
        length -= (size_t)n;
    }
}

__attribute__((destructor)) static void scanAtExit(void) {
    const char* hex = getenv("MEMORY_SCAN_MARKER_HEX");
    const char* reportPath = getenv("MEMORY_SCAN_REPORT");
    if (hex == NULL || reportPath == NULL || strlen(hex) < 4 || strlen(hex) % 2 != 0) return;
    const size_t length = strlen(hex) / 2;

    size_t used = 0;
    int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    for (ssize_t n;
         used < sizeof maps - 1 && (n = read(fd, maps + used, sizeof maps - 1 - used)) > 0;)
        used += (size_t)n;
    close(fd);
    maps[used] = '\0';

    char lines[64][160];
    unsigned hits = 0;
    for (char* line = maps; *line != '\0';) {
        char* end = strchr(line, '\n');
        if (end != NULL) *end = '\0';
        unsigned long start = 0, stop = 0;
        char perms[8] = "";
        int nameAt = 0;
        if (sscanf(line, "%lx-%lx %7s %*s %*s %*s %n", &start, &stop, perms, &nameAt) >= 3 &&
            perms[0] == 'r' && perms[1] == 'w') {
            const unsigned char* p = (const unsigned char*)start;
            const unsigned char* last = (const unsigned char*)stop - length;
            const int first = markerByte(hex, 0);
            for (; p <= last; ++p) {
                p = memchr(p, first, (size_t)(last - p) + 1);
                if (p == NULL) break;
                size_t i = 1;
                while (i < length && p[i] == markerByte(hex, i)) ++i;
                if (i == length) {
                    if (hits < 64) {
                        /* What stands before the hit, which tells whose copy it is. */
                        char before[25] = "";
                        const size_t back = p - (const unsigned char*)start < 24
                                                ? (size_t)(p - (const unsigned char*)start)
                                                : 24;
                        for (size_t k = 0; k < back; ++k) {
                            const unsigned char c = p[k - back];
                            before[k] = c >= 0x20 && c < 0x7F ? (char)c : '.';
                        }
                        before[back] = '\0';
                        snprintf(lines[hits], sizeof lines[hits], "%p %s after [%s]\n",
                                 (const void*)p, nameAt > 0 ? line + nameAt : "", before);
                    }
                    ++hits;
                }
            }
        }
        if (end == NULL) break;
        line = end + 1;
    }

    int out = open(reportPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0) return;
    char head[32];
    snprintf(head, sizeof head, "hits %u\n", hits);
    writeText(out, head);
    for (unsigned i = 0; i < hits && i < 64; ++i) writeText(out, lines[i]);
    close(out);
}
