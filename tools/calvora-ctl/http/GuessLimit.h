#pragma once
// How many wrong passwords one client address may try: after `failures` wrong ones (those
// being checked count too, so that many connections at once gain nothing) within `window`,
// the address is refused without a check until the window that began with its first failure
// has passed. A right password clears the address's count. Addresses are kept in a bounded
// table; past its size the address whose window began longest ago is forgotten.
#include <chrono>
#include <cstddef>
#include <map>
#include <string>

namespace calvora::ctl {

class GuessLimit {
 public:
  using Clock = std::chrono::steady_clock;

  GuessLimit(std::size_t failures, std::chrono::seconds window, std::size_t addresses = 4096);

  // Whole seconds until the address may try again; 0 when it may now.
  long RetryAfter(const std::string& address, Clock::time_point now);
  // A check of the address's password begins; it ends with Failed or Passed.
  void Began(const std::string& address, Clock::time_point now);
  void Failed(const std::string& address, Clock::time_point now);
  void Passed(const std::string& address);
  // A check that began ended without a verdict (the server stopped).
  void Abandoned(const std::string& address);

 private:
  struct Tries {
    std::size_t failed = 0;
    std::size_t checking = 0;
    Clock::time_point windowStart;
  };

  // The address's entry, with a window that ran out started afresh.
  Tries& Entry(const std::string& address, Clock::time_point now);
  void Forget(const std::string& address);

  const std::size_t failures_;
  const std::chrono::seconds window_;
  const std::size_t addresses_;
  std::map<std::string, Tries> tries_;
};

}  // namespace calvora::ctl
