#include "request.h"

#include <json/json.h>

#include <cstring>
#include <memory>
#include <new>

#include "common/scope_exit.h"
#include "common/secret.h"
#include "common/trace.h"
#include "reply.h"

namespace carddata {

RequestFields::~RequestFields() {
    common::wipeText(pin);
}

namespace {

void fail(RequestFields& fields, std::int32_t code, const char* message) {
    fields.ok = false;
    fields.code = code;
    fields.message = message;
}

// The member's string, if it is there, not null and a string.
bool stringMember(const Json::Value& root, const char* name, std::string& out) {
    if (!root.isObject() || !root.isMember(name)) return false;
    const Json::Value& value = root[name];
    if (value.isNull() || !value.isString()) return false;
    out = value.asString();
    return true;
}

// The parsed tree holds its own copy of the PIN; wipe it in place before the tree is freed.
void wipePinInTree(Json::Value& root) {
    if (!root.isObject()) return;
    static constexpr char kPinMember[] = "UserPIN";
    const Json::Value* pin = root.find(kPinMember, kPinMember + sizeof kPinMember - 1);
    const char* begin = nullptr;
    const char* end = nullptr;
    if (pin && pin->isString() && pin->getString(&begin, &end) && begin) {
        common::wipeBytes(const_cast<char*>(begin), static_cast<std::size_t>(end - begin));
    }
}

// The members the program reads, by length (strings, read in place: no copy of the PIN) or by
// type, as a JSON object for the trace.
std::string memberSummary(const Json::Value& root) {
    static const char* const kTypeNames[] = {"null",   "int",  "uint",  "real",
                                             "string", "bool", "array", "object"};
    std::string summary = "{";
    if (root.isObject()) {
        for (const char* name : {"UserPIN", "SNO", "ReaderSlot"}) {
            const Json::Value* value = root.find(name, name + std::strlen(name));
            if (!value) continue;
            summary += (summary.size() > 1 ? ",\"" : "\"") + std::string(name) + "\":";
            const char* begin = nullptr;
            const char* end = nullptr;
            if (value->isString() && value->getString(&begin, &end)) {
                summary += std::to_string(end - begin);
            } else {
                summary += std::string("\"") + kTypeNames[value->type()] + '"';
            }
        }
    }
    return summary + "}";
}

}  // namespace

void checkRequest(const std::string& text, RequestFields& fields) {
    Json::CharReaderBuilder builder;
    builder["allowComments"] = true;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    // The tree's PIN is wiped on every way out of the checks.
    common::ScopeExit wiper([&root] { wipePinInTree(root); });
    std::string errors;
    bool parsed = false;
    try {
        parsed = reader->parse(text.data(), text.data() + text.size(), &root, &errors);
    } catch (const Json::Exception&) {
        // The reader throws instead of reporting an error for a text nested deeper than its
        // stack limit (1000 levels): as malformed a request as any other.
        parsed = false;
    }
    if (!parsed) {
        fail(fields, kJsonFormatError, "JSON Format Error");
        return;
    }
    // null counts as an empty object; any other non-object has no members to give and is not
    // the request the service sends.
    if (!root.isNull() && !root.isObject()) {
        fail(fields, kJsonFormatError, "JSON Format Error");
        return;
    }
    if (cardtrace::on()) {
        try {
            fields.memberSummary = memberSummary(root);
        } catch (const std::bad_alloc&) {
            // The trace's start line goes without the members; the checks go on.
        }
    }

    if (!stringMember(root, "ReaderSlot", fields.readerName)) fields.readerName.clear();
    if (!stringMember(root, "UserPIN", fields.pin)) {
        fail(fields, kUserPinIsNull, " UserPIN Is Null");
        return;
    }
    if (!stringMember(root, "SNO", fields.sno)) {
        fail(fields, kSnoIsNull, " SNO Is Null");
        return;
    }
    if (fields.pin.size() > kMaxPinBytes || fields.sno.size() > kMaxSnoBytes) {
        fail(fields, kInputParameterError, "Input Parameter Error");
        return;
    }
    fields.ok = true;
}

}  // namespace carddata
