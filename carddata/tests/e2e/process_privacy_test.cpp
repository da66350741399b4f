// What other processes can learn of the PIN while carddata waits on the card or the PC/SC
// service: the request is gone from the command line, and a process of the same user can
// neither read the program's /proc files nor attach to it as a debugger.
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "carddata_run.h"
#include "memory_scan.h"
#include "process_probe.h"
#include "temp_dir.h"

namespace carddatatest {
namespace {

class CarddataPrivacy : public CarddataRun {};

// A run with the card's PIN and one with a wrong PIN, and the replies they must get.
struct PinCase {
    const char* name;
    std::string pin;
    std::string msg;
    long long code;
};

std::vector<PinCase> rightAndWrongPin(const CardProfile& profile, const std::string& wrong) {
    return {{"PIN accepted", std::string(profile.pin.begin(), profile.pin.end()),
             base64(dataSelectedBy(profile, 0x03)), 0},
            {"PIN wrong", wrong, "", 0x63C2}};
}

TEST_F(CarddataPrivacy, RequestIsGoneFromTheCommandLineWhileTheCardAnswers) {
    CardProfile profile = patternCard(CardKind::Main, {{"ABCD", 0x03}});
    profile.pin = {'7', '3', '5', '1'};
    // Each answer takes a while, as on a real card: the look below falls inside a card call.
    profile.answerDelayMs = 30;
    for (const PinCase& c : rightAndWrongPin(profile, "0000")) {
        SCOPED_TRACE(c.name);
        pcsctest::CardInReader card(pcscd(), profile);
        const std::string text = request(c.pin, "ABCD");
        std::string seen;
        pcsctest::RunOptions options;
        options.whileRunning = [&](pid_t pid) {
            if (pcsctest::waitUntil([&] { return !card->commands().empty(); }))
                seen = pcsctest::commandLineOf(pid);
        };
        expectReply(pcsctest::runProgram(CARDDATA_PATH, {text},
                                         {"PCSCLITE_CSOCK_NAME=" + pcscd().socketPath()}, options),
                    c.msg, c.code);
        // The program's name, then the request's place all NULs: not one byte of it to read.
        EXPECT_EQ(seen, std::string(CARDDATA_PATH) + '\0' + std::string(text.size() + 1, '\0'));
    }
}

// At the process's last moment, after its own destructors, no copy of the PIN is left anywhere
// in its writable memory (the card simulator, another process, keeps its own).
TEST_F(CarddataPrivacy, NoCopyOfThePinIsLeftInMemoryAtExit) {
    if (!testsupport::MemoryScan::available()) GTEST_SKIP() << "no memory scan in this build";
    CardProfile profile = patternCard(CardKind::Main, {{"ABCD", 0x03}});
    profile.pin = {'7', '3', '5', '1', '9', '2', '6', '4'};
    for (const PinCase& c : rightAndWrongPin(profile, "73519265")) {
        SCOPED_TRACE(c.name);
        pcsctest::CardInReader card(pcscd(), profile);
        const testsupport::MemoryScan scan(c.pin);
        std::vector<std::string> env = scan.environment();
        env.push_back("PCSCLITE_CSOCK_NAME=" + pcscd().socketPath());
        expectReply(pcsctest::runProgram(CARDDATA_PATH, {request(c.pin, "ABCD")}, env), c.msg,
                    c.code);
        EXPECT_EQ(scan.report(), "hits 0\n");
    }
}

// A PC/SC service that takes the connection and never answers: the program waits in its first
// PC/SC call until the test hangs up.
class SilentService {
  public:
    explicit SilentService(const std::string& path) {
        listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        if (listener_ < 0 ||
            bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            chmod(path.c_str(), 0777) != 0 || listen(listener_, 4) != 0)
            throw std::runtime_error("cannot listen on " + path);
    }
    ~SilentService() {
        hangUp();
        close(listener_);
    }
    SilentService(const SilentService&) = delete;
    SilentService& operator=(const SilentService&) = delete;

    // Takes the program's connection; false if none comes within ten seconds.
    bool takeCall() {
        pollfd fd = {listener_, POLLIN, 0};
        if (poll(&fd, 1, 10000) != 1) return false;
        client_ = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        return client_ >= 0;
    }
    void hangUp() {
        if (client_ >= 0) close(client_);
        client_ = -1;
    }

  private:
    int listener_ = -1;
    int client_ = -1;
};

TEST(CarddataPrivacyAsUser, SameUserCannotAttachWhileItWaits) {
    uid_t uid = 0;
    gid_t gid = 0;
    if (geteuid() != 0) GTEST_SKIP() << "running the program as an ordinary user needs root";
    if (!pcsctest::nobodyUser(uid, gid)) GTEST_SKIP() << "no user nobody to run the program as";

    // Copies the other user can read and run, since the build tree may be closed to them.
    testsupport::TempDir dir;
    const std::string program = pcsctest::copyForAnyUser(CARDDATA_PATH, dir.path(), "carddata");
    pcsctest::copyForAnyUser(CARDREAD_PATH, dir.path(), "libcardread.so");
    SilentService service(dir.file("pcscd.comm"));

    const pcsctest::CoreFilesAllowed coreFiles;
    pcsctest::OutsideView view;
    auto lookWhileItWaits = [&](pid_t pid) {
        if (!service.takeCall()) return;
        view = pcsctest::lookAs(uid, gid, pid);
        service.hangUp();
    };
    pcsctest::RunOptions asNobody;
    asNobody.whileRunning = lookWhileItWaits;
    asNobody.uid = uid;
    asNobody.gid = gid;
    const auto r = pcsctest::runProgram(
        program, {request("1234", "ABCD")},
        {"LD_LIBRARY_PATH=" + dir.path(), "PCSCLITE_CSOCK_NAME=" + dir.file("pcscd.comm")},
        asNobody);
    EXPECT_TRUE(view.running);
    EXPECT_EQ(view.filesOwner, 0u);
    EXPECT_EQ(view.attachError, EPERM);
    EXPECT_TRUE(view.coreFilesRefused);
    // The service's failure comes back as a PC/SC code; the run ends normally.
    EXPECT_EQ(r.out.rfind("{\"msg\":\"\",\"ret_code\":-", 0), 0u) << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitStatus, 0);
}

}  // namespace
}  // namespace carddatatest
