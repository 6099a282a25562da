#pragma once
// The user and password of an Authorization header of the Basic scheme (RFC 7617).
#include <optional>
#include <string>
#include <string_view>

namespace calvora::ctl {

struct BasicCredentials {
  std::string user;
  std::string password;
};

// The scheme's name is taken in any case ("Basic", "basic", "BASIC"), followed by spaces and
// the base64 of "user:password"; the user ends at the first ":". Nothing when the header is of
// another scheme or not well formed, or when the user or password holds a control character
// (a NUL among them): such a password is refused whole rather than cut where a C string ends.
std::optional<BasicCredentials> ParseBasicAuthorization(std::string_view header);

}  // namespace calvora::ctl
