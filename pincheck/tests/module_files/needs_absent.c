/* A module whose one dependency lies where the loader does not look. */
int card_test_no_entry(void);
int card_test_needs_absent(void) {
    return card_test_no_entry();
}
