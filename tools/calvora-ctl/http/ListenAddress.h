#pragma once
// The address that --listen names: where the metrics are served.
#include <optional>
#include <string>

namespace calvora::ctl {

struct ListenAddress {
  std::string host;  // as given; "[::1]" loses its brackets
  int port = 0;      // 0: any free port
};

// "HOST:PORT", "[IPv6]:PORT" or ":PORT" (loopback); nothing, with error set, otherwise.
std::optional<ListenAddress> ParseListenAddress(const std::string& text, std::string& error);

}  // namespace calvora::ctl
