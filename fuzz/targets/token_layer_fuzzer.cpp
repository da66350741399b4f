// The token access layer and the PIN check session over a PKCS#11 module whose answers come
// from the fuzz input. The first byte picks the road: even, a sequence of API calls chosen by
// the input (every export, with caller buffers of input-chosen sizes); odd, one PIN check of the
// program's session with an input-chosen PIN and slot position.
//
// Beyond the sanitizers, a run fails when a text result is not terminated inside the caller's
// buffer, a presence answer is neither a flag nor an error code, a search is left open, or a
// layer record is lost (still allocated once the context is released).
#define OPENSSL_SUPPRESS_DEPRECATED

#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "fake_pkcs11.h"
#include "layer_blocks.h"
#include "oracle.h"
#include "pin_check_session.h"
#include "token_api.h"

const char* const fuzzsupport::kFuzzerName = "token layer fuzzer";

namespace {

using fuzzsupport::ByteSource;
using fuzzsupport::require;

constexpr TokenResult kBase = 0xDA000000u;

// A caller buffer of exactly the input's size, below `limit` (0xFF: none at all).
template <typename T>
struct CallerBuffer {
    CallerBuffer(ByteSource& in, unsigned limit) {
        const std::uint8_t b = in.byte();
        if (b != 0xFF) {
            size = b % limit;
            bytes.reset(new T[size]);
        }
        length = size;
    }
    std::unique_ptr<T[]> bytes;
    CK_ULONG size = 0;
    CK_ULONG length = 0;
};

void checkText(TokenResult rv, const CallerBuffer<char>& buffer) {
    if (rv == 0 && buffer.length != buffer.size) {
        require(buffer.length < buffer.size, "text length beyond the buffer");
        require(buffer.bytes[buffer.length] == '\0', "text not terminated");
    }
}

void useKey(ByteSource& in, EVP_PKEY* key) {
    std::unique_ptr<RSA, void (*)(RSA*)> held(EVP_PKEY_get1_RSA(key), RSA_free);
    RSA* rsa = held.get();
    if (!rsa) return;
    const int size = RSA_size(rsa);
    std::vector<unsigned char> out(static_cast<std::size_t>(size > 0 ? size : 1));
    unsigned char digest[36];
    in.bytes(digest, sizeof digest);
    const std::uint8_t how = in.byte();
    if (how % 3 == 0) {
        unsigned int length = 0;
        if (RSA_sign(NID_sha256, digest, 32, out.data(), &length, rsa) == 1)
            require(length <= out.size(), "signature longer than the key");
    } else if (how % 3 == 1) {
        unsigned int length = 0;
        RSA_sign(NID_md5_sha1, digest, 36, out.data(), &length, rsa);
    } else {
        const int flen = in.byte() % 40;
        std::vector<unsigned char> from(static_cast<std::size_t>(flen) + 1);
        in.bytes(from.data(), from.size());
        const int got = RSA_private_decrypt(flen, from.data(), out.data(), rsa, RSA_PKCS1_PADDING);
        require(got <= static_cast<int>(out.size()), "plaintext longer than the key");
    }
}

void apiSequence(ByteSource& in) {
    TokenContext ctx{};
    int ops = 0;
    while (!in.empty() && ops++ < 64) {
        const std::uint8_t op = in.byte() % 16;
        switch (op) {
            case 0:
                if (!ctx.library) InitLibrary("ZarqoPKCS11.so", &ctx);
                break;
            case 1: {
                CallerBuffer<char> b(in, 80);
                checkText(GetLibraryDesc(&ctx, b.bytes.get(), &b.length), b);
                break;
            }
            case 2: {
                CallerBuffer<CK_SLOT_ID> slots(in, 12);
                if (GetSlotID(&ctx, slots.bytes.get(), &slots.length) == 0 && slots.bytes)
                    require(slots.length <= slots.size, "slot count beyond the array");
                break;
            }
            case 4: {
                const TokenResult rv = IsTokenPresent(&ctx, in.byte());
                // Joined by OR, a vendor code's own top bits stay set beside the base.
                require(rv == 0 || rv == 1 || (rv & kBase) == kBase,
                        "presence answer neither flag nor code");
                break;
            }
            case 3:
            case 5:
            case 6: {
                const CK_SLOT_ID slot = in.byte();
                CallerBuffer<char> b(in, 80);
                auto* const query = op == 3   ? GetSlotDesc
                                    : op == 5 ? GetTokenLabel
                                              : GetTokenSerialNumber;
                checkText(query(&ctx, slot, b.bytes.get(), &b.length), b);
                break;
            }
            case 7: {
                const std::uint8_t kind = in.byte();
                std::string pin = in.until(0);
                if (kind == 1) pin.assign(300, 'x');  // longer than the layer takes
                CK_ULONG deviceError = 0;
                LoginToken(&ctx, in.byte(), kind == 0 ? nullptr : pin.c_str(), &deviceError);
                break;
            }
            case 8:
                LogoutToken(&ctx);
                break;
            case 9:
            case 10: {
                CK_ULONG count = 0;
                (op == 9 ? GetKeyNum : GetCertNum)(&ctx, &count);
                break;
            }
            case 11:
            case 12: {
                const CK_ULONG index = in.byte() % 16;
                CallerBuffer<unsigned char> id(in, 256);
                if ((op == 11 ? GetKeyID : GetCertID)(&ctx, index, id.bytes.get(), &id.length) == 0)
                    require(id.length <= id.size, "ID length beyond the buffer");
                break;
            }
            case 13:
            case 14: {
                unsigned char id[300];
                const std::uint8_t n = in.byte();
                const CK_ULONG idLength = n == 0xFF ? 300 : n % 24;
                in.bytes(id, idLength);
                if (op == 13) {
                    X509* cert = nullptr;
                    if (GetCert(&ctx, id, idLength, &cert) == 0)
                        require(cert != nullptr, "success without a certificate");
                    X509_free(cert);
                } else {
                    EVP_PKEY* key = nullptr;
                    if (GetKey(&ctx, id, idLength, &key) == 0) {
                        require(key != nullptr, "success without a key");
                        useKey(in, key);
                    }
                    FreeKey(key);
                }
                break;
            }
            default:
                CloseLibrary(&ctx);
                break;
        }
        require(fuzzsupport::fakeModuleOpenSearches() == 0, "object search left open");
    }
    if (ctx.session) LogoutToken(&ctx);
    CloseLibrary(&ctx);
    require(ctx.library == nullptr && ctx.session == nullptr, "context still bound");
    require(fuzzsupport::liveLayerBlocks() == 0, "layer record lost");
}

void pinCheck(ByteSource& in) {
    const std::string pin = in.until(0);
    const auto position = static_cast<std::int8_t>(in.byte());
    {
        pincheck::TamrinCA session;
        session.setRequestedSlot(position);
        session.checkPin(pin);
    }
    // After a failed slot step (or a refused second logout) the program keeps the module bound
    // until the process ends, and with it the binding record; here the "process" ends now.
    if (fuzzsupport::fakeModuleInitialized()) fuzzsupport::releaseLayerBlocks();
    require(fuzzsupport::liveLayerBlocks() == 0, "layer record lost after the PIN check");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::trackLayerBlocks();
    // The token key prints one diagnostic line per failed signature, as the program does.
    if (!std::freopen("/dev/null", "w", stdout)) return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteSource in(data, size);
    fuzzsupport::fakeModuleReset(&in);
    if (in.byte() % 2 == 0)
        apiSequence(in);
    else
        pinCheck(in);
    fuzzsupport::fakeModuleReset(nullptr);
    return 0;
}
