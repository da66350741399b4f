// Running carddata against the process's private pcscd, and the reply lines it must print.
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

#include "card_in_reader.h"
#include "request_faults.h"
#include "run_program.h"

namespace carddatatest {

using cardsim::Bytes;
using cardsim::CardKind;
using cardsim::CardProfile;
using cardsim::dataSelectedBy;
using cardsim::patternCard;

// OpenSSL's Base64 (one unbroken line) as the oracle for the program's own encoder.
inline std::string base64(const Bytes& data) {
    std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]), data.data(),
                            static_cast<int>(data.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

// Runs the built carddata with these arguments: on Linux against the process's private pcscd
// (run_carddata.cpp), the Windows build under Wine (tests/windows).
pcsctest::ProgramResult runCarddata(const std::vector<std::string>& args);

// When the runs are traced (traced_run.h), expects the trace of this thread's last run to hold
// an `event` line whose `member` is `value` (a text, or a number written in decimal); when they
// are not, there is no trace to look at.
void expectTraced(const std::string& event, const std::string& member, const std::string& value);

class CarddataRun : public ::testing::Test {
  protected:
    pcsctest::PrivatePcscd& pcscd() { return pcsctest::PrivatePcscd::shared(); }
    std::string reader(int index = 0) { return pcscd().readerName(index); }

    pcsctest::ProgramResult run(const std::vector<std::string>& args) { return runCarddata(args); }

    // Every run must print exactly the reply on standard output, nothing on standard error,
    // and exit with 0.
    void expectReply(const pcsctest::ProgramResult& r, const std::string& msg, long long code) {
        EXPECT_EQ(r.out, replyLine(msg, code));
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exitStatus, 0);
    }
};

}  // namespace carddatatest
