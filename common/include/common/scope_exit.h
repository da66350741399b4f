// Runs a clean-up when the scope ends, on every path out of it, unless released first: for the
// one-off resources that have no owner type of their own (a session to close on a failed login,
// a PIN to wipe from a parsed tree).
#pragma once

#include <utility>

namespace common {

template <typename Cleanup>
class ScopeExit {
  public:
    explicit ScopeExit(Cleanup cleanup) : cleanup_(std::move(cleanup)) {}
    ~ScopeExit() {
        if (armed_) cleanup_();
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

    // The resource has found another owner: nothing is done at the end.
    void release() { armed_ = false; }

  private:
    Cleanup cleanup_;
    bool armed_ = true;
};

}  // namespace common
