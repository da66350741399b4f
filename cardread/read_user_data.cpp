// The exported entry: the C boundary around the reader session.
#include "cardread/read_user_data.h"

#include <new>

#include "reader_session.h"

namespace {

cardread::LibraryState& libraryState() {
    static cardread::LibraryState state;
    return state;
}

}  // namespace

extern "C" CARDREAD_API int readUserData(const char* readerName, const unsigned char* pin,
                                         int pinLength, const char* recordKey,
                                         unsigned char* outBuffer, int* ioLength) {
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
