// A pcscd of the tests' own, with one vpcd entry (two readers, "<name> 00 00" on the port and
// "<name> 00 01" on the port above), run by pcscd-fixture.sh in the foreground in a mount
// namespace of its own so its socket lands in a temporary folder instead of /run/pcscd. The
// system's daemon, if any, is never touched. Stopping it (also from the destructor, so a failing
// test stops it too) kills the daemon's process group and removes the folder.
#pragma once

#include <sys/types.h>

#include <string>

namespace pcsctest {

class PrivatePcscd {
  public:
    // Starts the daemon and waits until both readers are listed; throws std::runtime_error
    // (with the daemon's log) if it does not come up.
    explicit PrivatePcscd(const std::string& friendlyName = "Sim Reader");
    ~PrivatePcscd();
    PrivatePcscd(const PrivatePcscd&) = delete;
    PrivatePcscd& operator=(const PrivatePcscd&) = delete;

    // One daemon per test process: pcsc-lite's client reads PCSCLITE_CSOCK_NAME once per
    // process, so this process's own PC/SC calls can only ever reach the first daemon. The
    // shared one is started on first use (PCSCLITE_CSOCK_NAME set for this process and its
    // children) and stopped when the process exits.
    static PrivatePcscd& shared();

    int port() const { return port_; }                         // first reader; the second is +1
    std::string readerName(int index = 0) const;               // "<name> 00 0<index>"
    const std::string& socketPath() const { return socket_; }  // PCSCLITE_CSOCK_NAME value
    const std::string& folder() const { return dir_; }

    // Waits until the reader shows a card (present) or none; false after `timeoutMs`. Needs
    // this process to talk to this daemon (the shared one).
    bool waitForCard(int readerIndex, bool present, int timeoutMs = 10000) const;

    void stop();

  private:
    bool startOnce(std::string& why);

    std::string name_;
    std::string dir_;
    std::string socket_;
    int port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace pcsctest
