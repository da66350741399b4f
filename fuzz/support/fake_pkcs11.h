// A PKCS#11 module in the fuzzer's own process whose every answer comes from the fuzz input:
// return codes, slot and object counts, reported lengths, structure contents and attribute
// values. It keeps the one promise a caller cannot check (it never writes more than the buffer
// size it was given) and breaks every other: counts above the caller's capacity, lengths beyond
// the buffer, the "unavailable" length word, vendor return codes.
//
// The token layer reaches it through its platform loader (fake_loader.cpp), which hands out this
// module for any name, so the layer's binding code runs unchanged.
#pragma once

#include <p11-kit/pkcs11.h>

#include "byte_source.h"

namespace fuzzsupport {

// Starts a run: the module answers from `source` until the next call of this function.
void fakeModuleReset(ByteSource* source);

// True while the layer holds the module initialised: C_Initialize answered OK or "already
// initialised", and no C_Finalize answered OK or "not initialised" since.
bool fakeModuleInitialized();

// Open search (C_FindObjectsInit without C_FindObjectsFinal) count, for the leak oracle.
int fakeModuleOpenSearches();

CK_RV fakeGetFunctionList(CK_FUNCTION_LIST_PTR_PTR list);

}  // namespace fuzzsupport
