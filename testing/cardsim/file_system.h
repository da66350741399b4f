// A small ISO/IEC 7816-4 style file tree: dedicated files (DF) holding elementary files (EF),
// selection by file identifier relative to the current DF, or of an application by its AID.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "bytes.h"

namespace cardsim {

// What an EF asks of the security state before READ BINARY may touch it.
enum class Access { Always, Pin, PinAndAuth };

struct CardFile {
    std::uint16_t fid = 0;
    bool dedicated = false;
    Bytes aid;                        // applications only
    Bytes data;                       // EFs only
    std::optional<int> declaredSize;  // a size the FCI reports instead of the real one
    Access access = Access::Always;
    CardFile* parent = nullptr;
    std::vector<std::unique_ptr<CardFile>> children;

    CardFile& addDf(std::uint16_t id, Bytes appAid = {});
    CardFile& addEf(std::uint16_t id, Bytes content, Access rule = Access::Always);
    CardFile* child(std::uint16_t id) const;
};

class FileSystem {
  public:
    FileSystem();

    CardFile& root() { return *root_; }

    // Selection by identifier: the MF, a child of the current DF, the current DF itself, its
    // parent, or a sibling DF/EF under the parent. Null if none matches (the card says 6A82);
    // a failed selection leaves the current files as they were.
    CardFile* select(std::uint16_t fid);
    CardFile* selectAid(const Bytes& aid);

    CardFile* currentEf() const { return currentEf_; }
    CardFile* currentDf() const { return currentDf_; }
    void resetSelection();

    // Looks a file up anywhere in the tree (tests and descriptions name files by identifier).
    CardFile* find(std::uint16_t fid);

  private:
    void enter(CardFile* file);
    std::unique_ptr<CardFile> root_;
    CardFile* currentDf_;
    CardFile* currentEf_ = nullptr;
};

}  // namespace cardsim
