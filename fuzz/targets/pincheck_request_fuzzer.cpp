// The whole pincheck run for a request text: parser, slot text, PIN check session over a module
// whose answers come from the input, reply building and writing. The request is the input up to
// its first NUL (a command-line argument cannot hold one); the bytes after it answer for the
// module.
//
// Beyond the sanitizers, a run fails unless it prints exactly one line that is one JSON object
// whose "func" reads back as the request's function name byte for byte, whose "ret_code" is an
// unsigned number and whose "message" is a string; and the slot text must read as C's atoi
// reads it (within the 32-bit range).
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "entry.h"
#include "fake_pkcs11.h"
#include "json_reply.h"
#include "layer_blocks.h"
#include "request_fields.h"

const char* const fuzzsupport::kFuzzerName = "pincheck fuzzer";

namespace {

using fuzzsupport::ByteSource;
using fuzzsupport::require;

int g_out = -1;  // standard output, redirected into memory

std::string capturedOutput() {
    std::fflush(stdout);
    std::string text;
    char chunk[4096];
    off_t at = 0;
    for (ssize_t got; (got = pread(g_out, chunk, sizeof chunk, at)) > 0; at += got)
        text.append(chunk, static_cast<std::size_t>(got));
    return text;
}

void clearOutput() {
    std::fflush(stdout);
    if (ftruncate(g_out, 0) != 0 || lseek(STDOUT_FILENO, 0, SEEK_SET) != 0) std::abort();
}

// C's atoi within the 32-bit range, through strtoll, as the oracle for the slot text.
std::int32_t atoiClamped(const std::string& text) {
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    return static_cast<std::int32_t>(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::trackLayerBlocks();
    g_out = memfd_create("pincheck-stdout", 0);
    if (g_out < 0 || dup2(g_out, STDOUT_FILENO) < 0) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteSource in(data, size);
    const std::string request = in.until(0);

    std::string functionName;
    std::string slotText;
    {
        pincheck::RequestFields fields(request);
        functionName = fields.get("CA_Function");
        slotText = fields.get("slotID");
        require(fields.get("sPin").find('"') == std::string::npos, "a value holds a quote");
    }
    // strtoll stops at a NUL too; the slot text cannot hold one (it came from a C string).
    require(pincheck::slotFromText(slotText) == atoiClamped(slotText), "slot text misread",
            slotText);

    clearOutput();
    fuzzsupport::fakeModuleReset(&in);
    const char* argv[] = {"pincheck", request.c_str(), nullptr};
    const int status = pincheck::runPinCheck(2, argv);
    const bool moduleStillBound = fuzzsupport::fakeModuleInitialized();
    fuzzsupport::fakeModuleReset(nullptr);
    if (moduleStillBound) fuzzsupport::releaseLayerBlocks();  // what the process end gives back

    const std::string out = capturedOutput();
    if (fuzzsupport::tracing()) std::fprintf(stderr, "reply: %s", out.c_str());
    require(status == 0, "exit status not 0", out);
    Json::Value reply = fuzzsupport::replyObject(out);
    require(reply["func"].isString() && reply["func"].asString() == functionName,
            "func does not read back as the request's name", out);
    require(reply["ret_code"].isUInt(), "ret_code not an unsigned number", out);
    require(reply["message"].isString(), "message not a string", out);
    return 0;
}
