#include "session_trace.h"

#include <cstdio>
#include <string>

#include "common/trace.h"
#include "status_word.h"

namespace cardread {
namespace sessiontrace {
namespace {

// The library's own -1 as such; PC/SC codes and status words in hexadecimal, as they are
// documented.
std::string statusText(Status rv) {
    if (rv == kStatusMissingArgument) return "-1";
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(rv));
    return text;
}

const char* kindName(CardKind kind) {
    switch (kind) {
        case CardKind::Main:
            return "main";
        case CardKind::Starcos:
            return "starcos";
        default:
            return "not readable";
    }
}

// A line that cannot be built (no memory left) is left out; the read goes on as it would
// without the trace.
template <typename Build>
void guarded(Build build) {
    try {
        build();
    } catch (...) {
    }
}

void atrMembers(cardtrace::Event& event, const std::uint8_t* atr, std::size_t atrLength) {
    const CardType* type = matchCardType(atr, atrLength);
    event.hex("atr", atr, atrLength).text("card_type", type ? type->name : "none");
}

}  // namespace

void readerStep(PcscApi& pcsc, Status contextRv, PcscContext context, const char* requested,
                const char* reader, Status rv) {
    if (!cardtrace::on()) return;
    guarded([&] {
        cardtrace::Event event("cardread.reader");
        event.text("context_rv", statusText(contextRv));
        if (contextRv != kStatusOk) return;
        std::vector<std::string> names;
        const Status listed = pcsc.listReaders(context, names);
        std::string list = "[";
        for (const std::string& name : names)
            list += (list.size() > 1 ? "," : "") + cardtrace::quoted(name);
        event.text("list_rv", statusText(listed)).json("readers", list + "]");
        event.text("choice", requested ? "named in the request" : pcsc.choiceMethod());
        if (reader && *reader) event.text("reader", reader);
        event.text("rv", statusText(rv));
    });
}

void recognition(const char* reader, Status rv, const std::uint8_t* atr, std::size_t atrLength) {
    if (!cardtrace::on()) return;
    guarded([&] {
        cardtrace::Event event("cardread.card");
        event.text("reader", reader).text("rv", statusText(rv));
        if (rv == kStatusOk) atrMembers(event, atr, atrLength);
    });
}

void session(PcscApi& pcsc, PcscCard card, const std::uint8_t* atr, std::size_t atrLength,
             CardKind kind) {
    if (!cardtrace::on()) return;
    guarded([&] {
        cardtrace::Event event("cardread.session");
        atrMembers(event, atr, atrLength);
        event.text("kind", kindName(kind)).text("protocol", pcsc.protocolOf(card));
    });
}

void command(const std::uint8_t* apdu, std::size_t length, Status rv,
             const std::vector<std::uint8_t>& response, double ms) {
    if (!cardtrace::on()) return;
    guarded([&] {
        cardtrace::addWaitMs(ms);
        cardtrace::Event event("cardread.apdu");
        // The header alone; the body holds the PIN block, cryptograms and MACs.
        event.hex("header", apdu, length < 4 ? length : 4);
        if (length == 5) {
            event.unsignedNumber("le", apdu[4]);
        } else if (length > 5) {
            const std::size_t lc = apdu[4];
            event.unsignedNumber("lc", lc);
            if (length == 5 + lc + 1) event.unsignedNumber("le", apdu[length - 1]);
        }
        if (rv != kStatusOk) {
            event.text("rv", statusText(rv));
        } else if (response.size() >= kStatusWordSize) {
            event.hex("sw", response.data() + response.size() - kStatusWordSize, kStatusWordSize)
                .unsignedNumber("answer_bytes", response.size() - kStatusWordSize);
        } else {
            event.unsignedNumber("answer_bytes", response.size());
        }
        event.ms("ms", ms);
    });
}

void callEnd(bool sizeQuery, int rv, double ms, double cardMs) {
    if (!cardtrace::on()) return;
    guarded([&] {
        cardtrace::Event("cardread.end")
            .text("call", sizeQuery ? "size" : "read")
            .text("rv", statusText(rv))
            .ms("ms", ms)
            .ms("card_ms", cardMs);
    });
}

}  // namespace sessiontrace
}  // namespace cardread
