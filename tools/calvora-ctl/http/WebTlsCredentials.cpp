// The TLS of a web configuration with GnuTLS: the files read, and the certificate with its key
// (and the clients' CA) taken by GnuTLS before the server starts.
#include "WebTlsCredentials.h"

#include <gnutls/gnutls.h>

#include <memory>
#include <type_traits>

namespace calvora::ctl {

namespace {

// The text of a file the configuration names, or nothing with error set.
std::optional<std::string> ReadNamedFile(const WebConfig::File& file, const std::string& key,
                                         const std::string& configPath, std::string& error) {
  std::string why;
  auto text = ReadFileText(file.path, why);
  if (!text)
    error = configPath + ":" + std::to_string(file.line) + ": " + key + " \"" + file.path +
            "\" cannot be read (" + why + ")";
  return text;
}

gnutls_datum_t Datum(const std::string& text) {
  return {reinterpret_cast<unsigned char*>(const_cast<char*>(text.data())),
          static_cast<unsigned int>(text.size())};
}

// Whether GnuTLS takes the certificate with its key, and the CA when there is one; else why
// not, with the line of the key at fault.
bool CheckedByGnuTls(const WebConfig& config, const HttpSecurity& security,
                     const std::string& configPath, std::string& error) {
  gnutls_certificate_credentials_t raw = nullptr;
  if (gnutls_certificate_allocate_credentials(&raw) < 0) {
    error = configPath + ": GnuTLS cannot start";
    return false;
  }
  std::unique_ptr<std::remove_pointer_t<gnutls_certificate_credentials_t>,
                  decltype(&gnutls_certificate_free_credentials)>
      credentials(raw, &gnutls_certificate_free_credentials);
  const gnutls_datum_t cert = Datum(security.certPem), key = Datum(security.keyPem);
  const int pair =
      gnutls_certificate_set_x509_key_mem2(raw, &cert, &key, GNUTLS_X509_FMT_PEM, nullptr, 0);
  if (pair < 0) {
    error = configPath + ":" + std::to_string(config.cert.line) + ": cert_file \"" +
            config.cert.path + "\" with key_file \"" + config.key.path +
            "\" is no certificate and key in PEM that belong together (" + gnutls_strerror(pair) +
            ")";
    return false;
  }
  if (config.clientCa.path.empty())
    return true;
  const gnutls_datum_t ca = Datum(security.clientCaPem);
  const int authorities = gnutls_certificate_set_x509_trust_mem(raw, &ca, GNUTLS_X509_FMT_PEM);
  if (authorities <= 0) {
    error = configPath + ":" + std::to_string(config.clientCa.line) + ": client_ca_file \"" +
            config.clientCa.path + "\" holds no certificate in PEM" +
            (authorities < 0 ? std::string(" (") + gnutls_strerror(authorities) + ")" : "");
    return false;
  }
  return true;
}

}  // namespace

bool AddTlsCredentials(const WebConfig& config, const std::string& configPath,
                       HttpSecurity& security, std::string& error) {
  const auto cert = ReadNamedFile(config.cert, "cert_file", configPath, error);
  const auto key = cert ? ReadNamedFile(config.key, "key_file", configPath, error) : std::nullopt;
  std::optional<std::string> ca = std::string();
  if (key && !config.clientCa.path.empty())
    ca = ReadNamedFile(config.clientCa, "client_ca_file", configPath, error);
  if (!cert || !key || !ca)
    return false;
  security.certPem = *cert;
  security.keyPem = *key;
  security.clientCaPem = *ca;
  security.clientCertificates = config.clientCertificates;
  return CheckedByGnuTls(config, security, configPath, error);
}

}  // namespace calvora::ctl
