#include "ListenAddress.h"

#include <charconv>

namespace calvora::ctl {

std::optional<ListenAddress> ParseListenAddress(const std::string& text, std::string& error) {
  const std::size_t colon = text.rfind(':');
  ListenAddress address;
  if (colon != std::string::npos) {
    address.host = text.substr(0, colon);
    const std::string port = text.substr(colon + 1);
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), address.port);
    if (ec == std::errc() && end == port.data() + port.size() && !port.empty() &&
        address.port >= 0 && address.port <= 65535) {
      if (address.host.empty())
        address.host = "127.0.0.1";
      if (address.host.size() >= 2 && address.host.front() == '[' && address.host.back() == ']')
        address.host = address.host.substr(1, address.host.size() - 2);
      if (!address.host.empty() && address.host.find_first_of("[]") == std::string::npos)
        return address;
    }
  }
  error = "--listen needs HOST:PORT (for example 127.0.0.1:9794), not \"" + text + "\"";
  return std::nullopt;
}

}  // namespace calvora::ctl
