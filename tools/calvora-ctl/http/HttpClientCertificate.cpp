#include "HttpClientCertificate.h"

#include <gnutls/gnutls.h>

namespace calvora::ctl {

std::string ClientCertificateRefusal(void* tlsSession, ClientCertificates mode) {
  if (mode == ClientCertificates::None || mode == ClientCertificates::Request)
    return "";
  auto session = static_cast<gnutls_session_t>(tlsSession);
  unsigned int count = 0;
  const bool given = session && gnutls_certificate_get_peers(session, &count) && count > 0;
  if (!given) {
    const bool needed =
        mode == ClientCertificates::RequireAny || mode == ClientCertificates::RequireAndVerify;
    return needed ? "a client certificate is needed\n" : "";
  }
  if (mode == ClientCertificates::RequireAny)
    return "";
  // Against the trusted authorities the server was given, and the certificate's times.
  unsigned int status = 0;
  if (gnutls_certificate_verify_peers2(session, &status) != GNUTLS_E_SUCCESS || status != 0)
    return "the client certificate is not trusted\n";
  return "";
}

}  // namespace calvora::ctl
