#pragma once
// HMAC-SHA256 under a key drawn at random when the KeyedDigest is made, from the system's crypto
// library (GnuTLS on Linux, CNG on Windows): digests that can be kept and compared in place of
// secrets, and that mean nothing outside this run.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace calvora::ctl {

class KeyedDigest {
 public:
  using Digest = std::array<uint8_t, 32>;

  KeyedDigest();
  // Nothing when the system could not give the key or the digest; the caller then keeps none.
  std::optional<Digest> operator()(std::string_view text) const;

 private:
  std::array<uint8_t, 32> key_{};
  bool keyed_ = false;
};

}  // namespace calvora::ctl
