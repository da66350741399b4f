// The C runtime opens the standard streams in text mode on Windows and would end the reply line
// with CR LF. The service reads the same bytes from every platform: one line ending in LF. This
// runs before main (the file is compiled into each program, not archived, so it is linked).
#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace {

struct BinaryStandardStreams {
    BinaryStandardStreams() {
        _setmode(_fileno(stdout), _O_BINARY);
        _setmode(_fileno(stderr), _O_BINARY);
    }
};

const BinaryStandardStreams binaryStandardStreams;

}  // namespace
