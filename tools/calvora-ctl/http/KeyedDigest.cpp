// The keyed digest with GnuTLS's random numbers and HMAC.
#include "KeyedDigest.h"

#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>

namespace calvora::ctl {

KeyedDigest::KeyedDigest() : keyed_(gnutls_rnd(GNUTLS_RND_RANDOM, key_.data(), key_.size()) == 0) {}

std::optional<KeyedDigest::Digest> KeyedDigest::operator()(std::string_view text) const {
  Digest digest{};
  if (!keyed_ || gnutls_hmac_fast(GNUTLS_MAC_SHA256, key_.data(), key_.size(), text.data(),
                                  text.size(), digest.data()) != 0)
    return std::nullopt;
  return digest;
}

}  // namespace calvora::ctl
