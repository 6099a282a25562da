// Base64 decoded by Windows' CryptoAPI (crypt32.dll).
#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>

#include "Base64.h"

namespace calvora::ctl {

std::optional<std::string> DecodeBase64(std::string_view text) {
  if (text.empty())
    return std::string();
  const auto length = static_cast<DWORD>(text.size());
  DWORD size = 0;
  if (!CryptStringToBinaryA(text.data(), length, CRYPT_STRING_BASE64, nullptr, &size, nullptr,
                            nullptr))
    return std::nullopt;
  std::string bytes(size, '\0');
  if (!CryptStringToBinaryA(text.data(), length, CRYPT_STRING_BASE64,
                            reinterpret_cast<BYTE*>(bytes.data()), &size, nullptr, nullptr))
    return std::nullopt;
  bytes.resize(size);
  return bytes;
}

}  // namespace calvora::ctl
