/* The card reader library's one export. */
#pragma once

/* The build of the library sets CARDREAD_API to its export attribute. */
#ifndef CARDREAD_API
#define CARDREAD_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Reads the card holder data named by a record key, or answers how much there is.
 *
 * readerName  NUL-terminated PC/SC reader name (at most 255 characters), or NULL to let the
 *             user choose (where there is no dialog: the first reader that holds a card).
 * pin         the PIN bytes, not necessarily NUL-terminated; must not be NULL. At most the
 *             first 10 (main card kind) or 8 (STARCOS kind) are sent.
 * pinLength   number of PIN bytes; must be above 0.
 * recordKey   at least four readable bytes; the first four characters (fewer if a NUL comes
 *             first) are the key looked up in the card's index. Must not be NULL.
 * outBuffer   caller-owned buffer for the data, or NULL for a size query (no PIN is sent).
 * ioLength    caller-owned; on a read, the capacity of outBuffer in bytes on entry. On
 *             success it receives the data size: selected records times 1000 bytes.
 *
 * Returns 0 on success, or:
 *   -1          pin NULL, pinLength not above 0, recordKey or ioLength NULL; the card is
 *               recognised but not of a kind this library reads; a key block is bad
 *   0x80100069  no card recognised (no such reader, no card, unknown ATR)
 *   0x7303      no recognised card to open a session with
 *   0x7401      the data needs more than the capacity in *ioLength, or a card file or
 *               answer is larger than its buffer
 *   0x7402      a card answer shorter than it must be (no status word, short FCI, short data)
 *   0x7412      the record key is not in the card's index
 *   0x6710      authentication key not 16 bytes long
 *   0x20100001  secure-messaging failure
 *   other       PC/SC codes (0x8010xxxx) and card status words (e.g. 0x63C2: wrong PIN,
 *               two tries left; 0x6A82: file not found), unchanged
 * On failure outBuffer may be partly written; *ioLength is written only on success.
 * Calls must not overlap: the library keeps its session and keys process-wide.
 */
CARDREAD_API int readUserData(const char* readerName, const unsigned char* pin, int pinLength,
                              const char* recordKey, unsigned char* outBuffer, int* ioLength);

#ifdef __cplusplus
}
#endif
