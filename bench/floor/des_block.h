/* One-block two-key triple DES (E K1, D K2, E K1): all the cryptography the card-read floor
 * needs, for the cryptogram of the card authentication. */
#pragma once

void tripleDesEncrypt(unsigned char block[8], const unsigned char key[16]);
