// Counting and listing the keys and certificates of the session, reading their IDs, and opening a
// certificate by ID.

#include <openssl/x509.h>

#include <cstring>
#include <limits>
#include <memory>

#include "bridge_objects.h"
#include "layer.h"

namespace token {

TokenResult requireSession(const TokenContext* ctx, CK_FUNCTION_LIST_PTR* functions,
                           CK_SESSION_HANDLE* session) {
    const LibraryBinding* binding = ctx ? boundLibrary(ctx) : nullptr;
    if (!binding) return kNoModule;
    const SessionRecord* record = heldSession(ctx);
    if (!record) return kNoSession;
    *functions = binding->functions;
    *session = record->handle;
    return 0;
}

namespace {

constexpr TokenResult kBadArguments = kBase | CKR_ARGUMENTS_BAD;
constexpr CK_ULONG kFirstListingCapacity = 10;

CK_RV listObjects(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE s, KeyEntry* entries, CK_ULONG* count) {
    return ListTokenObjects(f, s, CKO_PRIVATE_KEY, entries, count);
}
CK_RV listObjects(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE s, CertEntry* entries,
                  CK_ULONG* count) {
    return ListTokenObjects(f, s, entries, count);
}

template <typename Entry>
TokenResult countObjects(TokenContext* ctx, CK_ULONG* count) {
    CK_FUNCTION_LIST_PTR f = nullptr;
    CK_SESSION_HANDLE s = 0;
    if (TokenResult r = requireSession(ctx, &f, &s)) return r;
    if (!count) return kBadArguments;
    CK_ULONG found = 0;
    CK_RV rv = listObjects(f, s, static_cast<Entry*>(nullptr), &found);
    if (rv != CKR_OK) return ckr(rv);
    *count = found;
    return 0;
}

// Lists afresh (a first pass with room for ten, a second with room for all if more exist) and
// copies the ID of the object at `index` under the ID buffer rules: a null or short buffer learns
// the length with the bare CKR_BUFFER_TOO_SMALL; a buffer with room to spare gets a zero byte
// after the ID.
template <typename Entry>
TokenResult readObjectId(TokenContext* ctx, CK_ULONG index, unsigned char* id, CK_ULONG* length) {
    CK_FUNCTION_LIST_PTR f = nullptr;
    CK_SESSION_HANDLE s = 0;
    if (TokenResult r = requireSession(ctx, &f, &s)) return r;
    if (!length) return kBadArguments;

    CK_ULONG capacity = kFirstListingCapacity;
    LayerPtr<Entry> entries(static_cast<Entry*>(layerAlloc(capacity * sizeof(Entry))));
    if (!entries) return kNoMemory;

    CK_ULONG found = capacity;
    CK_RV rv = listObjects(f, s, entries.get(), &found);
    if (rv == CKR_BUFFER_TOO_SMALL) {
        if (found > std::numeric_limits<std::size_t>::max() / sizeof(Entry)) return kNoMemory;
        void* grown = layerRealloc(entries.get(), found * sizeof(Entry));
        if (!grown) return kNoMemory;
        entries.release();
        entries.reset(static_cast<Entry*>(grown));
        capacity = found;
        rv = listObjects(f, s, entries.get(), &found);
    }
    if (rv != CKR_OK) return ckr(rv);
    // Only the entries that fitted were filled; objects that appeared between the two passes
    // cannot be reached by index.
    if (index >= found || index >= capacity) return kIndexOutOfRange;

    const Entry& entry = entries.get()[index];
    const CK_ULONG n = entry.idLength;
    if (!id || *length < n) {
        *length = n;
        return kIdTooSmall;
    }
    // The caller's buffer would take it, but the module claimed more than the record's field
    // holds (or left the all-ones "unavailable" word): nothing trustworthy to copy.
    if (n > kIdFieldSize) return kTextTooSmall;
    std::memcpy(id, entry.id, n);
    if (*length > n) id[n] = 0;
    *length = n;
    return 0;
}

}  // namespace

// C linkage keeps these the global C names that token_api.h declares.
extern "C" {

TOKEN_API TokenResult GetKeyNum(TokenContext* ctx, CK_ULONG* count) {
    return countObjects<KeyEntry>(ctx, count);
}

TOKEN_API TokenResult GetCertNum(TokenContext* ctx, CK_ULONG* count) {
    return countObjects<CertEntry>(ctx, count);
}

TOKEN_API TokenResult GetKeyID(TokenContext* ctx, CK_ULONG index, unsigned char* id,
                               CK_ULONG* length) {
    return readObjectId<KeyEntry>(ctx, index, id, length);
}

TOKEN_API TokenResult GetCertID(TokenContext* ctx, CK_ULONG index, unsigned char* id,
                                CK_ULONG* length) {
    return readObjectId<CertEntry>(ctx, index, id, length);
}

TOKEN_API TokenResult GetCert(TokenContext* ctx, const unsigned char* id, CK_ULONG idLength,
                              X509** cert) {
    CK_FUNCTION_LIST_PTR f = nullptr;
    CK_SESSION_HANDLE s = 0;
    if (TokenResult r = requireSession(ctx, &f, &s)) return r;
    if (!cert) return kBadArguments;
    *cert = nullptr;

    LayerPtr<CertEntry> entry(static_cast<CertEntry*>(layerAlloc(sizeof(CertEntry))));
    if (!entry) return kNoMemory;
    bool found = false;
    CK_RV rv = FindObjectById(f, s, id, idLength, entry.get(), &found);
    if (rv != CKR_OK) return ckr(rv);
    if (!found) return kNoSuchObject;
    // A length beyond the field means the module did not deliver the value into it.
    if (entry->valueLength > kCertValueFieldSize) return kTextTooSmall;

    const unsigned char* der = entry->value;
    *cert = d2i_X509(nullptr, &der, static_cast<long>(entry->valueLength));
    return *cert ? 0 : kNoCryptoObject;
}

}  // extern "C"

}  // namespace token
