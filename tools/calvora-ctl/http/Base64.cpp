// Base64 decoded by GnuTLS.
#include "Base64.h"

#include <gnutls/gnutls.h>

namespace calvora::ctl {

std::optional<std::string> DecodeBase64(std::string_view text) {
  if (text.empty())
    return std::string();
  const gnutls_datum_t encoded{reinterpret_cast<unsigned char*>(const_cast<char*>(text.data())),
                               static_cast<unsigned int>(text.size())};
  gnutls_datum_t decoded{nullptr, 0};
  if (gnutls_base64_decode2(&encoded, &decoded) < 0)
    return std::nullopt;
  std::string bytes(reinterpret_cast<const char*>(decoded.data), decoded.size);
  gnutls_free(decoded.data);
  return bytes;
}

}  // namespace calvora::ctl
