#pragma once
// What a web configuration asks of the server, ready for it: the certificate, its key and the
// clients' CA read from their files and checked with GnuTLS (so a file that is missing, not
// PEM, or a key that does not belong to the certificate stops serve at start rather than at
// the first client), and the password check of its users.
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
