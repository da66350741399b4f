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

// Ends a search that C_FindObjectsInit opened. The first failure of the search itself is the
// answer; otherwise the answer of C_FindObjectsFinal. Ending it also after a failure keeps the
// session free for the next search (a module refuses a new one while one is active).
CK_RV endSearch(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_RV searchResult) {
    CK_RV finalResult = f->C_FindObjectsFinal(session);
    return searchResult != CKR_OK ? searchResult : finalResult;
}

// Walks a class search one handle at a time, calling `fill(handle, position)` for the handles
// that fit the capacity, and counts them all.
template <typename Fill>
CK_RV walkClass(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_OBJECT_CLASS objectClass,
                CK_ULONG capacity, CK_ULONG* found, Fill fill) {
    CK_ATTRIBUTE templ{CKA_CLASS, &objectClass, sizeof objectClass};
    CK_RV rv = f->C_FindObjectsInit(session, &templ, 1);
    if (rv != CKR_OK) return rv;

    CK_ULONG total = 0;
    for (;;) {
        CK_OBJECT_HANDLE handle = 0;
        CK_ULONG got = 0;
        rv = f->C_FindObjects(session, &handle, 1, &got);
        if (rv != CKR_OK || got == 0) break;
        if (total < capacity) fill(handle, total);
        ++total;
    }
    *found = total;
    return endSearch(f, session, rv);
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

// Starts the two-attribute search (ID, then class) and asks for one handle. On success with a
// handle, `*handle` is set and the search is still open; the caller ends it with endSearch.
CK_RV findFirst(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_OBJECT_CLASS objectClass,
                const unsigned char* id, CK_ULONG idLength, CK_OBJECT_HANDLE* handle, bool* found,
                bool* searchOpen) {
    *found = false;
    *searchOpen = false;
    // The module only reads the template; the API's type is not const.
    CK_ATTRIBUTE templ[2] = {
        {CKA_ID, const_cast<unsigned char*>(id), idLength},
        {CKA_CLASS, &objectClass, sizeof objectClass},
    };
    CK_RV rv = f->C_FindObjectsInit(session, templ, 2);
    if (rv != CKR_OK) return rv;
    *searchOpen = true;
    CK_ULONG got = 0;
    rv = f->C_FindObjects(session, handle, 1, &got);
    if (rv == CKR_OK) *found = got != 0;
    return rv;
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
    bool searchOpen = false;
    CK_RV rv = findFirst(f, session, keyClass, id, idLength, &handle, found, &searchOpen);
    if (rv == CKR_OK && *found) {
        entry->session = session;
        entry->object = handle;
        entry->objectClass = keyClass;
        std::memset(entry->id, 0, sizeof entry->id);
        if (idLength) std::memcpy(entry->id, id, idLength);
        entry->idLength = idLength;
        readIntoField(f, session, handle, CKA_LABEL, entry->label, sizeof entry->label, nullptr);
    }
    return searchOpen ? endSearch(f, session, rv) : rv;
}

CK_RV FindObjectById(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, const unsigned char* id,
                     CK_ULONG idLength, CertEntry* entry, bool* found) {
    if (!f || !entry || !found) return CKR_ARGUMENTS_BAD;
    *found = false;
    if (!idArgumentsFit(id, idLength)) return CKR_ARGUMENTS_BAD;

    CK_OBJECT_HANDLE handle = 0;
    bool searchOpen = false;
    CK_RV rv = findFirst(f, session, CKO_CERTIFICATE, id, idLength, &handle, found, &searchOpen);
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
    return searchOpen ? endSearch(f, session, rv) : rv;
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
