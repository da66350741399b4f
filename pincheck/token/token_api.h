/*
 * Token access API: a PKCS#11 module behind seventeen plain functions with C linkage. The pincheck
 * program exports them by name and uses them itself; other programs link the shared library
 * (libtokenapi.so.1, tokenapi.dll) that is built from the same sources and exports exactly these
 * names. Find it with `pkg-config --cflags --libs tokenapi` or CMake's find_package(TokenApi)
 * (target TokenApi::tokenapi); both also bring the crypto library (libcrypto) whose X509_free and
 * EVP_PKEY functions work on what GetCert and GetKey return.
 *
 * Ownership: the caller owns the TokenContext, slot arrays and every buffer it passes. The layer
 * owns what it hangs on the context (module binding, session record) and frees it in CloseLibrary
 * and LogoutToken. Certificates from GetCert belong to the caller (X509_free); keys from GetKey
 * belong to the caller (FreeKey).
 *
 * Order of release: FreeKey every key, LogoutToken, then CloseLibrary. A key reaches the module
 * through the session that found it and keeps the module loaded until FreeKey: used after
 * LogoutToken or CloseLibrary, its private operations fail with the module's answer (for a
 * finalised module CKR_CRYPTOKI_NOT_INITIALIZED) in the crypto library's error queue.
 *
 * Threads. The layer keeps no per-thread state and takes no locks of its own. It initialises the
 * module without locking callbacks, which under PKCS#11 tells the module that it is never entered
 * from two threads at once. So:
 *   - Calls that reach one module must not overlap: every function below on a context bound to
 *     that module, and every private operation (sign, decrypt) of a key that GetKey opened from
 *     it. The caller serialises them, for example with one mutex per module held around each
 *     call.
 *   - Any thread may make these calls one after another: a context, its session and its keys may
 *     pass from thread to thread; nothing is tied to the thread that bound the module.
 *   - Contexts bound to different modules share nothing of the layer and may be used from
 *     different threads at the same time.
 *   - Bind a module in one context at a time. A second context on the same module shares its
 *     state: under PKCS#11 a login belongs to the token, not to a session, and CloseLibrary
 *     finalises the module for every context.
 *   - Certificates from GetCert are plain crypto-library objects, independent of the module.
 *     The public half of a key from GetKey (verify, encrypt) is computed by the crypto library
 *     without the module.
 *
 * Result codes (32-bit, 0 is success):
 *   0xDA000000 | CKR   the module or the bridge answered that CKR value (0xDA0000A0 wrong PIN,
 *                      0xDA0000A2 PIN length out of range, 0xDA000006 module not loadable, ...)
 *   0xDA000190         the context has no bound module
 *   0xDA000100         LoginToken while the context already holds a session
 *   0xDA000101         a call that needs a session while the context holds none
 *   0xDA000150         a text does not fit the caller's buffer, or the slot array is too small
 *   0x00000150         an object ID does not fit the caller's buffer (GetKeyID, GetCertID)
 *   0xDA001001         the layer could not allocate one of its records
 *   0xDA001002         no key or certificate carries the given ID
 *   0xDA001003         the index is not below the number of objects
 *   0xDA001004         the found object did not yield a crypto-library object
 *
 * Text outputs follow one rule: trailing blanks and NULs of the module's fixed-width field are cut;
 * an all-blank field leaves buffer and length untouched (result 0); a buffer smaller than the text
 * plus its NUL gets the needed length (without the NUL) and 0xDA000150.
 */
#pragma once

#include <p11-kit/pkcs11.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* On Windows the layer's own build (pincheck, tokenapi.dll) exports the names; a caller of the
 * DLL gets them imported when TOKEN_API_IMPORTS is defined, as pkg-config and find_package do.
 * Without it a call still links, through the import library's stub. */
#if defined(_WIN32) && defined(TOKEN_API_IMPORTS)
#define TOKEN_API __declspec(dllimport)
#elif defined(_WIN32)
#define TOKEN_API __declspec(dllexport)
#else
#define TOKEN_API __attribute__((visibility("default")))
#endif

typedef struct x509_st X509;
typedef struct evp_pkey_st EVP_PKEY;

typedef uint32_t TokenResult;

