#include "entry.h"

int main(int argc, char** argv) { return pincheck::runPinCheck(argc, argv); }
