// The object part of the test module: keys and certificates told by the script, the search over
// them, attribute reads under the standard's length rules, and RSA PKCS#1 v1.5 signing and
// decryption with a real key (OpenSSL), so that what a caller signs through the module verifies
// with OpenSSL.
//
// Script lines (values: hex bytes, or quoted text where noted):
//   key  slot=N [id=HEX] [label="T"] [pem=PATH] [private=yes|no] [id-length=N] [modulus=no]
//   cert slot=N [id=HEX] [label="T"] [der=PATH | value=HEX | value-size=N] [value-length=N]
// A key without pem= has no private half: its CKA_MODULUS and CKA_PUBLIC_EXPONENT are absent
// and it refuses to sign. Without id= the object has no CKA_ID (the length word reads all ones).
// id-length=N and value-length=N make a misbehaving module: it answers CKR_OK with that length
// word and writes nothing. value-size=N is a value of N bytes 0x30 that is no certificate.
// Keys are private objects (seen only after a login) unless private=no; certificates are public.
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "entries.h"

namespace p11mock {
namespace {

struct MockObject {
    CK_OBJECT_HANDLE handle = 0;
    CK_SLOT_ID slot = 0;
    bool isPrivate = false;
    std::map<CK_ATTRIBUTE_TYPE, std::string> attributes;
    // A length word reported for the attribute instead of its value (a broken module).
    std::map<CK_ATTRIBUTE_TYPE, CK_ULONG> reportedLength;
    std::shared_ptr<EVP_PKEY> key;  // private half, for sign and decrypt
};

// The operation a session has begun: C_SignInit and C_Sign, C_DecryptInit and C_Decrypt.
enum class Operation { None, Sign, Decrypt };

struct SessionObjects {
    bool searching = false;
    std::vector<CK_OBJECT_HANDLE> results;
    std::size_t next = 0;
    Operation operation = Operation::None;
    CK_OBJECT_HANDLE operationKey = 0;
};

struct Objects {
    std::vector<MockObject> objects;
    std::map<CK_SESSION_HANDLE, SessionObjects> sessions;
};

Objects& objects() {
    static Objects o;
    return o;
}

// Handles well away from session handles, so a mix-up shows in the log.
constexpr CK_OBJECT_HANDLE kFirstHandle = 0x100;

std::string ulongBytes(CK_ULONG v) {
    return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}

bool readFile(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

std::string bnBytes(const BIGNUM* bn) {
    std::string out(static_cast<std::size_t>(BN_num_bytes(bn)), '\0');
    BN_bn2bin(bn, reinterpret_cast<unsigned char*>(&out[0]));
    return out;
}

std::string loadKey(const std::string& path, MockObject& object, bool withModulus) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_file(path.c_str(), "rb"), BIO_free);
    if (!bio) return "cannot read " + path;
    EVP_PKEY* key = PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr);
    if (!key) return "no private key in " + path;
    object.key.reset(key, EVP_PKEY_free);
    if (EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) return "not an RSA key: " + path;
    BIGNUM* n = nullptr;
    BIGNUM* e = nullptr;
    const bool got = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n) &&
                     EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &e);
    std::unique_ptr<BIGNUM, decltype(&BN_free)> heldN(n, BN_free), heldE(e, BN_free);
    if (!got) return "no public half in " + path;
    if (withModulus) object.attributes[CKA_MODULUS] = bnBytes(n);
    object.attributes[CKA_PUBLIC_EXPONENT] = bnBytes(e);
    object.attributes[CKA_KEY_TYPE] = ulongBytes(CKK_RSA);
    return {};
}

