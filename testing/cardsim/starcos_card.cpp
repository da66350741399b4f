// The STARCOS card kind: ISO commands (class 00). The index EF FE15 sits right under the MF;
// the data EFs AC01..AC06 sit in the PKCS#15 application, readable after VERIFY with the
// application's PIN reference 82. SELECT with P2 00 answers an FCP whose bytes 4 and 5 carry
// the file size.
#include "card.h"

namespace cardsim {
namespace {

constexpr std::uint8_t kClassIso = 0x00;
constexpr std::uint8_t kPinReference = 0x82;
constexpr std::size_t kPinBlockSize = 8;
const Bytes kPkcs15Aid = {0xA0, 0x00, 0x00, 0x00, 0x63, 0x50, 0x4B, 0x43, 0x53, 0x2D, 0x31, 0x35};

class StarcosCard : public Card {
  public:
    explicit StarcosCard(const CardProfile& profile) : Card(profile) {
        buildFiles();
        addInstruction(kClassIso, 0xA4, [this](const Apdu& a) { return select(a); });
        addInstruction(kClassIso, 0xB0, [this](const Apdu& a) {
            if (a.p1 & 0x80) return status(kSwWrongParameters);  // no short file identifiers
            return readBinary(a, a.p1 << 8 | a.p2);
        });
        addInstruction(kClassIso, 0x20, [this](const Apdu& a) { return verify(a); });
    }

  private:
    void buildFiles() {
        CardFile& mf = fs_.root();
        mf.addEf(0xFE15, profile_.rawIndex.value_or(buildIndex(profile_.entries)));
        CardFile& app = mf.addDf(0x5015, kPkcs15Aid);
        for (const auto& [number, content] : profile_.records)
            app.addEf(static_cast<std::uint16_t>(0xAC00 + number), content, Access::Pin);
        for (const auto& [fid, size] : profile_.declaredSizes)
            if (CardFile* f = fs_.find(fid)) f->declaredSize = size;
    }

    Bytes select(const Apdu& a) {
        bool wantFcp = a.p2 == 0x00;
        if (a.p2 != 0x00 && a.p2 != 0x0C) return status(kSwWrongParameters);
        CardFile* file = nullptr;
        if (a.p1 == 0x04) {
            file = fs_.selectAid(a.data);
        } else if (a.p1 == 0x00) {
            if (a.data.size() != 2) return status(kSwWrongLength);
            file = fs_.select(fileId(a.data));
        } else {
            return status(kSwWrongParameters);
        }
        if (!file) return status(kSwFileNotFound);
        Bytes r;
        if (wantFcp) r = fcp(*file);
        appendStatus(r, kSwOk);
        return r;
    }

    // 62 L, then 80 02 size (EFs), 82 01 descriptor, 83 02 identifier.
    static Bytes fcp(const CardFile& f) {
        auto high = [](int v) { return static_cast<std::uint8_t>(v >> 8); };
        auto low = [](int v) { return static_cast<std::uint8_t>(v & 0xFF); };
        Bytes body;
        if (!f.dedicated) {
            int size = f.declaredSize.value_or(static_cast<int>(f.data.size()));
            body = {0x80, 0x02, high(size), low(size)};
        }
        const std::uint8_t descriptor = f.dedicated ? 0x38 : 0x01;
        body.insert(body.end(), {0x82, 0x01, descriptor, 0x83, 0x02, high(f.fid), low(f.fid)});
        Bytes out = {0x62, static_cast<std::uint8_t>(body.size())};
        out.insert(out.end(), body.begin(), body.end());
        return out;
    }

    Bytes verify(const Apdu& a) {
        if (a.p1 != 0x00 || a.p2 != kPinReference) return status(kSwReferenceNotFound);
        // Reference 82 is the application's PIN: it exists only with the application selected.
        if (fs_.currentDf()->aid != kPkcs15Aid) return status(kSwReferenceNotFound);
        if (a.data.size() != kPinBlockSize) return status(kSwWrongLength);
        return status(checkPin(a.data, kPinBlockSize, 0x20));
    }
};

}  // namespace

std::unique_ptr<Card> makeStarcosCard(const CardProfile& profile) {
    return std::make_unique<StarcosCard>(profile);
}

}  // namespace cardsim
