#include "bridge_objects.h"

#include <cstring>

namespace token {
namespace {

bool isKeyClass(CK_OBJECT_CLASS c) {
    return c == CKO_PRIVATE_KEY || c == CKO_PUBLIC_KEY;
}

// Reads one attribute into a zero-filled field of the given size and hands back the length word.
// The listing goes on whatever the answer: a missing, sensitive or oversized attribute is an
// object without that value, not a failed listing. A failed read counts as "not delivered" (all
// ones, as the module itself reports for those cases): a module that fails with another error may
// leave the length word at the field size, and that would pass off a zero-filled field as the
// object's ID.
CK_RV readIntoField(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                    CK_ATTRIBUTE_TYPE type, unsigned char* field, std::size_t fieldSize,
                    CK_ULONG* reported) {
    std::memset(field, 0, fieldSize);
    CK_ATTRIBUTE attr{type, field, static_cast<CK_ULONG>(fieldSize)};
    CK_RV rv = f->C_GetAttributeValue(session, object, &attr, 1);
    if (reported) *reported = rv == CKR_OK ? attr.ulValueLen : CK_UNAVAILABLE_INFORMATION;
    return rv;
}

// A search of the session, ended with C_FindObjectsFinal on every path (also after a failure,
// so the session is free for the next one: a module refuses a new search while one is active).
class Search {
  public:
    Search(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_ATTRIBUTE* templ, CK_ULONG count)
        : f_(f),
          session_(session),
          init_(f->C_FindObjectsInit(session, templ, count)),
          open_(init_ == CKR_OK) {}
    ~Search() {
        if (open_) f_->C_FindObjectsFinal(session_);
    }
    Search(const Search&) = delete;
    Search& operator=(const Search&) = delete;

    CK_RV initResult() const { return init_; }
    CK_RV next(CK_OBJECT_HANDLE* handle, CK_ULONG* got) {
        return f_->C_FindObjects(session_, handle, 1, got);
    }
    // The first failure of the search is the answer; otherwise C_FindObjectsFinal's.
    CK_RV end(CK_RV searchResult) {
        if (!open_) return searchResult;
        open_ = false;
        const CK_RV finalResult = f_->C_FindObjectsFinal(session_);
        return searchResult != CKR_OK ? searchResult : finalResult;
    }

