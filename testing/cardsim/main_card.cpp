// The main card kind: class 80 commands over MF 3F00 / DF 0900 (index EF 0904, DF 0910 with the
// data EFs AC01..AC06) and DF 0800 or 5030 (PIN context EF 0810). The PIN arrives only under
// secure messaging (class 8C: R, then data and MAC enciphered with key B); the data EFs open
// after an accepted PIN and an EXTERNAL AUTHENTICATE with key reference 22.
#include <algorithm>

#include "card.h"
#include "card_crypto.h"

namespace cardsim {
namespace {

constexpr std::uint8_t kClassPlain = 0x80;
constexpr std::uint8_t kClassProtected = 0x8C;
constexpr std::uint8_t kAuthKeyReference = 0x22;
constexpr std::size_t kPinBlockSize = 10;

class MainCard : public Card {
  public:
    explicit MainCard(const CardProfile& profile) : Card(profile) {
        CardKeys keys =
            loadCardKeys(profile_.keyFile.empty() ? defaultKeyFile() : profile_.keyFile);
        keyB_ = profile_.keyB.value_or(keys.keyB);
        authKey_ = profile_.authKey.value_or(keys.authKey);
        buildFiles();
        addInstruction(kClassPlain, 0xA4, [this](const Apdu& a) { return select(a); });
        addInstruction(kClassPlain, 0xB0,
                       [this](const Apdu& a) { return readBinary(a, (a.p1 & 0x7F) << 8 | a.p2); });
        addInstruction(kClassPlain, 0x84, [this](const Apdu& a) { return getChallenge(a); });
        addInstruction(kClassPlain, 0x82, [this](const Apdu& a) { return authenticate(a); });
        // The card takes the PIN only protected; a VERIFY in clear is refused.
        addInstruction(kClassPlain, 0x20,
                       [](const Apdu&) { return status(kSwSecurityNotSatisfied); });
        addInstruction(kClassProtected, 0x20, [this](const Apdu& a) { return verify(a); });
    }

  private:
    void buildFiles() {
        CardFile& mf = fs_.root();
        CardFile& df0900 = mf.addDf(0x0900);
        df0900.addEf(0x0904, profile_.rawIndex.value_or(buildIndex(profile_.entries)));
        CardFile& df0910 = df0900.addDf(0x0910);
        for (const auto& [number, content] : profile_.records)
            df0910.addEf(static_cast<std::uint16_t>(0xAC00 + number), content, Access::PinAndAuth);
        mf.addDf(profile_.pinDf).addEf(0x0810, {0x00});
    }

    Bytes select(const Apdu& a) {
        if (a.p1 != 0 || a.p2 != 0) return status(kSwWrongParameters);
        if (a.data.size() != 2) return status(kSwWrongLength);
        return status(fs_.select(fileId(a.data)) ? kSwOk : kSwFileNotFound);
    }

    Bytes getChallenge(const Apdu& a) {
        if (a.le != 8 || !a.data.empty()) return status(kSwWrongLength);
        challenge_ = randomBytes(8);
        return status(kSwOk, *challenge_);
    }

    Bytes authenticate(const Apdu& a) {
        if (a.p1 != 0x01 || a.p2 != kAuthKeyReference) return status(kSwReferenceNotFound);
        if (a.data.size() != 8) return status(kSwWrongLength);
        if (!challenge_) return status(kSwConditionsNotSatisfied);
        // A challenge answers one attempt only.
        Bytes expected = encryptBlock(authKey_, *challenge_);
        challenge_.reset();
        authenticated_ = a.data == expected;
        if (!authenticated_) note("EXTERNAL AUTHENTICATE: wrong cryptogram");
        return status(authenticated_ ? kSwOk : kSwAuthenticationFailed);
    }

    // Data field: R (8 bytes), then PIN block and MAC enciphered in CBC mode under key B with R
    // as the initial vector and padded with p bytes of value p; the MAC is the CBC-MAC under
    // key B with R as the chaining value over the PIN block.
    Bytes verify(const Apdu& a) {
        if (a.p1 != 0x00 || a.p2 != 0x01) return status(kSwReferenceNotFound);
        CardFile* ef = fs_.currentEf();
        if (!ef || ef->fid != 0x0810) return status(kSwConditionsNotSatisfied);
        if (a.data.size() < 24 || a.data.size() % 8 != 0) return status(kSwBadSecureMessaging);
        Bytes r(a.data.begin(), a.data.begin() + 8);
        auto plain = cbcDecrypt(keyB_, r, Bytes(a.data.begin() + 8, a.data.end()));
        std::uint8_t pad = plain->back();
        if (pad < 1 || pad > 8 ||
            !std::all_of(plain->end() - pad, plain->end(),
                         [&](std::uint8_t b) { return b == pad; })) {
            note("VERIFY: bad padding after decipherment");
            return status(kSwBadSecureMessaging);
        }
        plain->resize(plain->size() - pad);
        if (plain->size() < 8) return status(kSwBadSecureMessaging);
        Bytes mac(plain->end() - 8, plain->end());
        plain->resize(plain->size() - 8);
        if (cbcMac(keyB_, r, *plain) != mac) {
            note("VERIFY: MAC check failed");
            return status(kSwBadSecureMessaging);
        }
        if (plain->size() != kPinBlockSize) return status(kSwWrongLength);
        return reply(checkPin(*plain, kPinBlockSize, 0xFF));
    }

    // A protected reply carries R', then the MAC over the (empty) data enciphered with key B.
    Bytes reply(std::uint16_t sw) {
        if (profile_.verifyReply == VerifyReply::Plain) return status(sw);
        Bytes r = randomBytes(8);
        Bytes mac = cbcMac(keyB_, r, {});
        if (profile_.verifyReply == VerifyReply::ProtectedBadMac) mac[0] ^= 0x01;
        Bytes body = cbcEncryptPadded(keyB_, r, mac);
        r.insert(r.end(), body.begin(), body.end());
        return status(sw, r);
    }

    Bytes keyB_;
    Bytes authKey_;
    std::optional<Bytes> challenge_;
};

}  // namespace

std::unique_ptr<Card> makeMainCard(const CardProfile& profile) {
    return std::make_unique<MainCard>(profile);
}

}  // namespace cardsim
