// One run of the card data program: checks, the two library calls, the reply line.
#pragma once

#include <string>

namespace carddata {

// The library call, as cardread exports it; a seam for the tests.
using ReadUserDataFn = int (*)(const char* readerName, const unsigned char* pin, int pinLength,
                               const char* recordKey, unsigned char* outBuffer, int* ioLength);

// The reply line for the program's arguments (argv without the program name).
std::string runCardData(int argumentCount, const char* const* arguments, ReadUserDataFn read);

}  // namespace carddata
