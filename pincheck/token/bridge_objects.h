// PKCS#11 bridge for token objects: searching for keys and certificates, reading their
// attributes, and the private-key operations. Each function takes the module's function list and
// the handles it needs and answers the bare CKR value; none knows of TokenContext.
#pragma once

#include <p11-kit/pkcs11.h>

#include <cstddef>

namespace token {

// Field sizes of the object records. Labels and IDs on the card fit 256 bytes; a DER certificate
// of the card fits 4096. The module writes straight into these fields, so every read passes the
// field's full size and every later copy out of a field is bounded by it again.
constexpr std::size_t kLabelFieldSize = 256;
constexpr std::size_t kIdFieldSize = 256;
constexpr std::size_t kCertValueFieldSize = 4096;

// A listed or found private (or public) key.
struct KeyEntry {
    CK_SESSION_HANDLE session;
    CK_OBJECT_HANDLE object;
    CK_OBJECT_CLASS objectClass;
    unsigned char label[kLabelFieldSize];
    unsigned char id[kIdFieldSize];
    // As the module reported it for CKA_ID: all ones when absent, sensitive or too long, and a
    // broken module may report more than the field holds. Never a copy length on its own.
    CK_ULONG idLength;
};

// A listed or found certificate.
struct CertEntry {
    CK_SESSION_HANDLE session;
    CK_OBJECT_HANDLE object;
    unsigned char value[kCertValueFieldSize];
    CK_ULONG valueLength;  // as reported for CKA_VALUE; same caution as idLength
    unsigned char label[kLabelFieldSize];
    unsigned char id[kIdFieldSize];
    CK_ULONG idLength;
};

// Lists the objects of a class in the session's module order. `count` holds the capacity of
// `entries` on entry (0 with a null array just counts) and receives the number of objects found,
// also beyond the capacity. Fills min(found, capacity) entries. Answers CKR_BUFFER_TOO_SMALL when
// an array was given and more objects exist than it holds. The key form accepts CKO_PRIVATE_KEY
// and CKO_PUBLIC_KEY only (CKR_ARGUMENTS_BAD otherwise). Without a function list: the key form
// answers CKR_CRYPTOKI_NOT_INITIALIZED, the certificate form CKR_ARGUMENTS_BAD. The search is
// always ended, also after a failed step, so the session stays usable for the next search.
CK_RV ListTokenObjects(CK_FUNCTION_LIST_PTR functions, CK_SESSION_HANDLE session,
                       CK_OBJECT_CLASS keyClass, KeyEntry* entries, CK_ULONG* count);
CK_RV ListTokenObjects(CK_FUNCTION_LIST_PTR functions, CK_SESSION_HANDLE session,
                       CertEntry* entries, CK_ULONG* count);

// Finds the first object of the class with exactly this CKA_ID. The caller provides the entry;
// `*found` tells whether an object was there. The entry's ID is the caller's (at most
// kIdFieldSize bytes, longer answers CKR_ARGUMENTS_BAD before any module call). For a
// certificate the value is read, and a failed read is the answer.
CK_RV FindObjectById(CK_FUNCTION_LIST_PTR functions, CK_SESSION_HANDLE session,
                     CK_OBJECT_CLASS keyClass, const unsigned char* id, CK_ULONG idLength,
                     KeyEntry* entry, bool* found);
CK_RV FindObjectById(CK_FUNCTION_LIST_PTR functions, CK_SESSION_HANDLE session,
                     const unsigned char* id, CK_ULONG idLength, CertEntry* entry, bool* found);

// One attribute of an object into a caller buffer; `length` holds the buffer size on entry and
// receives what the module reported.
CK_RV ReadAttribute(CK_FUNCTION_LIST_PTR functions, CK_SESSION_HANDLE session,
                    CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type, void* buffer,
                    CK_ULONG* length);

// The private-key operations with CKM_RSA_PKCS: the module applies the PKCS#1 v1.5 block format.
// `outLength` holds the output buffer's size on entry. Without a function list they answer
// CKR_CRYPTOKI_NOT_INITIALIZED.
CK_RV SignInit(CK_FUNCTION_LIST_PTR functions, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key);
CK_RV Sign(CK_FUNCTION_LIST_PTR functions, CK_SESSION_HANDLE session, const unsigned char* data,
           CK_ULONG dataLength, unsigned char* out, CK_ULONG* outLength);
CK_RV DecryptInit(CK_FUNCTION_LIST_PTR functions, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key);
CK_RV Decrypt(CK_FUNCTION_LIST_PTR functions, CK_SESSION_HANDLE session, const unsigned char* data,
              CK_ULONG dataLength, unsigned char* out, CK_ULONG* outLength);

}  // namespace token
