/* The least a card-data read can do: send a recorded command sequence to a card through
 * PC/SC and nothing else. The only command that cannot be replayed as recorded is the card
 * authentication, whose cryptogram answers a fresh challenge; it is computed here from the
 * challenge just received.
 *
 *   apdufloor READER APDUFILE AUTHKEY [--per-call | --one-per-call]
 *
 * APDUFILE: one command in hex per line; a line "--" marks where the library's second call
 * (the read after the size query) begins. AUTHKEY: the 16-byte authentication key in hex.
 * Default: one context, one connection, all commands. --per-call: the connection pattern of
 * the card reader library, per call a recognition connection (transaction, status) and a
 * session connection (transaction, status, the call's commands). --one-per-call: per call
 * one connection (transaction, status, the call's commands), as if the library kept its
 * recognition connection for the session.
 *
 * Exit status 0 when every command was answered 90 00, 1 otherwise.
 */
#include <PCSC/winscard.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "des_block.h"

enum { kMaxCommands = 128, kMaxCommand = 261, kReceiveSize = 512, kMaxLine = 1024 };

struct Command {
    unsigned char bytes[kMaxCommand];
    DWORD length;
    int startsCall; /* first command of the library's second call */
};

static int hexValue(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

/* Hex digits (blanks allowed between bytes) into out; returns the byte count or -1. */
static long parseHex(const char* text, unsigned char* out, size_t capacity) {
    size_t n = 0;
    for (const char* p = text; *p;) {
        if (*p == ' ' || *p == '\n' || *p == '\r') {
            ++p;
            continue;
        }
        int hi = hexValue(p[0]), lo = p[1] ? hexValue(p[1]) : -1;
        if (hi < 0 || lo < 0 || n == capacity) return -1;
        out[n++] = (unsigned char)(hi << 4 | lo);
        p += 2;
    }
    return (long)n;
}

static int loadCommands(const char* path, struct Command* commands) {
    FILE* f = fopen(path, "r");
    if (!f) return -1;
    char line[kMaxLine];
    int count = 0, nextStartsCall = 0;
    while (fgets(line, sizeof line, f)) {
        if (strncmp(line, "--", 2) == 0) {
            nextStartsCall = 1;
            continue;
        }
        if (line[0] == '#' || line[0] == '\n') continue;
        if (count == kMaxCommands) break;
        long n = parseHex(line, commands[count].bytes, sizeof commands[count].bytes);
        if (n < 5) {
            count = -1;
            break;
        }
        commands[count].length = (DWORD)n;
        commands[count].startsCall = nextStartsCall;
        nextStartsCall = 0;
        ++count;
    }
    fclose(f);
    return count;
}

static int fail(const char* what, LONG rv) {
    fprintf(stderr, "apdufloor: %s: 0x%lx\n", what, (unsigned long)rv);
    return 1;
}

struct Link {
    SCARDCONTEXT context;
    SCARDHANDLE card;
};

static LONG openLink(const char* reader, struct Link* link, int withStatus) {
    DWORD protocol = 0;
    LONG rv = SCardEstablishContext(SCARD_SCOPE_SYSTEM, NULL, NULL, &link->context);
    if (rv != SCARD_S_SUCCESS) return rv;
    rv = SCardConnect(link->context, reader, SCARD_SHARE_SHARED,
                      SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &link->card, &protocol);
    if (rv != SCARD_S_SUCCESS) return rv;
    if (withStatus) {
        if ((rv = SCardBeginTransaction(link->card)) != SCARD_S_SUCCESS) return rv;
        char name[256];
        DWORD nameLength = sizeof name, state = 0, atrLength = MAX_ATR_SIZE;
        unsigned char atr[MAX_ATR_SIZE];
        rv = SCardStatus(link->card, name, &nameLength, &state, &protocol, atr, &atrLength);
    }
    return rv;
}

static void closeLink(struct Link* link, int withTransaction) {
    if (withTransaction) SCardEndTransaction(link->card, SCARD_LEAVE_CARD);
    SCardDisconnect(link->card, SCARD_LEAVE_CARD);
    SCardReleaseContext(link->context);
}

/* The connection of one library call: with --per-call a recognition connection before it. */
static int openCall(const char* reader, struct Link* link, int recognise, int withStatus) {
    LONG rv;
    if (recognise) {
        if ((rv = openLink(reader, link, 1)) != SCARD_S_SUCCESS) return fail("recognition", rv);
        closeLink(link, 1);
    }
    if ((rv = openLink(reader, link, withStatus)) != SCARD_S_SUCCESS) return fail("connect", rv);
    return 0;
}

int main(int argc, char** argv) {
    const char* mode = argc == 5 ? argv[4] : "";
    const int recognise = strcmp(mode, "--per-call") == 0; /* a recognition connection per call */
    const int perCall = recognise || strcmp(mode, "--one-per-call") == 0; /* transaction, status */
    if (argc < 4 || argc > 5 || (argc == 5 && !perCall)) {
        fprintf(stderr, "usage: apdufloor READER APDUFILE AUTHKEY [--per-call | --one-per-call]\n");
        return 2;
    }
    const char* reader = argv[1];
    unsigned char authKey[16];
    if (parseHex(argv[3], authKey, sizeof authKey) != 16) return fail("AUTHKEY is not 16 bytes", 0);
    static struct Command commands[kMaxCommands];
    int count = loadCommands(argv[2], commands);
    if (count <= 0) return fail("no commands in APDUFILE", 0);

    struct Link link;
    if (openCall(reader, &link, recognise, perCall)) return 1;

    unsigned char challenge[8] = {0};
    for (int i = 0; i < count; ++i) {
        struct Command* c = &commands[i];
        if (perCall && c->startsCall) {
            closeLink(&link, 1);
            if (openCall(reader, &link, recognise, 1)) return 1;
        }
        /* EXTERNAL AUTHENTICATE: the cryptogram of the challenge the card just gave. */
        if (c->bytes[1] == 0x82 && c->length == 13) {
            memcpy(c->bytes + 5, challenge, 8);
            tripleDesEncrypt(c->bytes + 5, authKey);
        }
        unsigned char response[kReceiveSize];
        DWORD received = sizeof response;
        SCARD_IO_REQUEST receivePci = *SCARD_PCI_T1;
        LONG rv = SCardTransmit(link.card, SCARD_PCI_T1, c->bytes, c->length, &receivePci, response,
                                &received);
        if (rv != SCARD_S_SUCCESS) return fail("SCardTransmit", rv);
        if (received < 2 || response[received - 2] != 0x90 || response[received - 1] != 0x00) {
            fprintf(stderr, "apdufloor: command %d not answered 90 00\n", i + 1);
            return 1;
        }
        if (c->bytes[1] == 0x84 && received == 10) memcpy(challenge, response, 8);
    }
    closeLink(&link, perCall);
    return 0;
}
