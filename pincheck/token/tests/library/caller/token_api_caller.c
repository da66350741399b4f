/*
 * A program of someone else's, built against the installed token API library: it walks the API
 * from binding to release on the first token that accepts the PIN, signs with the token's key and
 * verifies the signature with the token's certificate, and has the key decrypt what the
 * certificate's public key encrypted. One line per step on standard output; exit status 0 when
 * every step gave what the API promises, 1 otherwise (the failing step on standard error).
 *
 *   token_api_caller MODULE PIN
 */
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <stdio.h>
#include <string.h>
#include <token_api.h>

#define MAX_SLOTS 10
#define TEXT_SIZE 80
#define ID_SIZE 256

static int failed(const char* step, unsigned long code) {
    fflush(stdout); /* the steps so far come first */
    fprintf(stderr, "FAIL: %s: 0x%08lX\n", step, code);
    return 1;
}

/* Signs with the token's key, verifies with the certificate's public key. */
static int signAndVerify(EVP_PKEY* key, EVP_PKEY* certKey) {
    static const char message[] = "signed through the token API";
    unsigned char signature[1024];
    size_t length = sizeof signature;
    int ok = 0;
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    if (md && EVP_DigestSignInit(md, NULL, EVP_sha256(), NULL, key) == 1 &&
        EVP_DigestSign(md, signature, &length, (const unsigned char*)message, sizeof message - 1) ==
            1) {
        EVP_MD_CTX_reset(md);
        ok = EVP_DigestVerifyInit(md, NULL, EVP_sha256(), NULL, certKey) == 1 &&
             EVP_DigestVerify(md, signature, length, (const unsigned char*)message,
                              sizeof message - 1) == 1;
    }
    EVP_MD_CTX_free(md);
    return ok;
}

/* Encrypts with the certificate's public key, decrypts with the token's key. */
static int encryptAndDecrypt(EVP_PKEY* key, EVP_PKEY* certKey) {
    static const unsigned char plain[] = "a secret for the token";
    unsigned char encrypted[1024];
    unsigned char decrypted[1024];
    size_t encryptedLength = sizeof encrypted;
    size_t decryptedLength = sizeof decrypted;
    int ok = 0;
    EVP_PKEY_CTX* enc = EVP_PKEY_CTX_new(certKey, NULL);
    EVP_PKEY_CTX* dec = EVP_PKEY_CTX_new(key, NULL);
    if (enc && dec && EVP_PKEY_encrypt_init(enc) == 1 &&
        EVP_PKEY_CTX_set_rsa_padding(enc, RSA_PKCS1_PADDING) == 1 &&
        EVP_PKEY_encrypt(enc, encrypted, &encryptedLength, plain, sizeof plain) == 1 &&
        EVP_PKEY_decrypt_init(dec) == 1 &&
        EVP_PKEY_CTX_set_rsa_padding(dec, RSA_PKCS1_PADDING) == 1 &&
        EVP_PKEY_decrypt(dec, decrypted, &decryptedLength, encrypted, encryptedLength) == 1)
        ok = decryptedLength == sizeof plain && memcmp(decrypted, plain, sizeof plain) == 0;
    EVP_PKEY_CTX_free(enc);
    EVP_PKEY_CTX_free(dec);
    return ok;
}

/* The certificate whose CKA_ID equals the key's. */
static TokenResult findCertificate(TokenContext* ctx, const unsigned char* id, CK_ULONG idLength,
                                   X509** cert) {
    CK_ULONG count = 0;
    TokenResult r = GetCertNum(ctx, &count);
    if (r != 0) return r;
    printf("certificates: %lu\n", (unsigned long)count);
    for (CK_ULONG i = 0; i < count; ++i) {
        unsigned char certId[ID_SIZE];
        CK_ULONG length = sizeof certId;
        r = GetCertID(ctx, i, certId, &length);
        if (r != 0) return r;
        if (length == idLength && memcmp(certId, id, idLength) == 0)
            return GetCert(ctx, id, idLength, cert);
    }
    return 0xDA001002u;
}

