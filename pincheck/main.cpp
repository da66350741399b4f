#include <new>
#include <string>

#include "common/secret.h"
#include "entry.h"
#include "process_guard.h"

int main(int argc, char** argv) {
    // Before the request is read: no core file and no debugger of the same user sees the PIN.
    cardplatform::keepMemoryPrivate();
    // Before anything loads a library: the card module (pincheck) or a system DLL's own loads.
    cardplatform::keepLibrarySearchToInstalledFolders();

    // The request is taken out of the command line before anything talks to the module, whose
    // login can take seconds on a real card; argv[1] then points at the program's own copy.
    std::string request;
    int status = 0;
    {
        common::WipeOnExit wipeRequest(request);
        if (argc >= 2 && argv[1] != nullptr) {
            try {
                request = argv[1];
            } catch (const std::bad_alloc&) {
                return pincheck::writeOutOfMemoryReply();
            }
            cardplatform::eraseArgument(argv[1]);
            argv[1] = &request[0];
            // Pieces of the request the loader and the startup code left on the stack.
            common::wipeStackBelow();
        }
        status = pincheck::runPinCheck(argc, argv);
    }
    // And what the run left there, once the request itself is wiped.
    common::wipeStackBelow();
    return status;
}
