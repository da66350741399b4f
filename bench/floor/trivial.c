/* The start-up reference: a process that does nothing. */
int main(void) {
    return 0;
}