std::string objectLine(const ScriptLine& line, MockObject& object) {
    static const char* const kKnown[] = {"slot",       "id",        "label",       "pem",
                                         "private",    "modulus",   "der",         "value",
                                         "value-size", "id-length", "value-length"};
    for (const auto& entry : line.named)
        if (std::find(std::begin(kKnown), std::end(kKnown), entry.first) == std::end(kKnown))
            return "unknown setting " + entry.first;
    if (!line.has("slot")) return line.command + " needs slot=";
    const bool key = line.command == "key";
    if (line.has("pem") && !key) return "pem= is for key lines";
    const bool hasValue = line.has("der") || line.has("value") || line.has("value-size");
    if (line.has("der") + line.has("value") + line.has("value-size") > 1)
        return "one of der=, value=, value-size=";

    object.attributes[CKA_CLASS] = ulongBytes(key ? CKO_PRIVATE_KEY : CKO_CERTIFICATE);
    object.isPrivate = key;
    bool withModulus = true;
    CK_ULONG valueSize = 0;
    std::string id, value;
    std::string why = firstRefusal(
        {line.number("slot", object.slot), line.choice("private", "yes", "no", object.isPrivate),
         line.hex("id", id), line.choice("modulus", "yes", "no", withModulus),
         line.hex("value", value), line.number("value-size", valueSize)});
    if (!why.empty()) return why;
    if (!findSlot(object.slot)) return "no slot " + line.named.at("slot");
    if (line.has("id")) object.attributes[CKA_ID] = id;
    if (line.has("label")) object.attributes[CKA_LABEL] = line.named.at("label");
    for (const auto& [name, type] :
         {std::pair{"id-length", CKA_ID}, std::pair{"value-length", CKA_VALUE}})
        if (line.has(name) && !(why = line.number(name, object.reportedLength[type])).empty())
            return why;
    if (line.has("pem") && !(why = loadKey(line.named.at("pem"), object, withModulus)).empty())
        return why;
    if (line.has("der") && !readFile(line.named.at("der"), value))
        return "cannot read " + line.named.at("der");
    if (line.has("value-size")) value.assign(valueSize, '\x30');
    if (hasValue) object.attributes[CKA_VALUE] = value;
    return {};
}

// What a session of `slot` may see: its own slot's objects, private ones only after a login.
bool visibleIn(const MockObject& object, const SlotState& slot) {
    return object.slot == slot.id && (!object.isPrivate || slot.token.loggedIn);
}

MockObject* visibleObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle) {
    const SlotState* slot = sessionSlot(session);
    for (auto& object : objects().objects)
        if (object.handle == handle) return slot && visibleIn(object, *slot) ? &object : nullptr;
    return nullptr;
}

bool matches(const MockObject& object, const CK_ATTRIBUTE* templ, CK_ULONG count) {
    for (CK_ULONG i = 0; i < count; ++i) {
        auto it = object.attributes.find(templ[i].type);
        if (it == object.attributes.end() || it->second.size() != templ[i].ulValueLen) return false;
        if (templ[i].ulValueLen &&
            std::memcmp(it->second.data(), templ[i].pValue, templ[i].ulValueLen))
            return false;
    }
    return true;
}

std::string attributeName(CK_ATTRIBUTE_TYPE type) {
    static const std::pair<CK_ATTRIBUTE_TYPE, const char*> kNames[] = {
        {CKA_CLASS, "class"}, {CKA_ID, "id"},           {CKA_LABEL, "label"},
        {CKA_VALUE, "value"}, {CKA_MODULUS, "modulus"}, {CKA_PUBLIC_EXPONENT, "exponent"}};
    for (const auto& known : kNames)
        if (known.first == type) return known.second;
    char text[32];
    std::snprintf(text, sizeof text, "0x%lX", static_cast<unsigned long>(type));
    return text;
}

CK_RV mockFindObjectsInit(CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR templ, CK_ULONG count) {
    Call call("C_FindObjectsInit");
    call.arg("session", session);
    for (CK_ULONG i = 0; templ && i < count; ++i) {
        const std::string name = attributeName(templ[i].type);
        if (templ[i].type == CKA_CLASS && templ[i].pValue &&
            templ[i].ulValueLen == sizeof(CK_ULONG))
            call.arg(name.c_str(), *static_cast<const CK_ULONG*>(templ[i].pValue));
        else
            call.arg(name.c_str(), templ[i].pValue, templ[i].ulValueLen);
    }
    if (CK_RV rv = call.refusal(session)) return call.done(rv);
    if (!templ && count) return call.done(CKR_ARGUMENTS_BAD);
    SessionObjects& so = objects().sessions[session];
    if (so.searching) return call.done(CKR_OPERATION_ACTIVE);
    so.results.clear();
    so.next = 0;
    const SlotState* slot = sessionSlot(session);
    for (const auto& object : objects().objects) {
        if (visibleIn(object, *slot) && matches(object, templ, count))
            so.results.push_back(object.handle);
    }
    so.searching = true;
    return call.done(CKR_OK);
}