/* The token's texts, keys, certificate, signature and decryption in a logged-in session. */
static int useToken(TokenContext* ctx, CK_SLOT_ID slot) {
    char text[TEXT_SIZE];
    CK_ULONG length = sizeof text;
    TokenResult r = GetTokenLabel(ctx, slot, text, &length);
    if (r != 0) return failed("GetTokenLabel", r);
    printf("token: %s\n", text);
    length = sizeof text;
    r = GetTokenSerialNumber(ctx, slot, text, &length);
    if (r != 0) return failed("GetTokenSerialNumber", r);
    printf("serial: %s\n", text);

    CK_ULONG keys = 0;
    r = GetKeyNum(ctx, &keys);
    if (r != 0 || keys == 0) return failed("GetKeyNum", r);
    printf("keys: %lu\n", (unsigned long)keys);
    unsigned char id[ID_SIZE];
    CK_ULONG idLength = 0;
    r = GetKeyID(ctx, 0, NULL, &idLength); /* a null buffer learns the length */
    if (r != 0x150u || idLength == 0 || idLength > sizeof id) return failed("GetKeyID length", r);
    r = GetKeyID(ctx, 0, id, &idLength);
    if (r != 0) return failed("GetKeyID", r);
    printf("key id: ");
    for (CK_ULONG i = 0; i < idLength; ++i) printf("%02x", id[i]);
    printf("\n");

    X509* cert = NULL;
    r = findCertificate(ctx, id, idLength, &cert);
    if (r != 0) return failed("GetCert", r);
    EVP_PKEY* key = NULL;
    r = GetKey(ctx, id, idLength, &key);
    if (r != 0) {
        X509_free(cert);
        return failed("GetKey", r);
    }
    EVP_PKEY* certKey = X509_get0_pubkey(cert);
    int status = 0;
    if (!certKey || !signAndVerify(key, certKey)) {
        status = failed("sign and verify with the certificate", 0);
    } else {
        printf("signature verified with the certificate\n");
        if (!encryptAndDecrypt(key, certKey)) {
            status = failed("decrypt", 0);
        } else {
            printf("decrypted what the certificate encrypted\n");
        }
    }
    if (FreeKey(key) != 0) status = failed("FreeKey", 0);
    X509_free(cert);
    return status;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s MODULE PIN\n", argv[0]);
        return 2;
    }
    TokenContext ctx;
    TokenResult r = InitLibrary(argv[1], &ctx);
    if (r != 0) return failed("InitLibrary", r);
    char text[TEXT_SIZE];
    CK_ULONG length = sizeof text;
    r = GetLibraryDesc(&ctx, text, &length);
    if (r != 0) return failed("GetLibraryDesc", r);
    printf("library: %s\n", text);

    CK_SLOT_ID slots[MAX_SLOTS];
    CK_ULONG count = MAX_SLOTS;
    r = GetSlotID(&ctx, slots, &count);
    if (r != 0) return failed("GetSlotID", r);
    printf("slots: %lu\n", (unsigned long)count);

    int status = 1;
    int used = 0;
    for (CK_ULONG i = 0; i < count && !used; ++i) {
        if (IsTokenPresent(&ctx, slots[i]) != 1) continue;
        CK_ULONG deviceError = 0;
        if (LoginToken(&ctx, slots[i], argv[2], &deviceError) != 0) continue;
        used = 1;
        status = useToken(&ctx, slots[i]);
        r = LogoutToken(&ctx);
        if (r != 0) status = failed("LogoutToken", r);
    }
    if (!used) failed("no slot accepted the PIN", 0);
    r = CloseLibrary(&ctx);
    if (r != 0) status = failed("CloseLibrary", r);
    if (status == 0) printf("done\n");
    return status;
}
