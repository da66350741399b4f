// The object part of the test module (keys, certificates, search, attributes, sign and decrypt),
// defined in objects.cpp. The core hands it the script lines it does not know and fills these
// entries of the function list with the functions below.
#pragma once

#include "mock_state.h"

namespace p11mock {

// Script lines whose command is "key", "cert" or "object". Returns an empty text when the line
// is taken, otherwise why it is refused (the script then fails to load).
std::string objectsScriptLine(const ScriptLine& line);
// Forget every object and search; called before a script is read and at C_Finalize.
void objectsReset();
// A session ends (C_CloseSession, C_CloseAllSessions, C_Finalize): drop its search and operations.
void objectsSessionClosed(CK_SESSION_HANDLE session);

CK_RV mockFindObjectsInit(CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR templ, CK_ULONG count);
CK_RV mockFindObjects(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE_PTR objects, CK_ULONG maxCount,
                      CK_ULONG_PTR count);
CK_RV mockFindObjectsFinal(CK_SESSION_HANDLE session);
CK_RV mockGetAttributeValue(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                            CK_ATTRIBUTE_PTR templ, CK_ULONG count);
// C_SignInit and C_Sign, C_DecryptInit and C_Decrypt.
enum class Operation { None, Sign, Decrypt };
template <Operation kind>
CK_RV mockOperationInit(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism,
                        CK_OBJECT_HANDLE key);
template <Operation kind>
CK_RV mockOperation(CK_SESSION_HANDLE session, CK_BYTE_PTR in, CK_ULONG inLength, CK_BYTE_PTR out,
                    CK_ULONG_PTR outLength);

}  // namespace p11mock
