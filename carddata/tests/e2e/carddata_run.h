// Running carddata against the process's private pcscd, and the reply lines it must print.
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

#include "card_in_reader.h"
#include "run_program.h"

namespace carddatatest {

using cardsim::Bytes;
using cardsim::CardKind;
using cardsim::CardProfile;

// The compact reply line: msg, ret_code (signed decimal), version, one "\n".
inline std::string replyLine(const std::string& msg, long long code) {
    return "{\"msg\":\"" + msg + "\",\"ret_code\":" + std::to_string(code) +
           ",\"version\":\"1.0.4\"}\n";
}

// OpenSSL's Base64 (one unbroken line) as the oracle for the program's own encoder.
inline std::string base64(const Bytes& data) {
    std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]), data.data(),
                            static_cast<int>(data.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

inline CardProfile cardWith(CardKind kind, std::vector<cardsim::IndexEntry> entries) {
    CardProfile p;
    p.kind = kind;
    p.entries = std::move(entries);
    for (int r = 1; r <= cardsim::kMaxRecords; ++r) p.records[r] = cardsim::patternRecord(r);
    return p;
}

inline Bytes recordsOf(const CardProfile& card, std::uint8_t mask) {
    Bytes out;
    for (int bit = 0; bit < 6; ++bit)
        if (mask & (1 << bit)) {
            Bytes r = card.records.at(bit + 1);
            r.resize(cardsim::kRecordSize);
            out.insert(out.end(), r.begin(), r.end());
        }
    return out;
}

inline std::string request(const std::string& pin, const std::string& sno,
                           const std::string& readerMember = "") {
    return "{\"UserPIN\":\"" + pin + "\",\"SNO\":\"" + sno + "\"" + readerMember + "}";
}

class CarddataRun : public ::testing::Test {
  protected:
    pcsctest::PrivatePcscd& pcscd() { return pcsctest::PrivatePcscd::shared(); }
    std::string reader(int index = 0) { return pcscd().readerName(index); }

    pcsctest::ProgramResult run(const std::vector<std::string>& args) {
        return pcsctest::runProgram(CARDDATA_PATH, args,
                                    {"PCSCLITE_CSOCK_NAME=" + pcscd().socketPath()});
    }

    // Every run must print exactly the reply on standard output, nothing on standard error,
    // and exit with 0.
    void expectReply(const pcsctest::ProgramResult& r, const std::string& msg, long long code) {
        EXPECT_EQ(r.out, replyLine(msg, code));
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exitStatus, 0);
    }
};

}  // namespace carddatatest
