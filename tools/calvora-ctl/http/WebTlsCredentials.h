#pragma once
// The certificate, key and clients' CA that a web configuration's tls_server_config names, read
// and checked for the server. Where the server speaks TLS (Linux, with GnuTLS) a file that is
// missing, not PEM, or a key that does not belong to the certificate stops serve at start
// rather than at the first client; where it does not (Windows) the section itself is refused.
#include <string>

#include "HttpServer.h"
#include "WebConfig.h"

namespace calvora::ctl {

// Puts the TLS of `config` (which asks for TLS) into `security`. On a mistake returns false and
// sets error to "CONFIG:LINE: what is wrong", the line being that of the key at fault.
bool AddTlsCredentials(const WebConfig& config, const std::string& configPath,
                       HttpSecurity& security, std::string& error);

}  // namespace calvora::ctl
