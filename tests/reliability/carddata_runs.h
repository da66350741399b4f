// carddata against simulated cards in the private pcscd, for the fault and load runs: the
// request, the reply line it must print, and a check that a run printed exactly one such line.
#pragma once

#include <gtest/gtest.h>
#include <json/json.h>
#include <openssl/evp.h>

#include <memory>
#include <string>
#include <vector>

#include "card_in_reader.h"
#include "measured_run.h"

namespace reliability {

using cardsim::Bytes;
using cardsim::CardKind;
using cardsim::CardProfile;
using cardsim::dataSelectedBy;

inline std::string carddataRequest(const std::string& pin, const std::string& sno,
                                   const std::string& reader = "") {
    std::string r = "{\"UserPIN\":\"" + pin + "\",\"SNO\":\"" + sno + "\"";
    if (!reader.empty()) r += ",\"ReaderSlot\":\"" + reader + "\"";
    return r + "}";
}

inline CardProfile cardWith(CardKind kind, const std::string& key, std::uint8_t mask) {
    return cardsim::patternCard(kind, {{"ZZZZ", 0x3F}, {key, mask}});
}

// OpenSSL's encoder as the oracle for the program's own.
inline std::string base64(const Bytes& data) {
    std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]), data.data(),
                                  static_cast<int>(data.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

inline std::string describe(const MeasuredResult& r) {
    return "exit " + std::to_string(r.exitStatus) + "\nstdout: " + r.out + "\nstderr: " + r.err;
}

struct Reply {
    bool wellFormed = false;  // one line, one compact object, the three members
    long long code = 0;
    std::string msg;
    std::string run;  // the run as a failure message tells it
};

// Reads a run's output as the service would; a run that printed anything else, wrote to standard
// error or did not exit with 0 is not well formed.
inline Reply readReply(const MeasuredResult& r) {
    Reply reply;
    reply.run = describe(r);
    Json::Value v;
    if (r.out.rfind("{\"msg\":\"", 0) != 0 || !parseReplyLine(r, v) || v.size() != 3 ||
        !v["msg"].isString() || !v["ret_code"].isInt() || v["version"].asString() != "1.0.4")
        return reply;
    reply.wellFormed = true;
    reply.code = v["ret_code"].asInt();
    reply.msg = v["msg"].asString();
    return reply;
}

class CarddataFixture : public ::testing::Test {
  protected:
    pcsctest::PrivatePcscd& pcscd() { return pcsctest::PrivatePcscd::shared(); }

    MeasuredResult runCarddata(const std::string& request) {
        return runMeasured(CARDDATA_PATH, {request},
                           {"PCSCLITE_CSOCK_NAME=" + pcscd().socketPath()});
    }

    // Reads ABCD's data with the card in the first reader; `commands`: how many the card got.
    Reply readCard(const CardProfile& profile, std::size_t* commands = nullptr) {
        pcsctest::CardInReader card(pcscd(), profile);
        const Reply reply = readReply(runCarddata(carddataRequest("1234", "ABCD")));
        if (commands) *commands = card->commands().size();
        return reply;
    }
};

}  // namespace reliability
