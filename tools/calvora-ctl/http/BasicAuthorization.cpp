#include "BasicAuthorization.h"

#include <algorithm>

#include "Base64.h"

namespace calvora::ctl {

namespace {

constexpr std::string_view kToken68 =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~+/";

bool SameLetters(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return lower(x) == lower(y);
  });
}

bool HoldsControl(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
  });
}

}  // namespace

std::optional<BasicCredentials> ParseBasicAuthorization(std::string_view header) {
  const std::size_t space = header.find(' ');
  if (space == header.npos || !SameLetters(header.substr(0, space), "basic"))
    return std::nullopt;
  std::string_view token = header.substr(space);
  token.remove_prefix(std::min(token.find_first_not_of(' '), token.size()));
  while (!token.empty() && token.back() == ' ')
    token.remove_suffix(1);
  // token68: its letters, then the padding only at its end.
  const std::size_t padding = std::min(token.find('='), token.size());
  if (padding == 0 || token.substr(0, padding).find_first_not_of(kToken68) != token.npos ||
      token.substr(padding).find_first_not_of('=') != token.npos)
    return std::nullopt;
  const auto decoded = DecodeBase64(token);
  if (!decoded)
    return std::nullopt;
  const std::size_t colon = decoded->find(':');
  if (colon == std::string::npos)
    return std::nullopt;
  BasicCredentials credentials{decoded->substr(0, colon), decoded->substr(colon + 1)};
  if (HoldsControl(credentials.user) || HoldsControl(credentials.password))
    return std::nullopt;
  return credentials;
}

}  // namespace calvora::ctl
