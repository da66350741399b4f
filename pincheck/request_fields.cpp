#include "request_fields.h"

#include <cstddef>

#include "common/secret.h"

namespace pincheck {

namespace {
constexpr char kQuote = '"';
}

RequestFields::RequestFields(std::string request) {
    common::WipeOnExit wipeRequest(request);
    std::string name;
    std::string value;
    // Sized once so that no growing copy of a PIN is left behind in a freed block.
    name.reserve(request.size());
    value.reserve(request.size());
    common::WipeOnExit wipeValue(value);

    // Position in the quote pattern "name" : "value": 1 inside a name, 2 between name and value,
    // 3 inside a value, 0 between pairs. A pair is entered on the first unquoted byte after its
    // value, so a value whose closing quote ends the request is never entered.
    std::size_t quotes = 0;
    for (char byte : request) {
        if (byte == kQuote) {
            ++quotes;
            continue;
        }
        switch (quotes % 4) {
            case 1:
                name.push_back(byte);
                break;
            case 3:
                value.push_back(byte);
                break;
            case 0:
                if (quotes != 0) {
                    // The first value of a repeated name stays.
                    fields_.try_emplace(name, value);
                    name.clear();
                    // Only the used bytes: the reserved block never moves, and a full wipe per
                    // pair would make long requests quadratic.
                    common::wipeBytes(&value[0], value.size());
                    value.clear();
                }
                break;
            default:
                // The separator between a name and its value, whatever bytes it holds.
                break;
        }
    }
}

RequestFields::~RequestFields() {
    for (auto& field : fields_) common::wipeText(field.second);
}

const std::string& RequestFields::get(const std::string& name) {
    return fields_[name];
}

}  // namespace pincheck
