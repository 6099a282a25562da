#pragma once
// Base64 (RFC 4648, with padding) decoded by the system's crypto library: GnuTLS on Linux,
// CryptoAPI (crypt32.dll) on Windows.
#include <optional>
#include <string>
#include <string_view>

namespace calvora::ctl {

// The bytes `text` encodes, NUL bytes included; nothing when it is not base64.
std::optional<std::string> DecodeBase64(std::string_view text);

}  // namespace calvora::ctl
