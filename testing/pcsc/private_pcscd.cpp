#include "private_pcscd.h"

#include <PCSC/winscard.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace pcsctest {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char kDriver[] = "/usr/lib/pcsc/drivers/serial/libifdvpcd.so";

// Without a user namespace (refused on some hosts), a plain mount namespace works as root.
// Without /run/pcscd (no system pcscd installed or running), a private tmpfs over /run gives
// the daemon a folder to have its socket bound onto; it exists only inside the namespace.
const char kLaunch[] =
    "set -e\n"
    "if [ ! -d /run/pcscd ]; then mount -t tmpfs -o mode=755 pcsctest /run; mkdir /run/pcscd; fi\n"
    "mount --bind \"$1/run\" /run/pcscd\n"
    "exec pcscd -f -c \"$1/readers.d\"\n";

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

bool userNamespaceWorks() {
    static const bool works = std::system("unshare -Urm true >/dev/null 2>&1") == 0;
    return works;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
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
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("cannot make a temporary folder");
    dir_ = buf.data();
    fs::create_directories(dir_ + "/run");
    fs::create_directories(dir_ + "/readers.d");
    socket_ = dir_ + "/run/pcscd.comm";

    std::string why;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (startOnce(why)) return;
        stop();
        fs::create_directories(dir_);
        fs::create_directories(dir_ + "/run");
        fs::create_directories(dir_ + "/readers.d");
    }
    throw std::runtime_error("private pcscd did not come up: " + why);
}

PrivatePcscd::~PrivatePcscd() {
    stop();
}

bool PrivatePcscd::startOnce(std::string& why) {
    port_ = nextPortPair();
    {
        std::ofstream conf(dir_ + "/readers.d/vpcd");
        char port[16];
        std::snprintf(port, sizeof port, "0x%04X", port_);
        conf << "FRIENDLYNAME \"" << name_ << "\"\n"
             << "DEVICENAME /dev/null:" << port << "\n"
             << "LIBPATH " << kDriver << "\n"
             << "CHANNELID " << port << "\n";
    }
    std::string log = dir_ + "/pcscd.log";
    const char* unshareFlags = userNamespaceWorks() ? "-Urm" : "-m";
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        // Own process group, so stop() reaches everything it starts; and the daemon dies with
        // the test process even when that one is killed without running destructors.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        FILE* out = std::freopen(log.c_str(), "w", stdout);
        if (out) dup2(fileno(stdout), STDERR_FILENO);
        execlp("unshare", "unshare", unshareFlags, "sh", "-c", kLaunch, "pcsctest", dir_.c_str(),
               static_cast<char*>(nullptr));
        _exit(127);
    }
    setpgid(pid_, pid_);

    auto deadline = Clock::now() + std::chrono::seconds(15);
    while (Clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            why = "daemon exited; log:\n" + readFile(log);
            return false;
        }
        if (fs::exists(socket_) && portListening(port_) && portListening(port_ + 1)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!portListening(port_)) {
        why = "reader port " + std::to_string(port_) + " not listening; log:\n" + readFile(log);
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
    std::string reader = readerName(readerIndex);
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        SCARD_READERSTATE state{};
        state.szReader = reader.c_str();
        state.dwCurrentState = SCARD_STATE_UNAWARE;
        LONG rc = SCardGetStatusChange(ctx, 0, &state, 1);
        if (rc == SCARD_S_SUCCESS) {
            bool has = (state.dwEventState & SCARD_STATE_PRESENT) != 0;
            if (has == present) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

void PrivatePcscd::stop() {
    if (pid_ > 0) {
        kill(-pid_, SIGTERM);
        int status = 0;
        auto deadline = Clock::now() + std::chrono::seconds(5);
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (Clock::now() >= deadline) {
                kill(-pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
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
