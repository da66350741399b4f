// The object part of the test module: keys and certificates told by the script, the search over
// them, attribute reads under the standard's length rules, and RSA PKCS#1 v1.5 signing and
// decryption with a real key (OpenSSL), so that what a caller signs through the module verifies
// with OpenSSL.
//
// Script lines (values: hex bytes, or quoted text where noted):
//   key  slot=N [id=HEX] [label="T"] [pem=PATH] [private=yes|no] [id-length=N] [modulus=no]
//   cert slot=N [id=HEX] [label="T"] [der=PATH | value=HEX | value-size=N] [value-length=N]
//   object slot=N class=N [id=HEX] [label="T"] [value=HEX]
// A key without pem= has no private half: its CKA_MODULUS and CKA_PUBLIC_EXPONENT are absent
// and it refuses to sign. Without id= the object has no CKA_ID (the length word reads all ones).
// id-length=N and value-length=N make a misbehaving module: it answers CKR_OK with that length
// word and writes nothing. value-size=N is a value of N bytes 0x30 that is no certificate.
// Keys are private objects (seen only after a login) unless private=no; certificates and other
// objects are public.
#include "objects.h"

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

struct CtxFree {
    void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};

struct MockObject {
    CK_OBJECT_HANDLE handle = 0;
    CK_SLOT_ID slot = 0;
    bool isPrivate = false;
    std::map<CK_ATTRIBUTE_TYPE, std::string> attributes;
    // A length word reported for the attribute instead of its value (a broken module).
    std::map<CK_ATTRIBUTE_TYPE, CK_ULONG> reportedLength;
    std::shared_ptr<EVP_PKEY> key;  // private half, for sign and decrypt
};

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
    std::string pem;
    if (!readFile(path, pem)) return "cannot read " + path;
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
    EVP_PKEY* key = bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr;
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

std::string hexValue(const ScriptLine& line, const char* name, std::string& out) {
    if (!parseHexBytes(line.named.at(name), out)) return std::string("bad hex in ") + name;
    return {};
}

std::string numberValue(const ScriptLine& line, const char* name, CK_ULONG& out) {
    if (!parseNumber(line.named.at(name), out)) return std::string("bad number ") + name;
    return {};
}

std::string yesNo(const ScriptLine& line, const char* name, bool& out) {
    const std::string& v = line.named.at(name);
    if (v != "yes" && v != "no") return std::string(name) + " is yes or no";
    out = v == "yes";
    return {};
}

std::string objectLine(const ScriptLine& line, MockObject& object) {
    static const char* const kKnown[] = {"slot",    "id",         "label",        "pem",
                                         "private", "id-length",  "modulus",      "der",
                                         "value",   "value-size", "value-length", "class"};
    for (const auto& entry : line.named)
        if (std::find(std::begin(kKnown), std::end(kKnown), entry.first) == std::end(kKnown))
            return "unknown setting " + entry.first;
    std::string why;
    if (!line.has("slot")) return line.command + " needs slot=";
    if (!(why = numberValue(line, "slot", object.slot)).empty()) return why;
    if (!findSlot(object.slot)) return "no slot " + line.named.at("slot");

    CK_ULONG objectClass = CKO_DATA;
    if (line.command == "key") objectClass = CKO_PRIVATE_KEY;
    if (line.command == "cert") objectClass = CKO_CERTIFICATE;
    if (line.has("class")) {
        if (line.command != "object") return "class= is for object lines";
        if (!(why = numberValue(line, "class", objectClass)).empty()) return why;
    }
    object.attributes[CKA_CLASS] = ulongBytes(objectClass);
    object.isPrivate = objectClass == CKO_PRIVATE_KEY;
    if (line.has("private") && !(why = yesNo(line, "private", object.isPrivate)).empty())
        return why;

    if (line.has("id")) {
        std::string id;
        if (!(why = hexValue(line, "id", id)).empty()) return why;
        object.attributes[CKA_ID] = id;
    }
    if (line.has("label")) object.attributes[CKA_LABEL] = line.named.at("label");
    if (line.has("id-length") &&
        !(why = numberValue(line, "id-length", object.reportedLength[CKA_ID])).empty())
        return why;

    if (line.has("pem")) {
        if (line.command != "key") return "pem= is for key lines";
        bool withModulus = true;
        if (line.has("modulus") && !(why = yesNo(line, "modulus", withModulus)).empty()) return why;
        if (!(why = loadKey(line.named.at("pem"), object, withModulus)).empty()) return why;
    }

    const int values = line.has("der") + line.has("value") + line.has("value-size");
    if (values > 1) return "one of der=, value=, value-size=";
    std::string value;
    if (line.has("der") && !readFile(line.named.at("der"), value))
        return "cannot read " + line.named.at("der");
    if (line.has("value") && !(why = hexValue(line, "value", value)).empty()) return why;
    if (line.has("value-size")) {
        CK_ULONG n = 0;
        if (!(why = numberValue(line, "value-size", n)).empty()) return why;
        value.assign(n, '\x30');
    }
    if (values) object.attributes[CKA_VALUE] = value;
    if (line.has("value-length") &&
        !(why = numberValue(line, "value-length", object.reportedLength[CKA_VALUE])).empty())
        return why;
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
        auto glitch = object->reportedLength.find(a.type);
        if (glitch != object->reportedLength.end()) {
            a.ulValueLen = glitch->second;
            continue;
        }
        auto it = object->attributes.find(a.type);
        const CK_RV trouble = it == object->attributes.end() ? CKR_ATTRIBUTE_TYPE_INVALID
                              : a.pValue && a.ulValueLen < it->second.size() ? CKR_BUFFER_TOO_SMALL
                                                                             : CKR_OK;
        if (trouble != CKR_OK) {
            a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = trouble;
            continue;
        }
        const std::string& value = it->second;
        if (a.pValue && !value.empty()) std::memcpy(a.pValue, value.data(), value.size());
        a.ulValueLen = value.size();
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
    std::unique_ptr<EVP_PKEY_CTX, CtxFree> ctx(EVP_PKEY_CTX_new(key, nullptr));
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

template CK_RV mockOperationInit<Operation::Sign>(CK_SESSION_HANDLE, CK_MECHANISM_PTR,
                                                  CK_OBJECT_HANDLE);
template CK_RV mockOperationInit<Operation::Decrypt>(CK_SESSION_HANDLE, CK_MECHANISM_PTR,
                                                     CK_OBJECT_HANDLE);
template CK_RV mockOperation<Operation::Sign>(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR,
                                              CK_ULONG_PTR);
template CK_RV mockOperation<Operation::Decrypt>(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG,
                                                 CK_BYTE_PTR, CK_ULONG_PTR);

}  // namespace p11mock
