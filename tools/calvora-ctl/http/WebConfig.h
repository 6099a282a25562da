#pragma once
// The web configuration of calvora-ctl's server (--web-config FILE), in the format the
// Prometheus exporters read theirs:
//
//   tls_server_config:
//     cert_file: studio-a.crt        # relative files are found beside the configuration
//     key_file: studio-a.key
//     client_auth_type: RequireAndVerifyClientCert   # or NoClientCert (the default),
//     client_ca_file: monitoring-ca.crt              # RequestClientCert, RequireAnyClientCert,
//                                                    # VerifyClientCertIfGiven
//   basic_auth_users:
//     prometheus: $2y$10$...         # bcrypt, as `htpasswd -nbBC 10 USER PASSWORD` writes it
//
// Without tls_server_config (or with an empty one) the server speaks plain HTTP; without
// basic_auth_users it asks for no password. A key the format has but this server does not
// take (min_version, cipher_suites, http_server_config ...) is refused rather than ignored,
// so that no one believes a setting holds that does not.
#include <map>
#include <optional>
#include <string>

#include "HttpServer.h"

namespace calvora::ctl {

struct WebConfig {
  // A file the configuration names: its path (resolved against the configuration's folder)
  // and the line of its key, for the messages about it.
  struct File {
    std::string path;
    int line = 0;
  };
  File cert, key, clientCa;  // no path: not given
  ClientCertificates clientCertificates = ClientCertificates::None;
  std::map<std::string, std::string> users;  // name and bcrypt hash

  bool Tls() const { return !cert.path.empty(); }
};

// The whole text of the file at `path`; or nothing, with `why` saying why not ("a folder", or
// the system's reason).
std::optional<std::string> ReadFileText(const std::string& path, std::string& why);

// Reads and checks the configuration at `path`. On a mistake returns nothing and sets error to
// "PATH:LINE: what is wrong".
std::optional<WebConfig> ReadWebConfig(const std::string& path, std::string& error);

// The same for `text`, the content of the file at `path`.
std::optional<WebConfig> ParseWebConfig(const std::string& text, const std::string& path,
                                        std::string& error);

}  // namespace calvora::ctl
