#include "GuessLimit.h"

#include <algorithm>

namespace calvora::ctl {

GuessLimit::GuessLimit(std::size_t failures, std::chrono::seconds window, std::size_t addresses)
    : failures_(std::max<std::size_t>(1, failures)),
      window_(window),
      addresses_(std::max<std::size_t>(1, addresses)) {}

GuessLimit::Tries& GuessLimit::Entry(const std::string& address, Clock::time_point now) {
  auto found = tries_.find(address);
  if (found == tries_.end()) {
    if (tries_.size() >= addresses_) {
      // Windows that ran out first, then the oldest window, unless a check of it is under way.
      std::erase_if(tries_, [&](const auto& entry) {
        return entry.second.checking == 0 && now - entry.second.windowStart >= window_;
      });
      if (tries_.size() >= addresses_) {
        auto oldest = tries_.end();
        for (auto it = tries_.begin(); it != tries_.end(); ++it)
          if (it->second.checking == 0 &&
              (oldest == tries_.end() || it->second.windowStart < oldest->second.windowStart))
            oldest = it;
        if (oldest != tries_.end())
          tries_.erase(oldest);
      }
    }
    found = tries_.emplace(address, Tries{0, 0, now}).first;
  }
  Tries& tries = found->second;
  if (tries.failed > 0 && now - tries.windowStart >= window_)
    tries.failed = 0;
  if (tries.failed == 0)
    tries.windowStart = now;
  return tries;
}

void GuessLimit::Forget(const std::string& address) {
  const auto found = tries_.find(address);
  if (found != tries_.end() && found->second.failed == 0 && found->second.checking == 0)
    tries_.erase(found);
}

long GuessLimit::RetryAfter(const std::string& address, Clock::time_point now) {
  const auto found = tries_.find(address);
  if (found == tries_.end())
    return 0;
  const Tries& tries = Entry(address, now);
  if (tries.failed + tries.checking < failures_)
    return 0;
  if (tries.failed == 0)
    return 1;  // every try is being checked: the answer is due within a second or so
  const auto left = tries.windowStart + window_ - now;
  return std::max<long>(1,
                        static_cast<long>(std::chrono::ceil<std::chrono::seconds>(left).count()));
}

void GuessLimit::Began(const std::string& address, Clock::time_point now) {
  ++Entry(address, now).checking;
}

void GuessLimit::Failed(const std::string& address, Clock::time_point now) {
  Tries& tries = Entry(address, now);
  if (tries.checking > 0)
    --tries.checking;
  ++tries.failed;
}

void GuessLimit::Passed(const std::string& address) {
  const auto found = tries_.find(address);
  if (found == tries_.end())
    return;
  if (found->second.checking > 0)
    --found->second.checking;
  found->second.failed = 0;
  Forget(address);
}

void GuessLimit::Abandoned(const std::string& address) {
  const auto found = tries_.find(address);
  if (found != tries_.end() && found->second.checking > 0)
    --found->second.checking;
  Forget(address);
}

}  // namespace calvora::ctl