/* Caller-owned; the words are pointer-sized so a 64-bit build can hold the layer's records. */
typedef struct TokenContext {
    void* library;      /* LibraryBinding, null while no module is bound */
    void* session;      /* SessionRecord, null while no PKCS#11 session is held */
    uintptr_t reserved; /* zeroed by InitLibrary, otherwise unused */
} TokenContext;

/* Binds the module by file name and initialises it. Linux: the dynamic linker's search order.
 * Windows: a plain name is looked for in the folder of the calling program's .exe, then in the
 * system folder (System32), and nowhere else: never in the current working folder, the PATH
 * folders or folders added with SetDllDirectory/AddDllDirectory, since the module receives the
 * PIN. The module's own dependencies are searched the same way, plus the module's folder when
 * moduleName is a full path. This applies to this load only: the process's DLL search settings
 * (SetDllDirectory, SetDefaultDllDirectories) are neither read nor changed. */
TOKEN_API TokenResult InitLibrary(const char* moduleName, TokenContext* ctx);
/* Finalises and unloads the module; does not end a session (call LogoutToken first). */
TOKEN_API TokenResult CloseLibrary(TokenContext* ctx);
/* CK_INFO.libraryDescription (32 characters); length in bytes, without the NUL. */
TOKEN_API TokenResult GetLibraryDesc(TokenContext* ctx, char* text, CK_ULONG* length);
/* IDs of all slots, with or without a token; *count holds the array's capacity on entry. */
TOKEN_API TokenResult GetSlotID(TokenContext* ctx, CK_SLOT_ID* slots, CK_ULONG* count);
/* CK_SLOT_INFO.slotDescription (64 characters). */
TOKEN_API TokenResult GetSlotDesc(TokenContext* ctx, CK_SLOT_ID slot, char* text, CK_ULONG* length);
/* 1 if the slot holds a token, 0 if not, otherwise an error code. */
TOKEN_API TokenResult IsTokenPresent(TokenContext* ctx, CK_SLOT_ID slot);
/* CK_TOKEN_INFO.label (32 characters). */
TOKEN_API TokenResult GetTokenLabel(TokenContext* ctx, CK_SLOT_ID slot, char* text,
                                    CK_ULONG* length);
/* CK_TOKEN_INFO.serialNumber (16 characters). */
TOKEN_API TokenResult GetTokenSerialNumber(TokenContext* ctx, CK_SLOT_ID slot, char* text,
                                           CK_ULONG* length);

/* Opens a read-only session on the slot and, given a NUL-terminated PIN of at most 255 bytes,
 * logs the user in. *deviceError receives CK_SESSION_INFO.ulDeviceError after the login attempt
 * whenever the module reports it (preset it). */
TOKEN_API TokenResult LoginToken(TokenContext* ctx, CK_SLOT_ID slot, const char* pin,
                                 CK_ULONG* deviceError);
/* Logs out (if logged in) and closes the session; may be called again after an error. */
TOKEN_API TokenResult LogoutToken(TokenContext* ctx);

/* Counts of private keys and certificates the session sees. */
TOKEN_API TokenResult GetKeyNum(TokenContext* ctx, CK_ULONG* count);
TOKEN_API TokenResult GetCertNum(TokenContext* ctx, CK_ULONG* count);
/* CKA_ID of the object at the index (module order); a null buffer learns the length. */
TOKEN_API TokenResult GetKeyID(TokenContext* ctx, CK_ULONG index, unsigned char* id,
                               CK_ULONG* length);
TOKEN_API TokenResult GetCertID(TokenContext* ctx, CK_ULONG index, unsigned char* id,
                                CK_ULONG* length);
/* The certificate with that CKA_ID, parsed from its DER value; *cert is set to null first. */
TOKEN_API TokenResult GetCert(TokenContext* ctx, const unsigned char* id, CK_ULONG idLength,
                              X509** cert);
/* The private key with that CKA_ID as an RSA key whose private operations run on the token;
 * *key is set to null first. Valid while the session that found it is open. */
TOKEN_API TokenResult GetKey(TokenContext* ctx, const unsigned char* id, CK_ULONG idLength,
                             EVP_PKEY** key);
/* Releases a key from GetKey (null allowed); always 0. */
TOKEN_API TokenResult FreeKey(EVP_PKEY* key);

#ifdef __cplusplus
}
#endif
