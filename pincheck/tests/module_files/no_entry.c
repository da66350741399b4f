/* A library that is no PKCS#11 module (no C_GetFunctionList); also the dependency that
   needs_absent.c's library cannot find. */
int card_test_no_entry(void) {
    return 0;
}