CK_RV mockFindObjects(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE_PTR found, CK_ULONG maxCount,
                      CK_ULONG_PTR count) {
    Call call("C_FindObjects");
    call.arg("session", session).arg("max", maxCount);
    if (CK_RV rv = call.refusal(session)) return call.done(rv);
    SessionObjects& so = objects().sessions[session];
    if (!so.searching) return call.done(CKR_OPERATION_NOT_INITIALIZED);
    if (!found || !count) return call.done(CKR_ARGUMENTS_BAD);
    CK_ULONG n = 0;
    while (n < maxCount && so.next < so.results.size()) found[n++] = so.results[so.next++];
    *count = n;
    call.arg("count", n);
    return call.done(CKR_OK);
}

CK_RV mockFindObjectsFinal(CK_SESSION_HANDLE session) {
    Call call("C_FindObjectsFinal");
    call.arg("session", session);
    if (CK_RV rv = call.refusal(session)) return call.done(rv);
    SessionObjects& so = objects().sessions[session];
    if (!so.searching) return call.done(CKR_OPERATION_NOT_INITIALIZED);
    so.searching = false;
    so.results.clear();
    return call.done(CKR_OK);
}

CK_RV mockGetAttributeValue(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle,
                            CK_ATTRIBUTE_PTR templ, CK_ULONG count) {
    Call call("C_GetAttributeValue");
    call.arg("session", session).arg("object", handle);
    for (CK_ULONG i = 0; templ && i < count; ++i)
        call.arg(attributeName(templ[i].type).c_str(), templ[i].ulValueLen);
    CK_RV rv = call.refusal(session);
    if (rv != CKR_OK) return call.done(rv);
    if (!templ && count) return call.done(CKR_ARGUMENTS_BAD);
    const MockObject* object = visibleObject(session, handle);
    if (!object) return call.done(CKR_OBJECT_HANDLE_INVALID);
    // Every attribute is answered; the call's result is the last trouble met, as the
    // standard lets a module report any one of them.
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_ATTRIBUTE& a = templ[i];
        const auto glitch = object->reportedLength.find(a.type);
        const auto it = object->attributes.find(a.type);
        const bool absent = it == object->attributes.end();
        if (glitch != object->reportedLength.end()) {
            a.ulValueLen = glitch->second;
        } else if (absent || (a.pValue && a.ulValueLen < it->second.size())) {
            rv = absent ? CKR_ATTRIBUTE_TYPE_INVALID : CKR_BUFFER_TOO_SMALL;
            a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
        } else {
            if (a.pValue && !it->second.empty())
                std::memcpy(a.pValue, it->second.data(), it->second.size());
            a.ulValueLen = it->second.size();
        }
    }
    return call.done(rv);
}

template <Operation kind>
CK_RV mockOperationInit(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism,
                        CK_OBJECT_HANDLE key) {
    Call call(kind == Operation::Sign ? "C_SignInit" : "C_DecryptInit");
    call.arg("session", session).arg("key", key);
    if (mechanism) call.arg("mechanism", mechanism->mechanism);
    if (CK_RV rv = call.refusal(session)) return call.done(rv);
    if (!mechanism) return call.done(CKR_ARGUMENTS_BAD);
    SessionObjects& so = objects().sessions[session];
    if (so.operation != Operation::None) return call.done(CKR_OPERATION_ACTIVE);
    // Without a login the key is not visible, and the module answers as a token does.
    const SlotState* slot = sessionSlot(session);
    if (slot && !slot->token.loggedIn) return call.done(CKR_USER_NOT_LOGGED_IN);
    const MockObject* object = visibleObject(session, key);
    if (!object || !object->key) return call.done(CKR_KEY_HANDLE_INVALID);
    if (mechanism->mechanism != CKM_RSA_PKCS || mechanism->pParameter)
        return call.done(CKR_MECHANISM_INVALID);
    so.operation = kind;
    so.operationKey = key;
    return call.done(CKR_OK);
}

