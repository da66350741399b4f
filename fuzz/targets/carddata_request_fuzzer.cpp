// The carddata run up to and around the library call: request checks, the two calls, Base64 and
// the reply line. The request is the input up to its first NUL (it arrives as a command-line
// argument); the bytes after it play the library: each call's result code, the size it reports
// and the data it writes (never more than the capacity it was given, as the library promises).
//
// Beyond the sanitizers, a run fails unless the reply is exactly one line holding one JSON object
// with "msg", "ret_code", "version" in that order; a success must carry, in Base64, exactly the
// bytes the library wrote. The library must only be called with a NUL-terminated PIN of at most
// 49 bytes whose length is passed, a NUL-terminated SNO of at most 99 bytes, a zero length on
// the size query and, on the read, the reported size and room for four times it.
#include <openssl/evp.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "byte_source.h"
#include "card_data_command.h"
#include "common/version.h"
#include "json_reply.h"

const char* const fuzzsupport::kFuzzerName = "carddata fuzzer";

namespace {

using fuzzsupport::ByteSource;
using fuzzsupport::require;

struct Library {
    ByteSource* in = nullptr;
    int calls = 0;
    int sizeReported = 0;
    std::string written;  // what the read put into the caller's buffer, up to the size reported
};
Library g_library;

int answerCode(ByteSource& in) {
    static const unsigned kCodes[] = {
        0xFFFFFFFFu, 0x7101, 0x7301, 0x7302, 0x7303, 0x7401,      0x7411,      0x7412,
        0x7413,      0x7414, 0x7415, 0x6A82, 0x63C2, 0x80100069u, 0x8010001Du, 0x20100001};
    const std::uint8_t b = in.byte();
    if (b < 0x80) return 0;
    const std::size_t i = b - 0x80u;
    if (i < sizeof kCodes / sizeof kCodes[0]) return static_cast<int>(kCodes[i]);
    return static_cast<int>(in.u32());
}

// A size as the library reports it: records of 1000 bytes, or any small or odd value.
int answerSize(ByteSource& in) {
    const std::uint8_t b = in.byte();
    if (b < 7) return b * 1000;
    if (b == 0xFF) return -static_cast<int>(in.u16());
    return in.u16() % 8000;
}

int standIn(const char* readerName, const unsigned char* pin, int pinLength, const char* recordKey,
            unsigned char* outBuffer, int* ioLength) {
    Library& lib = g_library;
    ByteSource& in = *lib.in;
    ++lib.calls;
    require(lib.calls <= 2, "more than two library calls");
    require(pin && recordKey && ioLength, "a required argument is missing");
    require(readerName == nullptr || readerName[0] != '\0', "empty reader name passed");
    const std::size_t pinText = std::strlen(reinterpret_cast<const char*>(pin));
    require(pinLength >= 0 && static_cast<std::size_t>(pinLength) == pinText,
            "PIN length is not the text's length");
    require(pinText <= 49 && std::strlen(recordKey) <= 99, "PIN or SNO beyond its limit");

    if (lib.calls == 1) {
        require(outBuffer == nullptr && *ioLength == 0, "size query with a buffer or a length");
        const int rv = answerCode(in);
        lib.sizeReported = answerSize(in);
        if (rv == 0) *ioLength = lib.sizeReported;
        return rv;
    }
    require(outBuffer != nullptr, "read without a buffer");
    require(*ioLength == lib.sizeReported, "read with another length than reported");
    const int rv = answerCode(in);
    if (rv != 0) return rv;
    // The library writes the size it reports, well within the capacity of four times that size.
    const std::size_t n = lib.sizeReported > 0 ? static_cast<std::size_t>(lib.sizeReported) : 0;
    lib.written.assign(n, '\0');
    in.bytes(&lib.written[0], n);
    if (n) std::memcpy(outBuffer, lib.written.data(), n);
    return 0;
}

std::string base64Decode(const std::string& text) {
    if (text.empty() || text.size() % 4 != 0) return "\x01not base64";
    std::string out(text.size() / 4 * 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                                  reinterpret_cast<const unsigned char*>(text.data()),
                                  static_cast<int>(text.size()));
    if (n < 0) return "\x01not base64";
    const std::size_t pad = (text.back() == '=') + (text[text.size() - 2] == '=');
    out.resize(static_cast<std::size_t>(n) - pad);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteSource in(data, size);
    const std::string request = in.until(0);
    g_library = Library{};
    g_library.in = &in;

    const char* args[] = {request.c_str()};
    const std::string line = carddata::runCardData(1, args, standIn);
    if (fuzzsupport::tracing()) std::fprintf(stderr, "reply: %.200s\n", line.c_str());

    Json::Value reply = fuzzsupport::replyObject(line);
    require(line.rfind("{\"msg\":\"", 0) == 0 && line.find(",\"ret_code\":") != std::string::npos,
            "members not in order", line);
    require(reply["msg"].isString() && reply["ret_code"].isInt() &&
                reply["version"].asString() == common::kVersionText,
            "reply members wrong", line);
    const int code = reply["ret_code"].asInt();
    if (code == 0) {
        require(g_library.calls == 2, "success without a read", line);
        require(base64Decode(reply["msg"].asString()) == g_library.written,
                "msg does not carry the data", line);
    } else if (g_library.calls > 0) {
        require(reply["msg"].asString().empty(), "a library failure with a text", line);
    }
    return 0;
}
