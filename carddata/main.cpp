// carddata: reads the card holder data named in a JSON request and prints one reply line.
#include <cstdio>
#include <string>

#include "card_data_command.h"
#include "cardread/read_user_data.h"
#include "common/secret.h"
#include "common/version.h"
#include "process_guard.h"

int main(int argc, char** argv) {
    // Before the request is read: no core file and no debugger of the same user sees the PIN.
    cardplatform::keepMemoryPrivate();
    // Before anything loads a library: the card module (pincheck) or a system DLL's own loads.
    cardplatform::keepLibrarySearchToInstalledFolders();

    std::string request;
    std::string reply;
    try {
        // Out of the command line before the card is called, which takes seconds on a real
        // card; argv[1] then points at the program's own copy.
        if (argc >= 2 && argv[1] != nullptr) {
            request = argv[1];
            cardplatform::eraseArgument(argv[1]);
            argv[1] = &request[0];
            // Pieces of the request the loader and the startup code left on the stack.
            common::wipeStackBelow();
        }
        reply = carddata::runCardData(argc - 1, argv + 1, &readUserData);
    } catch (...) {
        // Every fault of the request has its reply inside runCardData; only running out of
        // memory ends here, and the service still gets its one line.
        reply = "{\"msg\":\"\",\"ret_code\":1979711500,\"version\":\"" CARD_VERSION_TEXT "\"}\n";
    }
    common::wipeText(request);
    common::wipeStackBelow();
    std::fwrite(reply.data(), 1, reply.size(), stdout);
    std::fflush(stdout);
    return 0;
}
