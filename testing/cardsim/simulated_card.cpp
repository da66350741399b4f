#include "simulated_card.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace cardsim {
namespace {

constexpr std::uint8_t kPowerOff = 0;
constexpr std::uint8_t kPowerOn = 1;
constexpr std::uint8_t kReset = 2;
constexpr std::uint8_t kGetAtr = 4;

bool readFull(int fd, std::uint8_t* p, std::size_t n) {
    while (n > 0) {
        // Quick ACKs are not sticky: without them the reader's two-part writes stall on
        // delayed ACKs, about 40 ms per message.
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
        ssize_t got = recv(fd, p, n, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

bool sendMessage(int fd, const Bytes& payload) {
    if (payload.size() > 0xFFFF) return false;
    Bytes frame = {static_cast<std::uint8_t>(payload.size() >> 8),
                   static_cast<std::uint8_t>(payload.size() & 0xFF)};
    frame.insert(frame.end(), payload.begin(), payload.end());
    std::size_t off = 0;
    while (off < frame.size()) {
        ssize_t sent = send(fd, frame.data() + off, frame.size() - off, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        off += static_cast<std::size_t>(sent);
    }
    return true;
}

int connectOnce(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    return fd;
}

}  // namespace

SimulatedCard::SimulatedCard(const CardProfile& profile, int port, const std::string& logFile)
    : card_(makeCard(profile)), port_(port), answerDelayMs_(profile.answerDelayMs) {
    if (!logFile.empty()) {
        log_.open(logFile, std::ios::app);
        if (!log_) throw std::runtime_error("cannot write log " + logFile);
    }
    card_->setNoteSink([this](const std::string& text) { logLine("# " + text); });
}

SimulatedCard::~SimulatedCard() {
    remove();
}

bool SimulatedCard::insert(int timeoutMs) {
    remove();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int fd = -1;
    while ((fd = connectOnce(port_)) < 0) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        fd_ = fd;
        card_->powerCycle();
    }
    connected_ = true;
    thread_ = std::thread(&SimulatedCard::serve, this, fd);
    return true;
}

void SimulatedCard::remove() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (fd_ >= 0) shutdown(fd_, SHUT_RDWR);
    }
    if (thread_.joinable()) thread_.join();
}

void SimulatedCard::serve(int fd) {
    for (bool open = true; open;) {
        std::uint8_t head[2];
        if (!readFull(fd, head, 2)) break;
        Bytes payload(static_cast<std::size_t>(head[0] << 8 | head[1]));
        if (!readFull(fd, payload.data(), payload.size())) break;
        std::unique_lock<std::mutex> lock(mutex_);
        if (payload.size() == 1) {
            if (payload[0] == kGetAtr) {
                Bytes atr = card_->atr();
                lock.unlock();
                open = sendMessage(fd, atr);
            } else if (payload[0] == kPowerOff || payload[0] == kPowerOn || payload[0] == kReset) {
                card_->powerCycle();
            }
            // Other control codes get no answer, as from any card.
            continue;
        }
        commands_.push_back(payload);
        logLine(toHex(payload));
        std::optional<Bytes> response = card_->transmit(payload);
        if (!response) {
            logLine("# card pulled");
            break;
        }
        // vpcd cannot carry an answer of no bytes: an empty frame leaves it and pcscd waiting
        // for ever. Closing the connection is the nearest thing it can pass on: pcscd then
        // hands the waiting transmit an empty answer, and the card is gone.
        if (response->empty()) {
            logLine("# empty answer: card pulled instead");
            break;
        }
        lock.unlock();
        if (answerDelayMs_ > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(answerDelayMs_));
        open = sendMessage(fd, *response);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    connected_ = false;
    close(fd);
    fd_ = -1;
}

void SimulatedCard::logLine(const std::string& line) {
    if (log_.is_open()) log_ << line << '\n' << std::flush;
}

std::vector<Bytes> SimulatedCard::commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

std::vector<Bytes> SimulatedCard::pinBlocks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return card_->pinBlocks();
}

int SimulatedCard::triesLeft() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return card_->triesLeft();
}

Card::Counters SimulatedCard::counters() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return card_->counters();
}

void SimulatedCard::setCounters(const Card::Counters& counters) {
    std::lock_guard<std::mutex> lock(mutex_);
    card_->setCounters(counters);
}

}  // namespace cardsim
