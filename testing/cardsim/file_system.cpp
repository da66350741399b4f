#include "file_system.h"

#include <functional>

namespace cardsim {

namespace {

CardFile& adopt(CardFile& parent, std::unique_ptr<CardFile> file) {
    file->parent = &parent;
    parent.children.push_back(std::move(file));
    return *parent.children.back();
}

// Depth first from `f`, `f` itself included.
CardFile* search(CardFile& f, const std::function<bool(const CardFile&)>& match) {
    if (match(f)) return &f;
    for (auto& c : f.children)
        if (CardFile* hit = search(*c, match)) return hit;
    return nullptr;
}

}  // namespace

CardFile& CardFile::addDf(std::uint16_t id, Bytes appAid) {
    auto df = std::make_unique<CardFile>();
    df->fid = id;
    df->dedicated = true;
    df->aid = std::move(appAid);
    return adopt(*this, std::move(df));
}

CardFile& CardFile::addEf(std::uint16_t id, Bytes content, Access rule) {
    auto ef = std::make_unique<CardFile>();
    ef->fid = id;
    ef->data = std::move(content);
    ef->access = rule;
    return adopt(*this, std::move(ef));
}

CardFile* CardFile::child(std::uint16_t id) const {
    for (const auto& c : children)
        if (c->fid == id) return c.get();
    return nullptr;
}

FileSystem::FileSystem() : root_(std::make_unique<CardFile>()) {
    root_->fid = 0x3F00;
    root_->dedicated = true;
    currentDf_ = root_.get();
}

void FileSystem::resetSelection() {
    currentDf_ = root_.get();
    currentEf_ = nullptr;
}

void FileSystem::enter(CardFile* file) {
    if (file->dedicated) {
        currentDf_ = file;
        currentEf_ = nullptr;
    } else {
        currentDf_ = file->parent;
        currentEf_ = file;
    }
}

CardFile* FileSystem::select(std::uint16_t fid) {
    CardFile* found = nullptr;
    if (fid == root_->fid) {
        found = root_.get();
    } else if (CardFile* c = currentDf_->child(fid)) {
        found = c;
    } else if (currentDf_->fid == fid) {
        found = currentDf_;
    } else if (CardFile* parent = currentDf_->parent) {
        found = parent->fid == fid ? parent : parent->child(fid);
    }
    if (found) enter(found);
    return found;
}

CardFile* FileSystem::selectAid(const Bytes& aid) {
    CardFile* found = search(
        *root_, [&](const CardFile& f) { return f.dedicated && !f.aid.empty() && f.aid == aid; });
    if (found) enter(found);
    return found;
}

CardFile* FileSystem::find(std::uint16_t fid) {
    return search(*root_, [&](const CardFile& f) { return f.fid == fid; });
}

}  // namespace cardsim
