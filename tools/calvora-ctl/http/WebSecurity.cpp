#include "WebSecurity.h"

#include <memory>

#include "PasswordCheck.h"
#include "WebTlsCredentials.h"

namespace calvora::ctl {

std::optional<HttpSecurity> MakeHttpSecurity(const WebConfig& config, const std::string& configPath,
                                             std::string& error) {
  HttpSecurity security;
  if (config.Tls() && !AddTlsCredentials(config, configPath, security, error))
    return std::nullopt;
  if (!config.users.empty()) {
    auto check = std::make_shared<const PasswordCheck>(config.users);
    security.checkPassword = [check](const std::string& user, const std::string& password) {
      return (*check)(user, password);
    };
    security.passedBefore = [check](const std::string& user, const std::string& password) {
      return check->Remembered(user, password);
    };
  }
  return security;
}

std::optional<HttpSecurity> LoadHttpSecurity(const std::string& configPath, std::string& error) {
  const auto config = ReadWebConfig(configPath, error);
  if (!config)
    return std::nullopt;
  return MakeHttpSecurity(*config, configPath, error);
}

}  // namespace calvora::ctl
