// carddata: reads the card holder data named in a JSON request and prints one reply line.
#include <cstdio>
#include <string>

#include "card_data_command.h"
#include "cardread/read_user_data.h"
#include "common/version.h"

int main(int argc, char** argv) {
    std::string reply;
    try {
        reply = carddata::runCardData(argc - 1, argv + 1, &readUserData);
    } catch (...) {
        // Only an allocation can fail here; the service still gets its one line.
        reply = "{\"msg\":\"\",\"ret_code\":1979711500,\"version\":\"" CARD_VERSION_TEXT "\"}\n";
    }
    std::fwrite(reply.data(), 1, reply.size(), stdout);
    std::fflush(stdout);
    return 0;
}
