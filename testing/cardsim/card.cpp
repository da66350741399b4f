#include "card.h"

#include <algorithm>

namespace cardsim {

std::unique_ptr<Card> makeMainCard(const CardProfile& profile);
std::unique_ptr<Card> makeStarcosCard(const CardProfile& profile);

std::optional<Apdu> Apdu::parse(const Bytes& command) {
    if (command.size() < 4) return std::nullopt;
    Apdu apdu;
    apdu.cla = command[0];
    apdu.ins = command[1];
    apdu.p1 = command[2];
    apdu.p2 = command[3];
    std::size_t rest = command.size() - 4;
    if (rest == 0) return apdu;
    std::size_t lc = command[4];
    if (rest == 1) {
        apdu.le = lc == 0 ? 256 : static_cast<int>(lc);
        return apdu;
    }
    if (lc == 0 || rest < 1 + lc || rest > 2 + lc) return std::nullopt;
    apdu.data.assign(command.begin() + 5, command.begin() + 5 + static_cast<long>(lc));
    if (rest == 2 + lc) apdu.le = command.back() == 0 ? 256 : command.back();
    return apdu;
}

Card::Card(CardProfile profile)
    : profile_(std::move(profile)),
      atr_(profile_.atr.empty() ? defaultAtr(profile_.kind) : profile_.atr) {}

void Card::powerCycle() {
    pinVerified_ = false;
    authenticated_ = false;
    fs_.resetSelection();
}

void Card::addInstruction(std::uint8_t cla, std::uint8_t ins, Handler handler) {
    instructions_[{cla, ins}] = std::move(handler);
}

Bytes Card::status(std::uint16_t sw, Bytes data) {
    appendStatus(data, sw);
    return data;
}

void Card::note(const std::string& text) const {
    if (note_) note_(text);
}

std::optional<Bytes> Card::transmit(const Bytes& command) {
    ++commandCount_;
    if (profile_.dropAfter > 0 && commandCount_ > profile_.dropAfter) return std::nullopt;
    Bytes response;
    auto apdu = Apdu::parse(command);
    if (!apdu) {
        response = status(kSwWrongLength);
    } else {
        auto it = instructions_.find({apdu->cla, apdu->ins});
        if (it != instructions_.end()) {
            response = it->second(*apdu);
        } else {
            bool classKnown =
                std::any_of(instructions_.begin(), instructions_.end(),
                            [&](const auto& e) { return e.first.first == apdu->cla; });
            response = status(classKnown ? kSwInsNotSupported : kSwClassNotSupported);
        }
    }
    return applyFaults(command, std::move(response));
}

std::optional<Bytes> Card::applyFaults(const Bytes& command, Bytes response) {
    for (std::size_t i = 0; i < profile_.faults.size(); ++i) {
        const FaultRule& rule = profile_.faults[i];
        if (command.size() < rule.prefix.size() ||
            !std::equal(rule.prefix.begin(), rule.prefix.end(), command.begin()))
            continue;
        int seen = ++faultMatches_[i];
        if (rule.occurrence != 0 && rule.occurrence != seen) continue;
        switch (rule.action) {
            case FaultRule::Action::Status:
                response = status(rule.sw);
                break;
            case FaultRule::Action::Truncate: {
                if (response.size() < 2) break;
                std::size_t data = response.size() - 2;
                response.erase(response.end() - 2 - static_cast<long>(std::min(rule.count, data)),
                               response.end() - 2);
                break;
            }
            case FaultRule::Action::Extend:
                if (response.size() < 2) break;
                response.insert(response.end() - 2, rule.count, 0xEE);
                break;
            case FaultRule::Action::Raw:
                response = rule.raw;
                break;
            case FaultRule::Action::Drop:
                return std::nullopt;
        }
        note("fault applied to " + toHex(command));
    }
    return response;
}

Bytes Card::readBinary(const Apdu& apdu, int offset) {
    CardFile* ef = fs_.currentEf();
    if (!ef) return status(kSwNoCurrentEf);
    if ((ef->access == Access::Pin && !pinVerified_) ||
        (ef->access == Access::PinAndAuth && !(pinVerified_ && authenticated_)))
        return status(kSwSecurityNotSatisfied);
    if (!apdu.data.empty()) return status(kSwWrongLength);
    int wanted = apdu.le.value_or(256);
    int size = static_cast<int>(ef->data.size());
    if (offset > size || (offset == size && wanted > 0)) return status(kSwOffsetOutOfFile);
    int n = std::min(wanted, size - offset);
    // Le 00 asks for whatever there is, up to 256 bytes; only an explicit Le that runs past
    // the end of the file is warned about.
    return status(n < wanted && wanted != 256 ? kSwEndOfFile : kSwOk,
                  Bytes(ef->data.begin() + offset, ef->data.begin() + offset + n));
}

std::uint16_t Card::checkPin(const Bytes& block, std::size_t size, std::uint8_t fill) {
    pinBlocks_.push_back(block);
    note("PIN block " + toHex(block));
    if (profile_.triesLeft <= 0) return kSwPinBlocked;
    Bytes expected = profile_.pin;
    expected.resize(size, fill);
    if (block != expected) {
        pinVerified_ = false;
        --profile_.triesLeft;
        return static_cast<std::uint16_t>(0x63C0 | profile_.triesLeft);
    }
    profile_.triesLeft = profile_.maxTries;
    pinVerified_ = true;
    return kSwOk;
}

namespace {

// Answers nothing but its ATR matters: every command is refused.
class OtherCard : public Card {
  public:
    explicit OtherCard(const CardProfile& profile) : Card(profile) {}
};

}  // namespace

std::unique_ptr<Card> makeCard(const CardProfile& profile) {
    switch (profile.kind) {
        case CardKind::Main:
            return makeMainCard(profile);
        case CardKind::Starcos:
            return makeStarcosCard(profile);
        case CardKind::Other:
            break;
    }
    return std::make_unique<OtherCard>(profile);
}

}  // namespace cardsim
