#include "trace_check.h"

#include <gtest/gtest.h>
#include <json/json.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "card_in_reader.h"
#include "carddata_run.h"
#include "temp_dir.h"

namespace carddatatest {
namespace {

thread_local std::vector<Json::Value> lastTrace;

bool parseJson(const std::string& text, Json::Value& out) {
    Json::CharReaderBuilder builder;
    builder["allowComments"] = true;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    try {
        return reader->parse(text.data(), text.data() + text.size(), &out, &errors);
    } catch (const Json::Exception&) {
        return false;
    }
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string hexOf(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string bytesOfHex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// Every form in which a secret could reach the trace; upper case, as the haystack is.
void addSecret(std::vector<std::string>& secrets, const std::string& bytes) {
    if (bytes.empty()) return;
    secrets.push_back(upper(bytes));
    secrets.push_back(hexOf(bytes));
}

std::vector<std::string> secretsOf(const std::vector<std::string>& args, const Json::Value& reply) {
    std::vector<std::string> secrets;
    Json::Value request;
    if (args.size() == 1 && parseJson(args[0], request) && request.isObject() &&
        request["UserPIN"].isString()) {
        const std::string pin = request["UserPIN"].asString();
        addSecret(secrets, pin);
        // BCD nibbles, F-padded to whole bytes, as a PIN block may carry digits.
        if (!pin.empty() && std::all_of(pin.begin(), pin.end(), ::isdigit))
            secrets.push_back(pin.size() % 2 ? pin + "F" : pin);
    }
    std::ifstream keys(ISSUER_KEYS_PATH);
    EXPECT_TRUE(keys.good()) << ISSUER_KEYS_PATH;
    for (std::string line; std::getline(keys, line);) {
        const std::size_t eq = line.find('=');
        if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
        std::string hex = line.substr(eq + 1);
        hex.erase(std::remove_if(hex.begin(), hex.end(), ::isspace), hex.end());
        const std::string key = bytesOfHex(hex);
        addSecret(secrets, key);
        for (std::size_t at = 0; at + 8 <= key.size(); at += 8)
            addSecret(secrets, key.substr(at, 8));
    }
    // Pieces of the data read, where the reply carries it.
    const std::string msg = reply["msg"].isString() ? reply["msg"].asString() : "";
    if (reply["ret_code"] == 0 && !msg.empty()) {
        std::string data(msg.size(), '\0');
        const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&data[0]),
                                      reinterpret_cast<const unsigned char*>(msg.data()),
                                      static_cast<int>(msg.size()));
        data.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        for (std::size_t at = 0; at + 8 <= data.size(); at += 50) {
            const std::string piece = data.substr(at, 8);
            if (piece.find_first_not_of(piece[0]) != std::string::npos) addSecret(secrets, piece);
        }
    }
    return secrets;
}

// Every text of a line (names and string values) but the clock and the system's name.
void collectTexts(const Json::Value& value, std::string& out) {
    if (value.isString()) {
        out += upper(value.asString()) + '\n';
    } else if (value.isObject()) {
        for (const std::string& name : value.getMemberNames()) {
            if (name == "time" || name == "os") continue;
            out += upper(name) + '\n';
            collectTexts(value[name], out);
        }
    } else if (value.isArray()) {
        for (const Json::Value& item : value) collectTexts(item, out);
    }
}

void checkTrace(const std::vector<std::string>& args, const pcsctest::ProgramResult& r,
                const std::string& text) {
    lastTrace.clear();
    std::istringstream lines(text);
    std::string texts;
    int starts = 0;
    int ends = 0;
    Json::Value reply;
    EXPECT_TRUE(parseJson(r.out, reply)) << r.out;
    for (std::string line; std::getline(lines, line);) {
        Json::Value event;
        EXPECT_TRUE(parseJson(line, event) && event.isObject()) << line;
        EXPECT_TRUE(event["time"].isString() && event["program"] == "carddata" &&
                    event["version"].isString() && event["pid"].isInt() &&
                    event["event"].isString())
            << line;
        if (event["event"] == "carddata.start") ++starts;
        if (event["event"] == "carddata.end") {
            ++ends;
            EXPECT_EQ(event["ret_code"], reply["ret_code"]) << line;
        }
        collectTexts(event, texts);
        lastTrace.push_back(event);
    }
    EXPECT_EQ(starts, 1) << text;
    EXPECT_EQ(ends, 1) << text;
    for (const std::string& secret : secretsOf(args, reply))
        EXPECT_EQ(texts.find(secret), std::string::npos) << "secret " << secret << " in\n" << text;
}

}  // namespace

bool tracingRequested() {
    static const bool requested = std::getenv("CARD_TEST_TRACE") != nullptr;
    return requested;
}

pcsctest::ProgramResult tracedRun(
    const std::vector<std::string>& args,
    const std::function<pcsctest::ProgramResult(const std::vector<std::string>&)>& run) {
    const auto counters = pcsctest::CardInReader::saveCounters();
    const pcsctest::ProgramResult plain = run({});
    pcsctest::CardInReader::restoreCounters(counters);
    testsupport::TempDir dir;
    const std::string file = dir.file("trace.jsonl");
    const pcsctest::ProgramResult traced = run({"CARD_TRACE_FILE=" + file});
    EXPECT_EQ(traced.out, plain.out);
    EXPECT_EQ(traced.err, plain.err);
    EXPECT_EQ(traced.exitStatus, plain.exitStatus);
    checkTrace(args, traced, testsupport::readFile(file));
    return plain;
}

void expectTraced(const std::string& event, const std::string& member, const std::string& value) {
    if (!tracingRequested()) return;
    std::string seen;
    for (const Json::Value& line : lastTrace) {
        if (line["event"] != event) continue;
        const Json::Value& v = line[member];
        const std::string text = v.isString()     ? v.asString()
                                 : v.isIntegral() ? std::to_string(v.asLargestInt())
                                                  : "";
        if (text == value) return;
        seen += text + "; ";
    }
    ADD_FAILURE() << "no " << event << " line with " << member << " " << value << " (seen: " << seen
                  << ")";
}

}  // namespace carddatatest
