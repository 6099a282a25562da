#pragma once
// The users of basic authentication with their bcrypt hashes, and the check of a user's
// password. A check runs libcrypt's bcrypt over the password with the user's stored hash as the
// setting and compares the result with the hash in constant time. An unknown user costs a
// bcrypt against a known user's hash, so the time of an answer does not tell which users
// exist. Passwords that passed are remembered by a keyed digest, so a scrape every few seconds
// costs one bcrypt in all rather than one each time; wrong passwords always cost the bcrypt.
// A cost above 12 is refused: each check of it would take half a second or more of a core.
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "KeyedDigest.h"

namespace calvora::ctl {

class PasswordCheck {
 public:
  static constexpr int kMaxCost = 12;

  // Why `hash` is not a bcrypt hash this check takes ($2a$, $2b$ or $2y$, a cost from 04 to
  // 12, 53 characters of salt and hash, as `htpasswd -nbB` writes it), or "" when it is.
  static std::string HashProblem(const std::string& hash);

  // User names and their hashes, each of which HashProblem takes.
  explicit PasswordCheck(std::map<std::string, std::string> hashes);
  PasswordCheck(const PasswordCheck&) = delete;
  PasswordCheck& operator=(const PasswordCheck&) = delete;

  // Whether `password` is the user's. Safe from any thread.
  bool operator()(const std::string& user, const std::string& password) const;
  // Whether this user and password passed before: quick, no bcrypt. Safe from any thread.
  bool Remembered(const std::string& user, const std::string& password) const;

 private:
  static constexpr std::size_t kRemembered = 64;  // passes remembered before starting afresh

  std::optional<KeyedDigest::Digest> DigestOf(const std::string& user,
                                              const std::string& password) const;

  std::map<std::string, std::string> hashes_;
  KeyedDigest digest_;  // a key of this run's own: the digests mean nothing outside
  mutable std::mutex mutex_;
  mutable std::set<KeyedDigest::Digest> passed_;
};

}  // namespace calvora::ctl
