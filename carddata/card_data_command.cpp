#include "card_data_command.h"

#include <algorithm>
#include <cstring>

#include "base64.h"
#include "common/secret.h"
#include "reply.h"
#include "request.h"

namespace carddata {

std::string runCardData(int argumentCount, const char* const* arguments, ReadUserDataFn read) {
    if (argumentCount != 1) return replyLine(kInputParameterError, "Input Parameter Error");

    // The request holds the PIN: a named copy, so that it is wiped rather than freed as is.
    std::string request = arguments[0];
    common::WipeOnExit wipeRequest(request);
    RequestFields fields;
    checkRequest(request, fields);
    if (!fields.ok) return replyLine(fields.code, fields.message);

    // NUL-terminated copies: the library reads the PIN and SNO as C texts.
    common::SecretBytes pin(fields.pin.size() + 1);
    std::memcpy(pin.data(), fields.pin.data(), fields.pin.size());
    common::SecretBytes sno(fields.sno.size() + 1);
    std::memcpy(sno.data(), fields.sno.data(), fields.sno.size());
    common::wipeText(fields.pin);

    const char* readerName = fields.readerName.empty() ? nullptr : fields.readerName.c_str();
    const int pinLength = static_cast<int>(std::strlen(reinterpret_cast<char*>(pin.data())));
    const char* recordKey = reinterpret_cast<const char*>(sno.data());

    int length = 0;
    int rv = read(readerName, pin.data(), pinLength, recordKey, nullptr, &length);
    if (rv != 0) return replyLine(rv, "");

    // Four times the reported size. A size of 0 still gets a real buffer, so the second call is
    // a read (the card still checks the PIN) and not another size query.
    const std::size_t capacity = length > 0 ? 4 * static_cast<std::size_t>(length) : 0;
    common::SecretBytes data(std::max<std::size_t>(capacity, 1));
    rv = read(readerName, pin.data(), pinLength, recordKey, data.data(), &length);
    if (rv != 0) return replyLine(rv, "");
    const std::size_t used = length <= 0 ? 0 : std::min(static_cast<std::size_t>(length), capacity);
    const std::string encoded = base64Encode(data.data(), used);
    if (encoded.empty()) return replyLine(kNoData, "");
    return replyLine(0, withoutLineBreaks(encoded));
}

}  // namespace carddata
