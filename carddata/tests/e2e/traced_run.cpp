#include "traced_run.h"

#include <gtest/gtest.h>
#include <json/json.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>

#include "card_in_reader.h"
#include "carddata_run.h"
#include "issuer_keys.h"
#include "temp_dir.h"
#include "trace_check.h"

namespace carddatatest {
namespace {

thread_local std::vector<Json::Value> lastTrace;

bool parseJson(const std::string& text, Json::Value& out) {
    std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    try {
        return reader->parse(text.data(), text.data() + text.size(), &out, nullptr);
    } catch (const Json::Exception&) {
        return false;  // nested deeper than the reader goes
    }
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// A secret as bytes and as hexadecimal, upper case as the searched texts are.
void addSecret(std::vector<std::string>& secrets, const std::string& bytes) {
    if (bytes.empty()) return;
    secrets.push_back(upper(bytes));
    secrets.push_back(cardsim::toHex(Bytes(bytes.begin(), bytes.end())));
}

std::vector<std::string> secretsOf(const std::vector<std::string>& args, const Json::Value& reply) {
    std::vector<std::string> secrets;
    Json::Value request;
    if (args.size() == 1 && parseJson(args[0], request) && request.isObject() &&
        request["UserPIN"].isString()) {
        const std::string pin = request["UserPIN"].asString();
        addSecret(secrets, pin);
        // Digits as BCD nibbles, F-padded to whole bytes, as a PIN block may carry them.
        if (!pin.empty() && std::all_of(pin.begin(), pin.end(), ::isdigit))
            secrets.push_back(pin.size() % 2 ? pin + "F" : pin);
    }
    for (const auto& [name, value] : cardsim::readKeyFile(ISSUER_KEYS_PATH)) {
        const std::string key(value.begin(), value.end());
        addSecret(secrets, key);
        for (std::size_t at = 0; at + 8 <= key.size(); at += 8)
            addSecret(secrets, key.substr(at, 8));
    }
    // Pieces of the data read, where the reply carries it.
    const std::string msg = reply["msg"].asString();
    std::string data(msg.size(), '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&data[0]),
                                  reinterpret_cast<const unsigned char*>(msg.data()),
                                  static_cast<int>(msg.size()));
    data.resize(reply["ret_code"] == 0 && n > 0 ? static_cast<std::size_t>(n) : 0);
    for (std::size_t at = 0; at + 8 <= data.size(); at += 50) {
        const std::string piece = data.substr(at, 8);
        if (piece.find_first_not_of(piece[0]) != std::string::npos) addSecret(secrets, piece);
    }
    return secrets;
}

// Every text of a line (names and string values) but the clock and the system's name.
void collectTexts(const Json::Value& value, std::string& out) {
    if (value.isString()) out += upper(value.asString()) + '\n';
    if (value.isArray())
        for (const Json::Value& item : value) collectTexts(item, out);
    if (!value.isObject()) return;
    for (const std::string& name : value.getMemberNames()) {
        if (name == "time" || name == "os") continue;
        out += upper(name) + '\n';
        collectTexts(value[name], out);
    }
}

void checkTrace(const std::vector<std::string>& args, const pcsctest::ProgramResult& r,
                const std::string& path) {
    lastTrace = testsupport::readTrace(path);
    Json::Value reply;
    EXPECT_TRUE(parseJson(r.out, reply)) << r.out;
    std::string texts;
    int starts = 0, ends = 0;
    for (const Json::Value& event : lastTrace) {
        EXPECT_EQ(event["program"], "carddata") << event;
        starts += event["event"] == "carddata.start";
        if (event["event"] == "carddata.end") {
            ++ends;
            EXPECT_EQ(event["ret_code"], reply["ret_code"]) << event;
        }
        collectTexts(event, texts);
    }
    const std::string text = testsupport::readFile(path);
    EXPECT_EQ(starts, 1) << text;
    EXPECT_EQ(ends, 1) << text;
    for (const std::string& secret : secretsOf(args, reply))
        EXPECT_EQ(texts.find(secret), std::string::npos) << "secret " << secret << " in\n" << text;
}

}  // namespace

bool tracingRequested() {
    return std::getenv("CARD_TEST_TRACE") != nullptr;
}

pcsctest::ProgramResult tracedRun(
    const std::vector<std::string>& args,
    const std::function<pcsctest::ProgramResult(const std::vector<std::string>&)>& run) {
    const auto counters = pcsctest::CardInReader::saveCounters();
    const pcsctest::ProgramResult plain = run({});
    pcsctest::CardInReader::restoreCounters(counters);
    testsupport::TempDir dir;
    const pcsctest::ProgramResult traced = run({"CARD_TRACE_FILE=" + dir.file("trace.jsonl")});
    EXPECT_EQ(traced.out, plain.out);
    EXPECT_EQ(traced.err, plain.err);
    EXPECT_EQ(traced.exitStatus, plain.exitStatus);
    checkTrace(args, traced, dir.file("trace.jsonl"));
    return plain;
}

void expectTraced(const std::string& event, const std::string& member, const std::string& value) {
    if (!tracingRequested()) return;
    std::string seen;
    for (const Json::Value& line : lastTrace) {
        const Json::Value& v = line[member];
        const std::string text = v.isIntegral() ? std::to_string(v.asLargestInt())
                                 : v.isConvertibleTo(Json::stringValue) ? v.asString()
                                                                        : "";
        if (line["event"] == event && text == value) return;
        if (line["event"] == event) seen += text + "; ";
    }
    ADD_FAILURE() << "no " << event << " line with " << member << " " << value << " (seen: " << seen
                  << ")";
}

}  // namespace carddatatest