// Runs the RSA PKCS#1 v1.5 operation of the session with the standard's output rules: a null
// output learns the length and keeps the operation; a short one answers CKR_BUFFER_TOO_SMALL
// and keeps it; anything else ends it.
template <Operation kind>
CK_RV mockOperation(CK_SESSION_HANDLE session, CK_BYTE_PTR in, CK_ULONG inLength, CK_BYTE_PTR out,
                    CK_ULONG_PTR outLength) {
    Call call(kind == Operation::Sign ? "C_Sign" : "C_Decrypt");
    call.arg("session", session).arg("length", inLength).argPointer("out", out);
    if (CK_RV rv = call.refusal(session)) return call.done(rv);
    SessionObjects& so = objects().sessions[session];
    if (so.operation != kind) return call.done(CKR_OPERATION_NOT_INITIALIZED);
    if (!outLength || (!in && inLength)) return call.done(CKR_ARGUMENTS_BAD);
    // Every answer but a length query or a short buffer ends the operation.
    auto end = [&](CK_RV rv) {
        so.operation = Operation::None;
        return call.done(rv);
    };
    const MockObject* object = visibleObject(session, so.operationKey);
    if (!object || !object->key) return end(CKR_KEY_HANDLE_INVALID);
    EVP_PKEY* key = object->key.get();
    const CK_ULONG k = static_cast<CK_ULONG>(EVP_PKEY_get_size(key));
    call.arg("room", *outLength);
    if (!out) {
        *outLength = k;
        return call.done(CKR_OK);
    }

    const bool sign = kind == Operation::Sign;
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(key, nullptr),
                                                                    EVP_PKEY_CTX_free);
    const bool ready =
        ctx && (sign ? EVP_PKEY_sign_init(ctx.get()) : EVP_PKEY_decrypt_init(ctx.get())) > 0 &&
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) > 0;
    if (!ready) return end(CKR_GENERAL_ERROR);
    if (sign ? inLength + 11 > k : inLength != k)
        return end(sign ? CKR_DATA_LEN_RANGE : CKR_ENCRYPTED_DATA_LEN_RANGE);
    std::vector<unsigned char> result(k);
    std::size_t resultLength = result.size();
    const int made = sign ? EVP_PKEY_sign(ctx.get(), result.data(), &resultLength, in, inLength)
                          : EVP_PKEY_decrypt(ctx.get(), result.data(), &resultLength, in, inLength);
    if (made <= 0) return end(sign ? CKR_FUNCTION_FAILED : CKR_ENCRYPTED_DATA_INVALID);
    if (*outLength < resultLength) {
        *outLength = resultLength;
        return call.done(CKR_BUFFER_TOO_SMALL);
    }
    std::memcpy(out, result.data(), resultLength);
    *outLength = resultLength;
    return end(CKR_OK);
}

}  // namespace

std::string objectsScriptLine(const ScriptLine& line) {
    MockObject object;
    std::string why = objectLine(line, object);
    if (!why.empty()) return why;
    object.handle = kFirstHandle + objects().objects.size();
    objects().objects.push_back(std::move(object));
    return {};
}

void objectsReset() {
    objects() = Objects();
}

void objectsSessionClosed(CK_SESSION_HANDLE session) {
    auto it = objects().sessions.find(session);
    if (it == objects().sessions.end()) return;
    // Worth seeing in the log: a caller that forgot C_FindObjectsFinal.
    if (it->second.searching)
        logLine("note: session " + std::to_string(session) + " closed during a search");
    objects().sessions.erase(it);
}

void objectEntries(CK_FUNCTION_LIST& list) {
    list.C_FindObjectsInit = guard<mockFindObjectsInit>;
    list.C_FindObjects = guard<mockFindObjects>;
    list.C_FindObjectsFinal = guard<mockFindObjectsFinal>;
    list.C_GetAttributeValue = guard<mockGetAttributeValue>;
    list.C_SignInit = guard<mockOperationInit<Operation::Sign>>;
    list.C_Sign = guard<mockOperation<Operation::Sign>>;
    list.C_DecryptInit = guard<mockOperationInit<Operation::Decrypt>>;
    list.C_Decrypt = guard<mockOperation<Operation::Decrypt>>;
}

}  // namespace p11mock
