#include "request_fields.h"

#include <cstddef>

#include "common/secret.h"

namespace pincheck {

namespace {
constexpr char kQuote = '"';
}

RequestFields::RequestFields(std::string request) {
    common::WipeOnExit wipeRequest(request);
    // A request whose quotes shift the pairing puts the PIN into a name as easily as into a
    // value, so both collectors are wiped, each pair's bytes as soon as the pair is entered.
    std::string name;
    std::string value;
    common::WipeOnExit wipeName(name);
    common::WipeOnExit wipeValue(value);
    // Sized once so that no growing copy of a PIN is left behind in a freed block.
    name.reserve(request.size());
    value.reserve(request.size());

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
                    common::wipeBytes(&name[0], name.size());
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
    // Keys are const inside the map; a node taken out of it lends its key for the wipe.
    while (!fields_.empty()) {
        auto node = fields_.extract(fields_.begin());
        common::wipeText(node.key());
        common::wipeText(node.mapped());
    }
}

const std::string& RequestFields::get(const std::string& name) {
    return fields_[name];
}

}  // namespace pincheck
