// A build without TLS (Windows, where GnuTLS is not built): the server never speaks TLS, so a
// client certificate is never asked for, and a mode that needs one refuses every client.
#include "HttpClientCertificate.h"

namespace calvora::ctl {

std::string ClientCertificateRefusal(void*, ClientCertificates mode) {
  if (mode == ClientCertificates::None || mode == ClientCertificates::Request)
    return "";
  return "client certificates need TLS, which this build lacks\n";
}

}  // namespace calvora::ctl
