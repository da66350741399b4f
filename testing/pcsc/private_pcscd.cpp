#include "private_pcscd.h"

#include <PCSC/winscard.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "process_probe.h"
#include "temp_dir.h"

namespace pcsctest {
namespace {

namespace fs = std::filesystem;

bool portFree(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    bool ok = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

// A TCP port in LISTEN state, from /proc/net/tcp (asking by connecting would insert a card).
bool portListening(int port) {
    std::ifstream in("/proc/net/tcp");
    std::string line;
    std::getline(in, line);
    char want[16];
    std::snprintf(want, sizeof want, ":%04X", port);
    while (std::getline(in, line)) {
        std::istringstream f(line);
        std::string slot, local, remote, state;
        f >> slot >> local >> remote >> state;
        if (state == "0A" && local.size() > 5 && local.substr(local.size() - 5) == want)
            return true;
    }
    return false;
}

// Ports spread by process id so parallel test processes start apart; each try moves on.
int nextPortPair() {
    static int step = 0;
    for (;;) {
        int port = 20000 + static_cast<int>((getpid() * 7 + step * 2) % 20000) * 2;
        ++step;
        if (portFree(port) && portFree(port + 1)) return port;
    }
}

}  // namespace

PrivatePcscd::PrivatePcscd(const std::string& friendlyName) : name_(friendlyName) {
    std::string tmpl = (fs::temp_directory_path() / "pcscd-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("cannot make a temporary folder");
    dir_ = tmpl;
    socket_ = dir_ + "/run/pcscd.comm";
    std::string why;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (startOnce(why)) return;
        stop();
    }
    throw std::runtime_error("private pcscd did not come up: " + why);
}

PrivatePcscd::~PrivatePcscd() {
    stop();
}

bool PrivatePcscd::startOnce(std::string& why) {
    port_ = nextPortPair();
    fs::create_directories(dir_);
    const std::string log = dir_ + "/pcscd.log";
    const std::string port = std::to_string(port_);
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        // Own process group, so stop() reaches everything it starts; and the daemon dies with
        // the test process even when that one is killed without running destructors.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        FILE* out = std::freopen(log.c_str(), "w", stdout);
        if (out) dup2(fileno(stdout), STDERR_FILENO);
        execlp("bash", "bash", PCSCD_FIXTURE_SCRIPT, "run", dir_.c_str(), port.c_str(),
               name_.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    setpgid(pid_, pid_);

    bool exited = false;
    waitUntil(
        [&] {
            exited = waitpid(pid_, nullptr, WNOHANG) == pid_;
            return exited ||
                   (fs::exists(socket_) && portListening(port_) && portListening(port_ + 1));
        },
        15000, 50);
    if (exited) {
        pid_ = -1;
        why = "daemon exited; log:\n" + testsupport::readFile(log);
        return false;
    }
    if (!portListening(port_)) {
        why = "reader port " + port + " not listening; log:\n" + testsupport::readFile(log);
        return false;
    }
    setenv("PCSCLITE_CSOCK_NAME", socket_.c_str(), 1);
    return true;
}

std::string PrivatePcscd::readerName(int index) const {
    return name_ + " 00 0" + std::to_string(index);
}

bool PrivatePcscd::waitForCard(int readerIndex, bool present, int timeoutMs) const {
    SCARDCONTEXT ctx = 0;
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &ctx) != SCARD_S_SUCCESS)
        return false;
    std::unique_ptr<SCARDCONTEXT, void (*)(SCARDCONTEXT*)> release(
        &ctx, [](SCARDCONTEXT* c) { SCardReleaseContext(*c); });
    const std::string reader = readerName(readerIndex);
    return waitUntil(
        [&] {
            SCARD_READERSTATE state{};
            state.szReader = reader.c_str();
            state.dwCurrentState = SCARD_STATE_UNAWARE;
            return SCardGetStatusChange(ctx, 0, &state, 1) == SCARD_S_SUCCESS &&
                   ((state.dwEventState & SCARD_STATE_PRESENT) != 0) == present;
        },
        timeoutMs, 50);
}

void PrivatePcscd::stop() {
    if (pid_ > 0) {
        kill(-pid_, SIGTERM);
        if (!waitUntil([&] { return waitpid(pid_, nullptr, WNOHANG) != 0; }, 5000, 20)) {
            kill(-pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }
    if (!dir_.empty()) {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
}

PrivatePcscd& PrivatePcscd::shared() {
    // Deliberately leaked into a static that an atexit handler stops: gtest may call exit()
    // from anywhere, and the daemon must not outlive the process.
    static PrivatePcscd* daemon = [] {
        auto* d = new PrivatePcscd();
        std::atexit([] { shared().stop(); });
        return d;
    }();
    return *daemon;
}

}  // namespace pcsctest
