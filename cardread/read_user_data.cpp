// The exported entry: the C boundary around the reader session.
#include "cardread/read_user_data.h"

#include <new>

#include "common/trace.h"
#include "reader_session.h"
#include "session_trace.h"

namespace {

cardread::LibraryState& libraryState() {
    static cardread::LibraryState state;
    return state;
}

int readGuarded(const char* readerName, const unsigned char* pin, int pinLength,
                const char* recordKey, unsigned char* outBuffer, int* ioLength) {
    try {
        cardread::ReaderSession session(cardread::systemPcsc(), libraryState(),
                                        cardread::builtInIssuerSecrets());
        return session.readUserData(readerName, pin, pinLength, recordKey, outBuffer, ioLength);
    } catch (const std::bad_alloc&) {
        return cardread::kPcscNoMemory;
    } catch (...) {
        return cardread::kStatusMissingArgument;
    }
}

}  // namespace

extern "C" CARDREAD_API int readUserData(const char* readerName, const unsigned char* pin,
                                         int pinLength, const char* recordKey,
                                         unsigned char* outBuffer, int* ioLength) {
    const cardtrace::Stopwatch clock;
    const double cardMsBefore = cardtrace::waitMs();
    const int rv = readGuarded(readerName, pin, pinLength, recordKey, outBuffer, ioLength);
    cardread::sessiontrace::callEnd(outBuffer == nullptr, rv, clock.ms(),
                                    cardtrace::waitMs() - cardMsBefore);
    return rv;
}
