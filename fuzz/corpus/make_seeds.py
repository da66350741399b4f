#!/usr/bin/env python3
"""Writes the checked-in seed inputs of the fuzz targets (corpus/<target>/seed-*).

Each seed is a well-formed run of its target: a full read of each card kind, a PIN check that
passes and ones that fail, requests of every shape the checks rank. The fuzzer mutates from
there. Crash inputs found later are kept beside the seeds as crash-* files and are not written
here. Needs the openssl command (a certificate and the key-block encipherment).
"""
import os
import struct
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "seed-" + name), "wb") as f:
        f.write(data)


def u16(v):
    return struct.pack(">H", v)


# ---- card answers (fake_pcsc.cpp) -------------------------------------------------------
OK = b"\xF2"                      # 90 00


def filled(value):                # Le bytes of one value, then 90 00
    return b"\xF3" + bytes([value])


def answer(data, sw=b"\x90\x00"):  # a literal answer
    data += sw
    return bytes([len(data)]) + data if len(data) < 0xF0 else b"\xF0" + u16(len(data)) + data


def index(entries):
    body = b"IDX-HEADER:"         # 11 bytes the library never searches
    for key, mask in entries:
        body += key.encode() + b"=" + bytes([mask]) + b";"
    return body.ljust(140, b"\0")


def head(flags, kind, pin=b"1234", key=b"ABCD", capacity=0):
    return bytes([flags, len(pin)]) + pin + key + bytes([capacity, kind])


def records(mask, record):        # the answers for each record the mask selects
    return b"".join(record(bit) for bit in range(6) if mask & (1 << bit))


def main_card(pin=b"1234", key=b"ABCD", mask=0x01, flags=1, capacity=0):
    idx = answer(index([("ZZZZ", 0x3F), (key.decode(), mask)]))
    size_query = OK * 3 + idx
    read = (OK * 3 + idx + OK * 3 + OK                        # selects, index, PIN DF, VERIFY
            + OK * 3 + filled(0x11) + OK                      # DF 0910, challenge, authenticate
            + records(mask, lambda bit: OK + filled(0x41 + bit) * 5))
    return head(flags, 0, pin, key, capacity) + size_query + read


def fci(size):
    return answer(b"\x62\x04\x80\x02" + u16(size))


def starcos_card(pin=b"1234", key=b"ABCD", mask=0x05, sizes=None, flags=1):
    sizes = sizes or {}

    def record(bit):
        size = sizes.get(bit, 1000)
        if size <= 252:
            return fci(size) + answer(bytes([0x51 + bit]) * size)
        return fci(size) + filled(0x51 + bit) * -(-size // 252)

    index_read = fci(140) + answer(index([(key.decode(), mask)]))
    read = OK + index_read + OK + OK + records(mask, record)
    return head(flags, 1, pin, key) + OK + index_read + read


def cardread_seeds():
    t = "cardread_card_fuzzer"
    write(t, "main-one-record", main_card())
    write(t, "main-three-records-chosen-reader", main_card(mask=0x2A, flags=0))
    write(t, "main-card-pulled-before-last-answer", main_card()[:-2])
    write(t, "main-size-query-only", main_card(flags=3))
    write(t, "main-key-not-found", main_card(key=b"QQQQ"))
    write(t, "starcos-two-records", starcos_card(sizes={2: 300}))
    write(t, "starcos-short-file", starcos_card(mask=0x01, sizes={0: 40}))
    write(t, "unknown-atr", head(1, 2) + b"\x05\x3B\x00\x11\x22\x33")
    write(t, "service-faults", head(5, 0) + b"\x00\xF1" + OK)


# ---- PKCS#11 answers (fake_pkcs11.cpp) ----------------------------------------------------
R_OK = b"\x00"


def rv(index):                     # one of the module's failure codes, by table position
    return bytes([0xC0 + index])


PIN_INCORRECT, PIN_LEN_RANGE, PIN_LOCKED = rv(3), rv(4), rv(5)


def slot_info(present=True, text=b"Fuzz Reader"):
    info = text.ljust(64, b" ") + b"Maker".ljust(32, b" ")
    info += struct.pack("<Q", 1 if present else 0) + b"\x01\x00\x01\x00" + b"\0" * 4
    return info


def session_info(device_error):
    return struct.pack("<QQQQ", 1, 1, 4, device_error)


def bind():
    return R_OK + b"\x00" + R_OK   # C_GetFunctionList (answer, list), C_Initialize


def slots(ids):
    n = bytes([len(ids)])
    return n + R_OK + n + bytes(ids) + R_OK


def pin_check(login=R_OK, device_error=0x9000, slot_ids=(1,), present=(True,)):
    out = bind() + slots(list(slot_ids))
    for p in present:
        out += slot_info(p) + R_OK
        if p:
            break
    out += b"\x07" + R_OK + login + session_info(device_error) + R_OK
    if login == R_OK:
        out += R_OK + R_OK         # C_Logout, C_CloseSession
    return out + R_OK              # C_Finalize


def pincheck_seeds():
    t = "pincheck_request_fuzzer"
    req = b'{"CA_Function":"VerifyPin","sPin":"1234","slotID":"0"}\0'
    write(t, "accepted", req + pin_check())
    write(t, "wrong-pin-two-left", req + pin_check(PIN_INCORRECT, 0x63C2))
    write(t, "pin-length", req + pin_check(PIN_LEN_RANGE))
    write(t, "scan-second-slot", b'{"CA_Function":"a\\\\b","sPin":"0000","slotID":" -1"}\0'
          + pin_check(slot_ids=(3, 4), present=(False, True)))
    write(t, "no-closing-brace", b'{"CA_Function":"x","sPin":"1234","slotID":"2"\0' + pin_check())
    write(t, "escapes-and-controls", b'{"CA_Function":"q\x01\tz\x7f\xa4\xa4","sPin":"1"}\0'
          + bind() + b"\x00" + R_OK)
    write(t, "no-module", b'{}\0' + rv(1) + b"\x00")


def cert_der():                    # a self-signed certificate of a fresh EC key
    return subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                           "ec_paramgen_curve:P-256", "-nodes", "-keyout", os.devnull, "-subj",
                           "/CN=fuzz seed", "-days", "1", "-outform", "DER"],
                          check=True, capture_output=True).stdout


