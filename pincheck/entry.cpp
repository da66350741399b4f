#include "entry.h"

#include <cstdio>
#include <limits>
#include <new>

#include "common/secret.h"
#include "common/trace.h"
#include "messages.h"
#include "pin_check_session.h"
#include "platform/text.h"
#include "reply.h"
#include "request_fields.h"

namespace pincheck {

namespace {

// Reply code of the failure reply.
constexpr std::uint32_t kFailureCode = 9988;

// The one failure the program raises: it carries the reply's message text as is.
class RequestFailure {
  public:
    explicit RequestFailure(const char* text) : text_(text) {}
    const char* text() const { return text_; }

  private:
    const char* text_;
};

bool isAtoiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The run's first trace line: what the program is and which members the request holds, by
// length only (any value may hold the PIN when the request's quotes shift the pairing).
void traceStart(const RequestFields* fields) {
    if (!cardtrace::on()) return;
    cardtrace::Event event("pincheck.start");
    event.text("arch", cardtrace::buildArchitecture()).text("os", cardtrace::osVersion());
    event.flag("request", fields != nullptr);
    if (!fields) return;
    event.unsignedNumber("members", fields->size());
    std::string lengths = "{";
    for (const char* name : {"CA_Function", "sPin", "slotID"}) {
        const std::string* value = fields->find(name);
        if (!value) continue;
        lengths += (lengths.size() > 1 ? ",\"" : "\"") + std::string(name) +
                   "\":" + std::to_string(value->size());
    }
    event.json("lengths", lengths + "}");
}

void traceEnd(std::uint32_t code, const cardtrace::Stopwatch& total) {
    if (!cardtrace::on()) return;
    cardtrace::Event("pincheck.end")
        .unsignedNumber("ret_code", code)
        .ms("total_ms", total.ms())
        .ms("module_ms", cardtrace::waitMs());
}

}  // namespace

std::int32_t slotFromText(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && isAtoiSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulated as a magnitude with a ceiling just past the 32-bit range.
    const std::int64_t ceiling = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > ceiling) magnitude = ceiling;
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(value);
}

int writeOutOfMemoryReply() {
    static constexpr char kLine[] = "{\"func\":\"\",\"ret_code\":9988,\"message\":\"\"}\n";
    std::fwrite(kLine, 1, sizeof kLine - 1, stderr);
    std::fflush(stderr);
    return 1;
}

int runPinCheck(int argc, const char* const* argv) {
    // The function name is echoed whole, so it holds the PIN when the request's quotes shift the
    // pairing; it and the reply built from it are wiped once the reply is written.
    std::string functionName;
    common::WipeOnExit wipeFunctionName(functionName);
    const cardtrace::Stopwatch total;
    try {
        if (argc < 2 || argv[1] == nullptr) {
            traceStart(nullptr);
            throw RequestFailure(messages::kDataError);
        }

        RequestFields fields(argv[1]);
        traceStart(&fields);
        functionName = fields.get("CA_Function");
        std::string pin = fields.get("sPin");
        common::WipeOnExit wipePin(pin);
        std::string slotText = fields.get("slotID");
        common::WipeOnExit wipeSlotText(slotText);

        TamrinCA session;
        session.setRequestedSlot(slotFromText(slotText));
        const std::string message = session.checkPin(pin);
        const std::uint32_t code = session.resultCode();

        std::string line = buildReply(functionName, code, toUtf8(message.c_str()));
        common::WipeOnExit wipeLine(line);
        writeReply(line, true);
        traceEnd(code, total);
        return 0;
    } catch (const RequestFailure& failure) {
        // The failure's text goes out unconverted, as the service has always received it.
        writeReply(buildReply(functionName, kFailureCode, failure.text()), false);
        traceEnd(kFailureCode, total);
        return 1;
    } catch (const std::bad_alloc&) {
        // No request needs more than a few copies of itself, so only a system out of memory
        // gets here; the service still gets one line instead of a crashed process.
        return writeOutOfMemoryReply();
    }
}

}  // namespace pincheck
