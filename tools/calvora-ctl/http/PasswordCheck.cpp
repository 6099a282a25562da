#include "PasswordCheck.h"

#include <crypt.h>

#include <memory>
#include <string_view>

namespace calvora::ctl {

namespace {

constexpr std::string_view kBcryptAlphabet =
    "./ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// Whether a and b hold the same bytes, in a time that depends on their lengths only.
bool SameBytes(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  volatile unsigned char difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i)
    difference = difference | static_cast<unsigned char>(a[i] ^ b[i]);
  return difference == 0;
}

// bcrypt of `password` with the salt and cost of `hash`; whether it gives `hash`.
bool MatchesHash(const std::string& password, const std::string& hash) {
  auto data = std::make_unique<crypt_data>();  // zeroed, as crypt_rn asks
  const char* result =
      crypt_rn(password.c_str(), hash.c_str(), data.get(), static_cast<int>(sizeof *data));
  return result != nullptr && SameBytes(result, hash);
}

}  // namespace

std::string PasswordCheck::HashProblem(const std::string& hash) {
  const std::string_view text(hash);
  const bool variant =
      text.starts_with("$2a$") || text.starts_with("$2b$") || text.starts_with("$2y$");
  if (!variant)
    return "not a bcrypt hash: it must begin with $2a$, $2b$ or $2y$";
  const bool costWritten = text.size() > 7 && text[4] >= '0' && text[4] <= '9' && text[5] >= '0' &&
                           text[5] <= '9' && text[6] == '$';
  const int cost = costWritten ? (text[4] - '0') * 10 + (text[5] - '0') : 0;
  if (cost < 4 || cost > 31)
    return "not a bcrypt hash: the cost after $2?$ must be two digits from 04 to 31";
  if (text.size() != 60 || text.substr(7).find_first_not_of(kBcryptAlphabet) != text.npos)
    return "not a bcrypt hash: the cost must be followed by 53 characters of ./A-Za-z0-9";
  // Each step doubles the time: at 13 a wrong guess costs the station about half a second of a
  // core, at 31 days.
  if (cost > kMaxCost)
    return "a bcrypt hash of cost " + std::to_string(cost) + ", above the " +
           std::to_string(kMaxCost) +
           " this server takes (each check would hold a core for half a second or more): make it "
           "again with htpasswd -nbBC 10";
  if (crypt_checksalt(hash.c_str()) != CRYPT_SALT_OK)
    return "a bcrypt hash this system's libcrypt does not take";
  return "";
}

PasswordCheck::PasswordCheck(std::map<std::string, std::string> hashes)
    : hashes_(std::move(hashes)) {}

std::optional<KeyedDigest::Digest> PasswordCheck::DigestOf(const std::string& user,
                                                           const std::string& password) const {
  // The user's name, a NUL (which no name holds), then the password.
  std::string text = user;
  text.push_back('\0');
  text += password;
  return digest_(text);
}

bool PasswordCheck::Remembered(const std::string& user, const std::string& password) const {
  // The digest is taken for unknown users too, so that this answer's time does not tell them.
  const auto digest = DigestOf(user, password);
  if (hashes_.count(user) == 0 || password.find('\0') != std::string::npos || !digest)
    return false;
  std::lock_guard lock(mutex_);
  return passed_.count(*digest) > 0;
}

bool PasswordCheck::operator()(const std::string& user, const std::string& password) const {
  if (hashes_.empty())
    return false;
  // crypt reads the password up to its first NUL: a password with one is never the user's,
  // whatever comes before it.
  const bool wellFormed = password.find('\0') == std::string::npos;
  const auto found = hashes_.find(user);
  const bool known = found != hashes_.end();
  const auto digest = DigestOf(user, password);
  {
    std::lock_guard lock(mutex_);
    if (known && wellFormed && digest && passed_.count(*digest) > 0)
      return true;
  }
  const std::string& hash = known ? found->second : hashes_.begin()->second;
  const bool matches = MatchesHash(password, hash);
  if (!(known && wellFormed && matches))
    return false;
  if (!digest)
    return true;  // right, but not remembered: the next check runs bcrypt again
  std::lock_guard lock(mutex_);
  if (passed_.size() >= kRemembered)
    passed_.clear();
  passed_.insert(*digest);
  return true;
}

}  // namespace calvora::ctl
