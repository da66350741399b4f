#include <sys/prctl.h>
#include <sys/resource.h>

#include <cstring>

#include "process_guard.h"

namespace cardplatform {

void keepMemoryPrivate() {
    // Cannot fail for the value 0; should it anyway, the check still runs: refusing it would
    // leave the user without an answer for a protection the user cannot do anything about.
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    // A system set to dump non-dumpable processes all the same (fs.suid_dumpable = 2) still
    // writes no core file of this one.
    const rlimit noCore = {0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
}

void keepLibrarySearchToInstalledFolders() {}

void eraseArgument(char* argument) {
    // The kernel reads /proc/<pid>/cmdline from these very bytes; the NUL that ends the argument
    // stays, so the list keeps its shape. explicit_bzero: the compiler may not drop the writes
    // although the bytes are not read again.
    if (argument != nullptr) explicit_bzero(argument, std::strlen(argument));
}

}  // namespace cardplatform
