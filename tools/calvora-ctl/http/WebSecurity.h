#pragma once
// What a web configuration asks of the server, ready for it: its TLS (WebTlsCredentials.h:
// checked with GnuTLS on Linux, refused on Windows) and the password check of its users.
#include <optional>
#include <string>

#include "HttpServer.h"
#include "WebConfig.h"

namespace calvora::ctl {

// On a mistake returns nothing and sets error to "CONFIG:LINE: what is wrong", the line being
// that of the key naming the file at fault.
std::optional<HttpSecurity> MakeHttpSecurity(const WebConfig& config, const std::string& configPath,
                                             std::string& error);

// ReadWebConfig, then MakeHttpSecurity.
std::optional<HttpSecurity> LoadHttpSecurity(const std::string& configPath, std::string& error);

}  // namespace calvora::ctl
