#include "card_data_command.h"

#include <algorithm>
#include <cstring>

#include "base64.h"
#include "common/secret.h"
#include "common/trace.h"
#include "reply.h"
#include "request.h"

namespace carddata {

namespace {

// The run's first trace line: the program and the request's shape (its size and each known
// member's length or type), never a value.
void traceStart(int argumentCount, const std::string* request, const RequestFields* fields) {
    if (!cardtrace::on()) return;
    // Building a line needs memory; without it the line is left out and the run goes on.
    try {
        cardtrace::Event event("carddata.start");
        event.text("arch", cardtrace::buildArchitecture()).text("os", cardtrace::osVersion());
        event.number("arguments", argumentCount);
        if (request) {
            event.unsignedNumber("request_bytes", request->size());
            if (!fields->memberSummary.empty()) event.json("members", fields->memberSummary);
        }
    } catch (...) {
    }
}

// The last line: the reply's code as the service reads it, the run's time and the time spent
// in the library (its own lines tell how much of that the card took).
void traceEnd(std::int32_t code, const cardtrace::Stopwatch& total, int calls) {
    if (!cardtrace::on()) return;
    try {
        cardtrace::Event("carddata.end")
            .number("ret_code", mapReplyCode(code))
            .ms("total_ms", total.ms())
            .ms("library_ms", cardtrace::waitMs())
            .number("library_calls", calls);
    } catch (...) {
    }
}

}  // namespace

std::string runCardData(int argumentCount, const char* const* arguments, ReadUserDataFn read) {
    const cardtrace::Stopwatch total;
    int calls = 0;
    auto finish = [&](std::int32_t code, const std::string& msg) {
        traceEnd(code, total, calls);
        return replyLine(code, msg);
    };
    if (argumentCount != 1) {
        traceStart(argumentCount, nullptr, nullptr);
        return finish(kInputParameterError, "Input Parameter Error");
    }

    // The request holds the PIN: a named copy, so that it is wiped rather than freed as is.
    std::string request = arguments[0];
    common::WipeOnExit wipeRequest(request);
    RequestFields fields;
    checkRequest(request, fields);
    traceStart(argumentCount, &request, &fields);
    if (!fields.ok) return finish(fields.code, fields.message);

    // NUL-terminated copies: the library reads the PIN and SNO as C texts.
    common::SecretBytes pin(fields.pin.size() + 1);
    std::memcpy(pin.data(), fields.pin.data(), fields.pin.size());
    common::SecretBytes sno(fields.sno.size() + 1);
    std::memcpy(sno.data(), fields.sno.data(), fields.sno.size());
    common::wipeText(fields.pin);

    const char* readerName = fields.readerName.empty() ? nullptr : fields.readerName.c_str();
    const int pinLength = static_cast<int>(std::strlen(reinterpret_cast<char*>(pin.data())));
    const char* recordKey = reinterpret_cast<const char*>(sno.data());

    auto timedRead = [&](unsigned char* out, int* ioLength) {
        const cardtrace::Stopwatch clock;
        ++calls;
        const int rv = read(readerName, pin.data(), pinLength, recordKey, out, ioLength);
        cardtrace::addWaitMs(clock.ms());
        return rv;
    };
    int length = 0;
    int rv = timedRead(nullptr, &length);
    if (rv != 0) return finish(rv, "");

    // Four times the reported size. A size of 0 still gets a real buffer, so the second call is
    // a read (the card still checks the PIN) and not another size query.
    const std::size_t capacity = length > 0 ? 4 * static_cast<std::size_t>(length) : 0;
    common::SecretBytes data(std::max<std::size_t>(capacity, 1));
    rv = timedRead(data.data(), &length);
    if (rv != 0) return finish(rv, "");
    const std::size_t used = length <= 0 ? 0 : std::min(static_cast<std::size_t>(length), capacity);
    const std::string encoded = base64Encode(data.data(), used);
    if (encoded.empty()) return finish(kNoData, "");
    return finish(0, withoutLineBreaks(encoded));
}

}  // namespace carddata
