// The keyed digest with Windows' CNG (bcrypt.dll): its system random numbers and its HMAC.
#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include "KeyedDigest.h"

namespace calvora::ctl {

KeyedDigest::KeyedDigest()
    : keyed_(BCRYPT_SUCCESS(BCryptGenRandom(nullptr, key_.data(), static_cast<ULONG>(key_.size()),
                                            BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {}

std::optional<KeyedDigest::Digest> KeyedDigest::operator()(std::string_view text) const {
  // A provider and a hash object for each digest, as the digests come one per request that
  // carries a password: little beside the request itself.
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  Digest digest{};
  bool done =
      keyed_ && BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM,
                                                           nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG));
  done = done && BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0,
                                                 const_cast<PUCHAR>(key_.data()),
                                                 static_cast<ULONG>(key_.size()), 0));
  done = done && BCRYPT_SUCCESS(
                     BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(text.data())),
                                    static_cast<ULONG>(text.size()), 0));
  done = done && BCRYPT_SUCCESS(
                     BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0));
  if (hash != nullptr)
    BCryptDestroyHash(hash);
  if (algorithm != nullptr)
    BCryptCloseAlgorithmProvider(algorithm, 0);
  if (!done)
    return std::nullopt;
  return digest;
}

}  // namespace calvora::ctl
