// A build without TLS (Windows, where GnuTLS is not built): a configuration that asks for TLS is
// refused at start, so that no one believes the server encrypts what it sends in the clear.
#include "WebTlsCredentials.h"

namespace calvora::ctl {

bool AddTlsCredentials(const WebConfig& config, const std::string& configPath, HttpSecurity&,
                       std::string& error) {
  error = configPath + ":" + std::to_string(config.cert.line) +
          ": tls_server_config asks for TLS, which calvora-ctl does not speak on Windows: put a "
          "TLS proxy in front of the server (basic_auth_users alone is taken)";
  return false;
}

}  // namespace calvora::ctl