def attribute(value):              # one C_GetAttributeValue template entry and the answer
    length = bytes([len(value)]) if len(value) < 0xE0 else b"\xE4" + u16(len(value))
    return length + value + R_OK


def token_seeds():
    t = "token_layer_fuzzer"
    api = b"\x00" + b"\x00" + bind()  # the API road, then InitLibrary
    login = b"\x07\x01" + b"1234\0" + b"\x01" + b"\x05" + R_OK + R_OK + session_info(0) + R_OK
    texts = (b"\x01\x28" + b"Fuzz Library".ljust(88, b" ") + R_OK
             + b"\x03\x01\x40" + slot_info() + R_OK
             + b"\x05\x01\x20" + b"Label".ljust(208, b" ") + R_OK
             + b"\x02\x0A" + slots([1, 2]) + b"\x04\x02" + slot_info(False) + R_OK)
    write(t, "texts-and-slots", api + texts + b"\x0F" + R_OK)
    listing = (b"\x09" + R_OK + b"\x01\x09" + R_OK + b"\x00" + R_OK + R_OK
               + b"\x0B\x00\x20" + R_OK + b"\x01\x09" + R_OK
               + attribute(b"key label") + attribute(b"\x01\x02") + b"\x00" + R_OK + R_OK)
    write(t, "login-and-keys", api + login + listing + b"\x08" + R_OK + R_OK)
    der = cert_der()
    cert = (b"\x0D\x02\x01\x02" + R_OK + b"\x01\x0C" + R_OK + attribute(der)
            + attribute(b"cert") + R_OK)
    write(t, "certificate", api + login + cert)
    modulus = b"\xC5" + b"\x37" * 127
    key = (b"\x0E\x02\x01\x02" + R_OK + b"\x01\x0D" + R_OK + attribute(b"label") + R_OK
           + attribute(modulus) + attribute(b"\x01\x00\x01")
           + b"\x00" * 36 + b"\x00" + R_OK + b"\xE4" + u16(128) + b"\x5A" * 128 + R_OK)
    write(t, "token-key-sign", api + login + key)
    write(t, "pin-check-session", b"\x01" + b"1234\0" + b"\xFF" + pin_check())
    write(t, "pin-check-locked", b"\x01" + b"9999\0" + b"\x00" + pin_check(PIN_LOCKED))


def carddata_seeds():
    t = "carddata_request_fuzzer"
    data = bytes(range(256)) * 4
    ok = b"\x00\x01" + b"\x00" + data[:1000]
    write(t, "read-one-record", b'{"UserPIN":"1234","SNO":"ABCD"}\0' + ok)
    write(t, "reader-and-comments",
          b'/* c */ {"ReaderSlot":"Sim Reader 00 00", // x\n"UserPIN":"1234","SNO":"AB\\u0043D"}\0'
          + ok)
    write(t, "library-error", b'{"UserPIN":"1234","SNO":"ABCD","ReaderSlot":5}\0' + b"\x8D")
    write(t, "odd-size", b'{"UserPIN":"12","SNO":"X"}\0' + b"\x00\x07\x00\x2E\x00" + data[:46])
    write(t, "null-document", b"null\0")
    write(t, "array-document", b'[1,2]\0')
    write(t, "pin-too-long", b'{"UserPIN":"' + b"9" * 50 + b'","SNO":"ABCD"}\0')
    write(t, "sno-missing", b'{"UserPIN":"1234"}\0')


def cipher_seeds():
    t = "card_cipher_fuzzer"
    kdk = bytes.fromhex("544553544B444B31544553544B444B32")
    block_a = bytes.fromhex("E3A941ED18D62149D9751A3701E13843E265122A54428154")
    block_b = bytes.fromhex("3342AF1A072853DAD9751A3701E13843E265122A54428154")
    for name, case, rest in [
            ("unpad-key-block", 0, bytes([24]) + block_a),
            ("setup-keys", 1, bytes([24]) + block_a + bytes([24]) + block_b),
            ("unwrap", 2, b"\x8C" + bytes([34]) + bytes(range(34))),
            ("round-trip", 3, b"R" * 8 + bytes([10]) + b"1234" + b"\xff" * 6 + b"\x00"),
            ("round-trip-tampered", 3, b"R" * 8 + bytes([3]) + b"abc" + b"\x05"),
            ("wrap-verify", 4, bytes([80, 15]) + b"\x8C\x20\x00\x01\x0A" + b"1234" + b"\xff" * 6)]:
        write(t, name, bytes([case]) + kdk + rest)


if __name__ == "__main__":
    cardread_seeds()
    pincheck_seeds()
    token_seeds()
    carddata_seeds()
    cipher_seeds()
