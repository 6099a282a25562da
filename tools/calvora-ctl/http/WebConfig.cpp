#include "WebConfig.h"

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <utility>

#include "PasswordCheck.h"
#include "system/Utf8Path.h"

namespace calvora::ctl {

namespace {

// client_auth_type's values, named as Go's crypto/tls names its policies.
constexpr std::array<std::pair<const char*, ClientCertificates>, 5> kClientAuthTypes{{
    {"NoClientCert", ClientCertificates::None},
    {"RequestClientCert", ClientCertificates::Request},
    {"RequireAnyClientCert", ClientCertificates::RequireAny},
    {"VerifyClientCertIfGiven", ClientCertificates::VerifyIfGiven},
    {"RequireAndVerifyClientCert", ClientCertificates::RequireAndVerify},
}};

// Keys the exporters' format has that this server does not take: refused by name, so that the
// message does not call them unknown.
constexpr std::array<const char*, 10> kKeysNotTaken{"http_server_config",
                                                    "cert",
                                                    "key",
                                                    "client_ca",
                                                    "client_allowed_sans",
                                                    "cipher_suites",
                                                    "curve_preferences",
                                                    "min_version",
                                                    "max_version",
                                                    "prefer_server_cipher_suites"};

// A mistake found in the configuration, with the line it is on (from 1).
struct Mistake {
  int line;
  std::string what;
};

int LineOf(const YAML::Node& node) {
  return node.Mark().line + 1;
}

bool NotTaken(const std::string& key) {
  return std::find(kKeysNotTaken.begin(), kKeysNotTaken.end(), key) != kKeysNotTaken.end();
}

// A key this server does not take, in the section `where`: refused, saying what is taken.
Mistake KeyMistake(const YAML::Node& key, const std::string& where, const std::string& taken) {
  const std::string name = key.Scalar();
  const std::string opening = NotTaken(name) ? "\"" + name + "\" is not supported by calvora-ctl"
                                             : "unknown key \"" + name + "\"";
  return {LineOf(key), opening + where + " (it takes " + taken + ")"};
}

// The text of a scalar value; null is "". Anything else is a mistake.
std::string TextOf(const YAML::Node& key, const YAML::Node& value, const std::string& needs) {
  if (value.IsNull())
    return "";
  if (!value.IsScalar())
    throw Mistake{LineOf(value), key.Scalar() + " needs " + needs};
  return value.Scalar();
}

// The pairs of a mapping, refusing a key given twice; null is an empty mapping.
std::vector<std::pair<YAML::Node, YAML::Node>> PairsOf(const YAML::Node& node,
                                                       const std::string& what) {
  std::vector<std::pair<YAML::Node, YAML::Node>> pairs;
  if (node.IsNull())
    return pairs;
  if (!node.IsMap())
    throw Mistake{LineOf(node), what + " needs a mapping of keys and values"};
  for (const auto& pair : node) {
    if (!pair.first.IsScalar())
      throw Mistake{LineOf(pair.first), what + " needs names as its keys"};
    for (const auto& earlier : pairs)
      if (earlier.first.Scalar() == pair.first.Scalar())
        throw Mistake{LineOf(pair.first), "\"" + pair.first.Scalar() + "\" is given twice in " +
                                              what + " (first on line " +
                                              std::to_string(LineOf(earlier.first)) + ")"};
    pairs.emplace_back(pair.first, pair.second);
  }
  return pairs;
}

// A file's path as given (UTF-8), relative to the configuration's folder unless absolute. A
// name that is no UTF-8 (a file saved in a code page) names no file on Windows: a mistake.
std::string Resolve(const YAML::Node& key, const std::string& file,
                    const std::filesystem::path& folder) {
  if (file.empty())
    return file;
  try {
    const std::filesystem::path given = PathFromUtf8(file);
    return given.is_absolute() ? file : Utf8FromPath(folder / given);
  } catch (const std::filesystem::filesystem_error&) {
    throw Mistake{LineOf(key), key.Scalar() + " needs a file name in UTF-8"};
  }
}

void ReadTls(const YAML::Node& section, int sectionLine, const std::filesystem::path& folder,
             WebConfig& config) {
  std::string authType;
  int authLine = sectionLine;
  for (const auto& [key, value] : PairsOf(section, "tls_server_config")) {
    const std::string name = key.Scalar();
    WebConfig::File* file = name == "cert_file"        ? &config.cert
                            : name == "key_file"       ? &config.key
                            : name == "client_ca_file" ? &config.clientCa
                                                       : nullptr;
    if (file) {
      *file = {Resolve(key, TextOf(key, value, "a file name"), folder), LineOf(key)};
    } else if (name == "client_auth_type") {
      authType = TextOf(key, value, "a policy's name");
      authLine = LineOf(key);
    } else {
      throw KeyMistake(key, " in tls_server_config",
                       "cert_file, key_file, client_auth_type and client_ca_file");
    }
  }
  if (!authType.empty()) {
    const auto policy =
        std::find_if(kClientAuthTypes.begin(), kClientAuthTypes.end(),
                     [&authType](const auto& type) { return authType == type.first; });
    if (policy == kClientAuthTypes.end())
      throw Mistake{authLine, "client_auth_type \"" + authType +
                                  "\" is none of NoClientCert, RequestClientCert, "
                                  "RequireAnyClientCert, VerifyClientCertIfGiven, "
                                  "RequireAndVerifyClientCert"};
    config.clientCertificates = policy->second;
  }
  const bool anyGiven = !config.cert.path.empty() || !config.key.path.empty() ||
                        !config.clientCa.path.empty() || !authType.empty();
  if (!anyGiven)
    return;  // an empty tls_server_config: plain HTTP
  if (config.cert.path.empty())
    throw Mistake{sectionLine, "tls_server_config needs cert_file"};
  if (config.key.path.empty())
    throw Mistake{sectionLine, "tls_server_config needs key_file"};
  const bool verifies = config.clientCertificates == ClientCertificates::VerifyIfGiven ||
                        config.clientCertificates == ClientCertificates::RequireAndVerify;
  if (verifies && config.clientCa.path.empty())
    throw Mistake{authLine, "client_auth_type " + authType +
                                " needs client_ca_file, the CA that the clients' "
                                "certificates are verified against"};
  // A CA under a policy that verifies nothing would be taken and never used: the operator
  // would believe the clients are checked against it.
  if (!config.clientCa.path.empty() && !verifies)
    throw Mistake{config.clientCa.line,
                  "client_ca_file is given but client_auth_type " +
                      (authType.empty() ? std::string("NoClientCert") : authType) +
                      " verifies no client certificate against it (take "
                      "VerifyClientCertIfGiven or RequireAndVerifyClientCert)"};
}

void ReadUsers(const YAML::Node& section, WebConfig& config) {
  for (const auto& [key, value] : PairsOf(section, "basic_auth_users")) {
    const std::string user = key.Scalar();
    if (user.find(':') != std::string::npos)
      throw Mistake{LineOf(key), "the user name \"" + user +
                                     "\" holds a \":\", which basic authentication cannot send"};
    const std::string hash = TextOf(key, value, "a bcrypt hash");
    const std::string problem = PasswordCheck::HashProblem(hash);
    if (!problem.empty())
      throw Mistake{LineOf(value.IsNull() ? key : value),
                    "the password of \"" + user + "\" is " + problem};
    config.users.emplace(user, hash);
  }
}

}  // namespace

std::optional<WebConfig> ParseWebConfig(const std::string& text, const std::string& path,
                                        std::string& error) {
  try {
    const std::filesystem::path folder = PathFromUtf8(path).parent_path();
    const YAML::Node root = YAML::Load(text);
    WebConfig config;
    if (!root.IsNull() && !root.IsMap())
      throw Mistake{LineOf(root),
                    "the file needs a mapping of tls_server_config and "
                    "basic_auth_users"};
    for (const auto& [key, value] : PairsOf(root, "the file")) {
      const std::string name = key.Scalar();
      if (name == "tls_server_config") {
        ReadTls(value, LineOf(key), folder, config);
      } else if (name == "basic_auth_users") {
        ReadUsers(value, config);
      } else {
        throw KeyMistake(key, "", "tls_server_config and basic_auth_users");
      }
    }
    return config;
  } catch (const YAML::Exception& bad) {
    error = path + ":" + std::to_string(bad.mark.line + 1) + ": not YAML: " + bad.msg;
  } catch (const Mistake& mistake) {
    error = path + ":" + std::to_string(mistake.line) + ": " + mistake.what;
  } catch (const std::filesystem::filesystem_error&) {
    error = path + ": not a file name in UTF-8";
  }
  return std::nullopt;
}

std::optional<std::string> ReadFileText(const std::string& path, std::string& why) {
  std::filesystem::path where;
  try {
    where = PathFromUtf8(path);
  } catch (const std::filesystem::filesystem_error&) {
    why = "not a file name in UTF-8";
    return std::nullopt;
  }
  // Opened by the path, which is wide on Windows: a narrow name would be read in the ANSI code
  // page there.
  std::ifstream file(where, std::ios::binary);
  if (!file) {
    why = std::strerror(errno);
    return std::nullopt;
  }
  std::error_code ignored;
  if (std::filesystem::is_directory(where, ignored)) {
    why = "a folder";
    return std::nullopt;
  }
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) {
    why = "a read failed";
    return std::nullopt;
  }
  return text.str();
}

std::optional<WebConfig> ReadWebConfig(const std::string& path, std::string& error) {
  std::string why;
  const auto text = ReadFileText(path, why);
  if (!text) {
    error = path + ": cannot be read (" + why + ")";
    return std::nullopt;
  }
  return ParseWebConfig(*text, path, error);
}

}  // namespace calvora::ctl