  private:
    CK_FUNCTION_LIST_PTR f_;
    CK_SESSION_HANDLE session_;
    CK_RV init_;
    bool open_;
};

// Walks a class search one handle at a time, calling `fill(handle, position)` for the handles
// that fit the capacity, and counts them all.
template <typename Fill>
CK_RV walkClass(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_OBJECT_CLASS objectClass,
                CK_ULONG capacity, CK_ULONG* found, Fill fill) {
    CK_ATTRIBUTE templ{CKA_CLASS, &objectClass, sizeof objectClass};
    Search search(f, session, &templ, 1);
    if (search.initResult() != CKR_OK) return search.initResult();

    CK_ULONG total = 0;
    CK_RV rv = CKR_OK;
    for (;;) {
        CK_OBJECT_HANDLE handle = 0;
        CK_ULONG got = 0;
        rv = search.next(&handle, &got);
        if (rv != CKR_OK || got == 0) break;
        if (total < capacity) fill(handle, total);
        ++total;
    }
    *found = total;
    return search.end(rv);
}

}  // namespace

CK_RV ListTokenObjects(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_OBJECT_CLASS keyClass,
                       KeyEntry* entries, CK_ULONG* count) {
    if (!f) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (!isKeyClass(keyClass) || !count) return CKR_ARGUMENTS_BAD;
    const CK_ULONG capacity = entries ? *count : 0;
    CK_ULONG found = 0;
    CK_RV rv =
        walkClass(f, session, keyClass, capacity, &found, [&](CK_OBJECT_HANDLE handle, CK_ULONG i) {
            KeyEntry& e = entries[i];
            e.session = session;
            e.object = handle;
            e.objectClass = keyClass;
            readIntoField(f, session, handle, CKA_LABEL, e.label, sizeof e.label, nullptr);
            readIntoField(f, session, handle, CKA_ID, e.id, sizeof e.id, &e.idLength);
        });
    if (rv != CKR_OK) return rv;
    *count = found;
    return entries && found > capacity ? CKR_BUFFER_TOO_SMALL : CKR_OK;
}

CK_RV ListTokenObjects(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CertEntry* entries,
                       CK_ULONG* count) {
    if (!f || !count) return CKR_ARGUMENTS_BAD;
    const CK_ULONG capacity = entries ? *count : 0;
    CK_ULONG found = 0;
    CK_RV rv = walkClass(
        f, session, CKO_CERTIFICATE, capacity, &found, [&](CK_OBJECT_HANDLE handle, CK_ULONG i) {
            CertEntry& e = entries[i];
            e.session = session;
            e.object = handle;
            readIntoField(f, session, handle, CKA_LABEL, e.label, sizeof e.label, nullptr);
            readIntoField(f, session, handle, CKA_ID, e.id, sizeof e.id, &e.idLength);
            readIntoField(f, session, handle, CKA_VALUE, e.value, sizeof e.value, &e.valueLength);
        });
    if (rv != CKR_OK) return rv;
    *count = found;
    return entries && found > capacity ? CKR_BUFFER_TOO_SMALL : CKR_OK;
}

namespace {

// The two-attribute search (ID, then class) and its first handle; the search stays open for the
// caller to read the object.
CK_RV findFirst(Search& search, CK_OBJECT_HANDLE* handle, bool* found) {
    *found = false;
    if (search.initResult() != CKR_OK) return search.initResult();
    CK_ULONG got = 0;
    const CK_RV rv = search.next(handle, &got);
    if (rv == CKR_OK) *found = got != 0;
    return rv;
}

Search idSearch(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_OBJECT_CLASS& objectClass,
                const unsigned char* id, CK_ULONG idLength) {
    // The module only reads the template; the API's type is not const.
    CK_ATTRIBUTE templ[2] = {
        {CKA_ID, const_cast<unsigned char*>(id), idLength},
        {CKA_CLASS, &objectClass, sizeof objectClass},
    };
    return Search(f, session, templ, 2);
}

bool idArgumentsFit(const unsigned char* id, CK_ULONG idLength) {
    return idLength <= kIdFieldSize && (id || idLength == 0);
}

}  // namespace

CK_RV FindObjectById(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_OBJECT_CLASS keyClass,
                     const unsigned char* id, CK_ULONG idLength, KeyEntry* entry, bool* found) {
    if (!f) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (!isKeyClass(keyClass) || !entry || !found) return CKR_ARGUMENTS_BAD;
    *found = false;
    if (!idArgumentsFit(id, idLength)) return CKR_ARGUMENTS_BAD;

    CK_OBJECT_HANDLE handle = 0;
    Search search = idSearch(f, session, keyClass, id, idLength);
    CK_RV rv = findFirst(search, &handle, found);
    if (rv == CKR_OK && *found) {
        entry->session = session;
        entry->object = handle;
        entry->objectClass = keyClass;
        std::memset(entry->id, 0, sizeof entry->id);
        if (idLength) std::memcpy(entry->id, id, idLength);
        entry->idLength = idLength;
        readIntoField(f, session, handle, CKA_LABEL, entry->label, sizeof entry->label, nullptr);
    }
    return search.end(rv);
}

CK_RV FindObjectById(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, const unsigned char* id,
                     CK_ULONG idLength, CertEntry* entry, bool* found) {
    if (!f || !entry || !found) return CKR_ARGUMENTS_BAD;
    *found = false;
    if (!idArgumentsFit(id, idLength)) return CKR_ARGUMENTS_BAD;

    CK_OBJECT_HANDLE handle = 0;
    CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
    Search search = idSearch(f, session, certificateClass, id, idLength);
    CK_RV rv = findFirst(search, &handle, found);
    if (rv == CKR_OK && *found) {
        entry->session = session;
        entry->object = handle;
        std::memset(entry->id, 0, sizeof entry->id);
        if (idLength) std::memcpy(entry->id, id, idLength);
        entry->idLength = idLength;
        rv = readIntoField(f, session, handle, CKA_VALUE, entry->value, sizeof entry->value,
                           &entry->valueLength);
        if (rv == CKR_OK) {
            readIntoField(f, session, handle, CKA_LABEL, entry->label, sizeof entry->label,
                          nullptr);
        }
    }
    return search.end(rv);
}

CK_RV ReadAttribute(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                    CK_ATTRIBUTE_TYPE type, void* buffer, CK_ULONG* length) {
    if (!f) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (!length) return CKR_ARGUMENTS_BAD;
    CK_ATTRIBUTE attr{type, buffer, *length};
    CK_RV rv = f->C_GetAttributeValue(session, object, &attr, 1);
    *length = attr.ulValueLen;
    return rv;
}

CK_RV SignInit(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key) {
    if (!f) return CKR_CRYPTOKI_NOT_INITIALIZED;
    CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
    return f->C_SignInit(session, &mechanism, key);
}

CK_RV Sign(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, const unsigned char* data,
           CK_ULONG dataLength, unsigned char* out, CK_ULONG* outLength) {
    if (!f) return CKR_CRYPTOKI_NOT_INITIALIZED;
    return f->C_Sign(session, const_cast<unsigned char*>(data), dataLength, out, outLength);
}

CK_RV DecryptInit(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key) {
    if (!f) return CKR_CRYPTOKI_NOT_INITIALIZED;
    CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
    return f->C_DecryptInit(session, &mechanism, key);
}

CK_RV Decrypt(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, const unsigned char* data,
              CK_ULONG dataLength, unsigned char* out, CK_ULONG* outLength) {
    if (!f) return CKR_CRYPTOKI_NOT_INITIALIZED;
    return f->C_Decrypt(session, const_cast<unsigned char*>(data), dataLength, out, outLength);
}

}  // namespace token
